// The system's games and the user's home stood in by temporary directories: no packaged game,
// system engine or home installation of this machine reaches a test, and a test lays out its
// own (an engine at system.root / "usr/lib/ioquake3/ioquake3", a game below system.home).
#pragma once

#include <cstdlib>

#include "game/engine.h"
#include "support/temp_dir.h"

namespace vexo::test {

class SystemGames {
public:
    SystemGames() {
        ::setenv("HOME", home.path().c_str(), 1);
        SetSystemRootForTesting(root.path());
    }
    ~SystemGames() {
        SetSystemRootForTesting("");
        ::setenv("HOME", savedHome_.c_str(), 1);
    }

    TempDir root, home;

private:
    const std::string savedHome_ = std::getenv("HOME") ? std::getenv("HOME") : "/";
};

} // namespace vexo::test
