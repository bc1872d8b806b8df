// The real game engine: Debian's ioquake3 with OpenArena's data, laid out as the engine's own
// release lays out a game directory (the engine and its renderers beside baseoa), with a
// demo the engine recorded. The engine needs a display: a virtual one (Xvfb) is started for
// the whole test program. Nothing else of the environment is set: the program itself sets
// what the engine needs to record its sound.
#pragma once

#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <string>
#include <sys/wait.h>
#include <unistd.h>

#include "support/temp_dir.h"

namespace vexo::test {

inline constexpr const char* kEngineDir = "/usr/lib/ioquake3";
inline constexpr const char* kOpenArenaData = "/usr/lib/openarena/baseoa";

inline bool RealEngineInstalled() {
    return std::filesystem::exists(std::string(kEngineDir) + "/ioquake3") &&
           std::filesystem::exists(std::string(kOpenArenaData) + "/pak0.pk3");
}

// A virtual display for the game, started once and ended with the test program.
class VirtualDisplay {
public:
    static bool Start() {
        static VirtualDisplay display;
        return display.pid_ > 0;
    }

private:
    VirtualDisplay() {
        int fds[2];
        if (::pipe(fds) != 0)
            return;
        pid_ = ::fork();
        if (pid_ == 0) {
            ::close(fds[0]);
            const std::string fd = std::to_string(fds[1]);
            std::freopen("/dev/null", "w", stderr);
            ::execlp("Xvfb", "Xvfb", "-displayfd", fd.c_str(), "-screen", "0", "1024x768x24",
                     "-nolisten", "tcp", static_cast<char*>(nullptr));
            ::_exit(127);
        }
        ::close(fds[1]);
        char number[16] = {};
        const ssize_t n = pid_ > 0 ? ::read(fds[0], number, sizeof number - 1) : -1;
        ::close(fds[0]);
        if (n <= 0) {
            pid_ = -1;
            return;
        }
        std::string display = ":";
        display.append(number, std::strcspn(number, "\n"));
        ::setenv("DISPLAY", display.c_str(), 1);
    }
    ~VirtualDisplay() {
        if (pid_ > 0) {
            ::kill(pid_, SIGTERM);
            ::waitpid(pid_, nullptr, 0);
        }
    }
    pid_t pid_ = -1;
};

// root/"Open Arena": the engine and its renderers copied beside baseoa, whose data files
// link to OpenArena's installed ones, and baseoa/demos/short.dm_71.
inline std::string LayOutOpenArena(const TempDir& root) {
    namespace fs = std::filesystem;
    const std::string base = root / "Open Arena";
    fs::create_directories(base + "/baseoa/demos");
    // The engine under the name its own release gives it.
    for (const auto& entry : fs::directory_iterator(kEngineDir)) {
        const std::string name = entry.path().filename().string();
        if (entry.is_regular_file() && name != "ioq3ded")
            fs::copy_file(entry.path(),
                          base + "/" + (name == "ioquake3" ? "ioquake3.x86_64" : name));
    }
    for (const auto& entry : fs::directory_iterator(kOpenArenaData))
        fs::create_symlink(fs::canonical(entry.path()),
                           base + "/baseoa/" + entry.path().filename().string());
    fs::copy_file(std::string(VEXO_TEST_DATA) + "/openarena/short.dm_71",
                  base + "/baseoa/demos/short.dm_71");
    return base;
}

} // namespace vexo::test
