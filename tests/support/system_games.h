// The games of the system and the user's home, stood in by temporary directories: no
// packaged game, system engine or home installation of the machine reaches a test, and a
// test lays out its own.
#pragma once

#include <cstdlib>
#include <filesystem>
#include <optional>
#include <string>

#include "game/engine.h"
#include "support/temp_dir.h"

namespace vexo::test {

class SystemGames {
public:
    SystemGames() {
        if (const char* h = std::getenv("HOME"))
            savedHome_ = h;
        ::setenv("HOME", home.path().c_str(), 1);
        SetSystemRootForTesting(root.path());
    }
    ~SystemGames() {
        SetSystemRootForTesting("");
        if (savedHome_)
            ::setenv("HOME", savedHome_->c_str(), 1);
        else
            ::unsetenv("HOME");
    }
    SystemGames(const SystemGames&) = delete;
    SystemGames& operator=(const SystemGames&) = delete;

    // The system's engine, where Debian's package puts it: a script that records how it was
    // started. Returns its path.
    std::string InstallEngine() {
        const std::string engine = root / "usr/lib/ioquake3/ioquake3";
        WriteFile(engine, "#!/bin/sh\necho \"$@\" > \"$HOME/engine-args.txt\"\n");
        std::filesystem::permissions(engine, std::filesystem::perms::owner_all);
        return engine;
    }

    TempDir root, home;

private:
    std::optional<std::string> savedHome_;
};

} // namespace vexo::test
