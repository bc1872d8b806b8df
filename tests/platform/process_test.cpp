// Process start from a command line with an unquoted executable path, its working
// directory, priority and inherited files, waiting, exit codes and closing.
#include <gtest/gtest.h>

#include <cerrno>
#include <chrono>
#include <csignal>
#include <cstdlib>
#include <fcntl.h>
#include <filesystem>
#include <string>
#include <sys/resource.h>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>

#include "platform/process.h"
#include "support/temp_dir.h"

namespace vexo::platform {
namespace {

using test::ReadFile;
using test::TempDir;
using test::WriteFile;

// A shell script as an executable file.
void WriteScript(const std::string& path, const std::string& body) {
    WriteFile(path, "#!/bin/sh\n" + body + "\n");
    std::filesystem::permissions(path, std::filesystem::perms::owner_all);
}

TEST(SplitCommandLineTest, UnquotedExecutableWithBlanksIsFoundByItsPrefix) {
    TempDir dir;
    const std::string exe = dir / "Quake III Arena/quake3.exe";
    WriteScript(exe, "exit 0");

    auto parts = SplitCommandLine(exe + " +set fs_game baseq3 +exec vexo_temp");
    ASSERT_TRUE(parts);
    EXPECT_EQ(parts->Executable, exe);
    EXPECT_EQ(parts->Args,
              (std::vector<std::string>{"+set", "fs_game", "baseq3", "+exec", "vexo_temp"}));

    // Doubled separators are passed through; the whole line may be the executable.
    auto doubled = SplitCommandLine(dir.path() + "//Quake III Arena//quake3.exe");
    ASSERT_TRUE(doubled);
    EXPECT_TRUE(doubled->Args.empty());

    // As on Windows, the shortest prefix naming a file wins.
    WriteScript(dir / "Quake", "exit 0");
    auto shorter = SplitCommandLine(exe + " x");
    ASSERT_TRUE(shorter);
    EXPECT_EQ(shorter->Executable, dir / "Quake");
    EXPECT_EQ(shorter->Args, (std::vector<std::string>{"III", "Arena/quake3.exe", "x"}));
}

TEST(SplitCommandLineTest, QuotesGroupBlanksAndMissingFilesGiveNothing) {
    TempDir dir;
    const std::string exe = dir / "a b/prog";
    WriteScript(exe, "exit 0");
    auto parts = SplitCommandLine("  \"" + exe + "\" \"one two\"  three \"\"");
    ASSERT_TRUE(parts);
    EXPECT_EQ(parts->Executable, exe);
    EXPECT_EQ(parts->Args, (std::vector<std::string>{"one two", "three", ""}));

    EXPECT_FALSE(SplitCommandLine(dir / "a b/missing +set fs_game baseq3"));
    EXPECT_FALSE(SplitCommandLine(dir / "a b")); // a directory is no executable
    EXPECT_FALSE(SplitCommandLine("   "));
}

TEST(ProcessTest, RunsInTheWorkingDirectoryWithItsArgumentsAndExitCodes) {
    TempDir dir;
    const std::string base = dir / "Quake III Arena";
    WriteScript(base + "/quake3.exe", "pwd > cwd.txt; echo \"$@\" > args.txt; exit \"$3\"");

    for (int code : {0, 3}) {
        auto p = StartProcess(base + "/quake3.exe +set fs_game " + std::to_string(code), base,
                              ProcessPriority::High);
        ASSERT_TRUE(p);
        EXPECT_TRUE(p->Wait(10000));
        int exitCode = -1;
        ASSERT_TRUE(p->ExitCode(exitCode));
        EXPECT_EQ(exitCode, code);
        // The end stays readable, as with a process handle.
        EXPECT_TRUE(p->Wait(0));
        ASSERT_TRUE(p->ExitCode(exitCode));
        EXPECT_EQ(exitCode, code);
        p->Close();
        EXPECT_FALSE(p->Valid());
    }
    EXPECT_EQ(ReadFile(base + "/cwd.txt"), base + "\n");
    EXPECT_EQ(ReadFile(base + "/args.txt"), "+set fs_game 3\n");
}

TEST(ProcessTest, TimesOutWhileRunningAndAKilledProcessIsNoSuccess) {
    TempDir dir;
    WriteScript(dir / "long", "exec sleep 30");
    auto p = StartProcess(dir / "long", dir.path(), ProcessPriority::Normal);
    ASSERT_TRUE(p);
    EXPECT_FALSE(p->Wait(50));
    int code = 0;
    EXPECT_FALSE(p->ExitCode(code)); // still running
    ASSERT_EQ(::kill(p->Id(), SIGKILL), 0);
    EXPECT_TRUE(p->Wait(-1));
    ASSERT_TRUE(p->ExitCode(code));
    EXPECT_EQ(code, 128 + SIGKILL);
}

TEST(ProcessTest, StartFailuresAreReportedNotRunAsExitCodes) {
    TempDir dir;
    std::string error;
    EXPECT_FALSE(StartProcess(dir / "nothing/quake3.exe +set fs_game baseq3", dir.path(),
                              ProcessPriority::High, &error));
    EXPECT_FALSE(error.empty());

    WriteFile(dir / "data.exe", "not a program");
    error.clear();
    EXPECT_FALSE(StartProcess(dir / "data.exe", dir.path(), ProcessPriority::High, &error));
    EXPECT_FALSE(error.empty());

    WriteScript(dir / "ok", "exit 0");
    EXPECT_FALSE(StartProcess(dir / "ok", dir / "no such dir", ProcessPriority::High));
}

TEST(ProcessTest, AWindowsProgramRunsThroughWineWithTheSameCommandLine) {
    TempDir dir;
    const std::string base = dir / "Quake III Arena", path = std::getenv("PATH");
    WriteFile(base + "/quake3.exe", std::string("MZ\x90\0", 4)); // copied without exec bit
    WriteScript(dir / "bin/wine", "pwd > cwd.txt; printf '%s\\n' \"$@\" > args.txt; exit 4");
    ::setenv("PATH", (dir / "bin").c_str(), 1);
    auto p = StartProcess(base + "/quake3.exe +set fs_game baseq3", base, ProcessPriority::High);
    ::setenv("PATH", dir.path().c_str(), 1); // no Wine there: no start
    EXPECT_FALSE(StartProcess(base + "/quake3.exe", base, ProcessPriority::High));
    ::setenv("PATH", path.c_str(), 1);
    ASSERT_TRUE(p);
    int code = 0;
    ASSERT_TRUE(p->Wait(10000) && p->ExitCode(code));
    EXPECT_EQ(code, 4);
    EXPECT_EQ(ReadFile(base + "/cwd.txt"), base + "\n");
    EXPECT_EQ(ReadFile(base + "/args.txt"), base + "/quake3.exe\n+set\nfs_game\nbaseq3\n");
}

TEST(ProcessTest, InheritsNoOpenFiles) {
    TempDir dir;
    int fd = ::open(dir.path().c_str(), O_RDONLY | O_DIRECTORY); // not close-on-exec
    ASSERT_GE(fd, 0);
    int high = ::fcntl(fd, F_DUPFD, 100);
    ASSERT_GE(high, 100);
    const std::string n = std::to_string(high);
    WriteScript(dir / "probe",
                "if [ -e /proc/$$/fd/" + n + " ]; then echo open; else echo closed; fi > fd.txt");
    auto p = StartProcess(dir / "probe", dir.path(), ProcessPriority::High);
    ASSERT_TRUE(p);
    EXPECT_TRUE(p->Wait(10000));
    ::close(fd);
    ::close(high);
    EXPECT_EQ(ReadFile(dir / "fd.txt"), "closed\n");
}

TEST(ProcessTest, HighPriorityWhereTheSystemAllowsIt) {
    // Whether this process may lower a niceness at all: a child tries it on itself.
    const int ours = ::getpriority(PRIO_PROCESS, 0);
    pid_t probe = ::fork();
    if (probe == 0)
        ::_exit(::setpriority(PRIO_PROCESS, 0, ours - 1) == 0 ? 0 : 1);
    int status = 0;
    ASSERT_EQ(::waitpid(probe, &status, 0), probe);
    const bool mayRaise = WIFEXITED(status) && WEXITSTATUS(status) == 0;

    TempDir dir;
    WriteScript(dir / "nice", "nice > nice.txt");
    for (ProcessPriority priority : {ProcessPriority::Normal, ProcessPriority::High}) {
        auto p = StartProcess(dir / "nice", dir.path(), priority);
        ASSERT_TRUE(p);
        EXPECT_TRUE(p->Wait(10000));
        const int child = std::stoi(ReadFile(dir / "nice.txt"));
        if (priority == ProcessPriority::High && mayRaise)
            EXPECT_LT(child, ours);
        else
            EXPECT_EQ(child, ours);
    }
}

TEST(ProcessTest, ClosingARunningProcessLeavesNoZombie) {
    TempDir dir;
    WriteScript(dir / "long", "exec sleep 30");
    auto p = StartProcess(dir / "long", dir.path(), ProcessPriority::Normal);
    ASSERT_TRUE(p);
    const pid_t pid = p->Id();
    p->Close();
    ASSERT_EQ(::kill(pid, 0), 0); // closing does not end it
    ::kill(pid, SIGKILL);
    // A zombie would still answer kill(pid, 0); a reaped process is gone.
    bool gone = false;
    for (int i = 0; i < 500 && !gone; ++i) {
        gone = ::kill(pid, 0) != 0 && errno == ESRCH;
        if (!gone)
            std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    EXPECT_TRUE(gone);
}

} // namespace
} // namespace vexo::platform
