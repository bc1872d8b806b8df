// Shared pieces of the fault tests: the real main window with its message boxes recorded, a
// game tree with the stand-in game as quake3.exe, and helpers to run a program under a
// file-size limit and to count what FFmpeg finds in an AVI file.
#pragma once

#include <gtest/gtest.h>

#include <QCheckBox>
#include <QListWidget>
#include <QPushButton>
#include <QTest>
#include <csignal>
#include <filesystem>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include "app/main_window.h"
#include "frames/avi_file.h"
#include "platform/fs.h"
#include "support/fake_host.h"
#include "support/game_tree.h"
#include "support/temp_dir.h"
#include "support/tga_file.h"

namespace vexo::faults {

namespace fs = std::filesystem;
using test::TempDir;
using test::WriteFile;

using test::GameTreeTest;
using test::RecordingWindow;

// The number of video packets ffprobe counts in a file; -1 when it finds no video stream.
inline int CountPackets(const std::string& avi) {
    const std::string text =
        test::Capture("ffprobe -v error -select_streams v:0 -count_packets -show_entries "
                      "stream=nb_read_packets -of csv=p=0 '" +
                      avi + "' 2>/dev/null");
    if (text.rfind("N/A", 0) == 0)
        return 0; // the stream is there, without a single packet
    if (text.empty() || !std::isdigit(static_cast<unsigned char>(text[0])))
        return -1;
    return std::stoi(text);
}

// Lowers this process's file-size limit (which its children inherit) while it lives. The
// limit's signal keeps its default action, ending the process, unless the program itself
// ignores it.
class FileSizeLimit {
public:
    explicit FileSizeLimit(rlim_t bytes) {
        oldHandler_ = std::signal(SIGXFSZ, SIG_DFL);
        ::getrlimit(RLIMIT_FSIZE, &old_);
        rlimit lowered = old_;
        lowered.rlim_cur = bytes;
        ::setrlimit(RLIMIT_FSIZE, &lowered);
    }
    ~FileSizeLimit() {
        ::setrlimit(RLIMIT_FSIZE, &old_);
        std::signal(SIGXFSZ, oldHandler_);
    }
    FileSizeLimit(const FileSizeLimit&) = delete;
    FileSizeLimit& operator=(const FileSizeLimit&) = delete;

private:
    rlimit old_{};
    void (*oldHandler_)(int) = SIG_DFL;
};

struct ChildResult {
    int exitCode = -1; // -1: ended by a signal
    std::string err;   // what it wrote to standard error
};

// Runs a program in a child process, with a file-size limit when one is given (its signal
// left to its default action) and further environment entries ("NAME=value"), and returns
// its exit code and standard error.
inline ChildResult RunChild(const std::vector<std::string>& args, rlim_t fileSizeLimit = 0,
                            const std::vector<std::string>& environment = {}) {
    TempDir scratch;
    const std::string errPath = scratch / "stderr";
    const pid_t pid = ::fork();
    if (pid == 0) {
        std::FILE* err = std::freopen(errPath.c_str(), "w", stderr);
        (void)err;
        if (fileSizeLimit) {
            std::signal(SIGXFSZ, SIG_DFL);
            rlimit limit{};
            ::getrlimit(RLIMIT_FSIZE, &limit);
            limit.rlim_cur = fileSizeLimit;
            ::setrlimit(RLIMIT_FSIZE, &limit);
        }
        for (const std::string& entry : environment)
            ::putenv(const_cast<char*>(entry.c_str()));
        std::vector<char*> argv;
        for (const std::string& a : args)
            argv.push_back(const_cast<char*>(a.c_str()));
        argv.push_back(nullptr);
        ::execv(argv[0], argv.data());
        ::_exit(127);
    }
    ChildResult result;
    int status = 0;
    if (pid > 0 && ::waitpid(pid, &status, 0) == pid && WIFEXITED(status))
        result.exitCode = WEXITSTATUS(status);
    result.err = test::ReadFile(errPath);
    return result;
}

} // namespace vexo::faults
