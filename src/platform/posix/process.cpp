#include "platform/process.h"

#include <cerrno>
#include <chrono>
#include <climits>
#include <csignal>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <poll.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>

#include "platform/fs.h"

extern char** environ;

namespace vexo::platform {

namespace {

bool IsBlank(char c) {
    return c == ' ' || c == '\t';
}

bool IsRegularFile(const std::string& path) {
    struct stat st;
    return !path.empty() && ::stat(path.c_str(), &st) == 0 && S_ISREG(st.st_mode);
}

// The first file named name in the directories of PATH that passes accept, or an empty text.
template <typename Accept> std::string FindAlongPath(const std::string& name, Accept accept) {
    const char* path = std::getenv("PATH");
    if (!path)
        return {};
    std::string dirs = path;
    size_t pos = 0;
    while (pos <= dirs.size()) {
        size_t next = dirs.find(':', pos);
        if (next == std::string::npos)
            next = dirs.size();
        // An empty entry stands for the current directory.
        std::string full = next == pos ? "./" + name : dirs.substr(pos, next - pos) + "/" + name;
        if (accept(full))
            return full;
        pos = next + 1;
    }
    return {};
}

// The file a candidate executable text names, or an empty text.
std::string FindExecutableFile(const std::string& candidate) {
    if (candidate.empty())
        return {};
    if (candidate.find('/') != std::string::npos) {
        std::string resolved = ResolvePathCase(candidate);
        return IsRegularFile(resolved) ? resolved : std::string();
    }
    if (IsRegularFile(candidate))
        return candidate;
    return FindAlongPath(candidate, IsRegularFile);
}

// Splits the arguments after the executable at blanks; double quotes group blanks into one
// argument and are removed.
std::vector<std::string> SplitArguments(const std::string& text) {
    std::vector<std::string> args;
    std::string current;
    bool inToken = false;
    bool quoted = false;
    for (char c : text) {
        if (c == '"') {
            quoted = !quoted;
            inToken = true;
        } else if (IsBlank(c) && !quoted) {
            if (inToken)
                args.push_back(current);
            current.clear();
            inToken = false;
        } else {
            current += c;
            inToken = true;
        }
    }
    if (inToken)
        args.push_back(current);
    return args;
}

std::string MakeAbsolute(const std::string& path) {
    if (path.empty() || path[0] == '/')
        return path;
    char buffer[PATH_MAX];
    if (!::getcwd(buffer, sizeof buffer))
        return path;
    return std::string(buffer) + "/" + path;
}

// How far the child tries to lower its niceness for a high-priority start. An unprivileged
// process may not go below the limit RLIMIT_NICE allows; the child then settles for the
// lowest value it is allowed, or stays where it is.
constexpr int kHighPriorityBoost = 10;

// Everything the child needs, prepared before fork: between fork and exec only
// async-signal-safe calls are made, because the program runs several threads.
struct ChildPlan {
    const char* executable;
    char* const* argv;
    char* const* envp;
    const char* workingDirectory; // null: stay in the current directory
    int niceFrom;                 // current niceness
    int niceTo;                   // target niceness (== niceFrom: leave it)
    int errorFd;                  // the close-on-exec pipe that reports a failed start
    int maxFd;                    // upper bound for closing descriptors without close_range
};

[[noreturn]] void ReportAndExit(int fd, int error) {
    const char* p = reinterpret_cast<const char*>(&error);
    size_t left = sizeof error;
    while (left > 0) {
        ssize_t n = ::write(fd, p, left);
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            break;
        p += n;
        left -= static_cast<size_t>(n);
    }
    ::_exit(127);
}

void CloseDescriptorsFrom(int first, int last, int maxFd) {
    if (first > last)
        return;
    if (::close_range(static_cast<unsigned>(first), static_cast<unsigned>(last), 0) == 0)
        return;
    for (int fd = first; fd <= last && fd < maxFd; ++fd)
        ::close(fd);
}

[[noreturn]] void RunChild(const ChildPlan& plan) {
    // Signal handlers of this program mean nothing to the new one; ignored signals would be
    // inherited through exec, so every disposition goes back to its default.
    struct sigaction dfl;
    std::memset(&dfl, 0, sizeof dfl);
    dfl.sa_handler = SIG_DFL;
    for (int sig = 1; sig < NSIG; ++sig)
        ::sigaction(sig, &dfl, nullptr);
    sigset_t none;
    sigemptyset(&none);
    ::sigprocmask(SIG_SETMASK, &none, nullptr);

    if (plan.workingDirectory && ::chdir(plan.workingDirectory) != 0)
        ReportAndExit(plan.errorFd, errno);

    for (int nice = plan.niceTo; nice < plan.niceFrom; ++nice) {
        if (::setpriority(PRIO_PROCESS, 0, nice) == 0)
            break;
    }

    // No inherited handles: only standard input, output and error stay open (and the
    // error pipe, which closes itself on exec).
    CloseDescriptorsFrom(3, plan.errorFd - 1, plan.maxFd);
    CloseDescriptorsFrom(plan.errorFd + 1, INT_MAX, plan.maxFd);

    ::execve(plan.executable, plan.argv, plan.envp);
    ReportAndExit(plan.errorFd, errno);
}

} // namespace

std::string FindProgram(const std::string& name) {
    if (name.empty() || name.find('/') != std::string::npos)
        return IsExecutableFile(name) ? name : std::string();
    return FindAlongPath(name, IsExecutableFile);
}

bool IsWindowsProgram(const std::string& path) {
    char magic[2] = {};
    const int fd = ::open(ResolvePathCase(path).c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0)
        return false;
    const ssize_t n = ::read(fd, magic, sizeof magic);
    ::close(fd);
    return n == 2 && magic[0] == 'M' && magic[1] == 'Z';
}

std::optional<CommandLineParts> SplitCommandLine(const std::string& commandLine) {
    size_t start = 0;
    while (start < commandLine.size() && IsBlank(commandLine[start]))
        ++start;
    const std::string line = commandLine.substr(start);
    if (line.empty())
        return std::nullopt;

    CommandLineParts parts;
    size_t restAt = std::string::npos;
    if (line[0] == '"') {
        size_t close = line.find('"', 1);
        std::string name =
            line.substr(1, close == std::string::npos ? std::string::npos : close - 1);
        parts.Executable = FindExecutableFile(name);
        restAt = close == std::string::npos ? line.size() : close + 1;
    } else {
        // Candidates end where a run of blanks begins, and finally at the end of the line.
        for (size_t i = 1; i <= line.size(); ++i) {
            const bool runOfBlanksBegins =
                i < line.size() && IsBlank(line[i]) && !IsBlank(line[i - 1]);
            if (i < line.size() && !runOfBlanksBegins)
                continue;
            parts.Executable = FindExecutableFile(line.substr(0, i));
            if (!parts.Executable.empty()) {
                restAt = i;
                break;
            }
        }
    }
    if (parts.Executable.empty())
        return std::nullopt;
    parts.Args = SplitArguments(line.substr(restAt));
    return parts;
}

Process::~Process() {
    Close();
}

Process::Process(Process&& other) noexcept
    : pid_(other.pid_), pidfd_(other.pidfd_), ended_(other.ended_), exitKnown_(other.exitKnown_),
      exitCode_(other.exitCode_) {
    other.pid_ = 0;
    other.pidfd_ = -1;
}

Process& Process::operator=(Process&& other) noexcept {
    if (this != &other) {
        Close();
        pid_ = other.pid_;
        pidfd_ = other.pidfd_;
        ended_ = other.ended_;
        exitKnown_ = other.exitKnown_;
        exitCode_ = other.exitCode_;
        other.pid_ = 0;
        other.pidfd_ = -1;
    }
    return *this;
}

void Process::Reaped(int status) {
    ended_ = true;
    if (WIFEXITED(status)) {
        exitKnown_ = true;
        exitCode_ = WEXITSTATUS(status);
    } else if (WIFSIGNALED(status)) {
        exitKnown_ = true;
        exitCode_ = 128 + WTERMSIG(status);
    }
}

bool Process::Poll() {
    if (ended_)
        return true;
    for (;;) {
        int status = 0;
        pid_t r = ::waitpid(pid_, &status, WNOHANG);
        if (r == pid_) {
            Reaped(status);
            return true;
        }
        if (r == 0)
            return false;
        if (errno == EINTR)
            continue;
        // Someone else reaped it (SIGCHLD ignored, for instance): it has ended, but its exit
        // code is lost.
        ended_ = true;
        return true;
    }
}

bool Process::Wait(int timeoutMs) {
    if (!Valid() || Poll())
        return true;
    if (timeoutMs == 0)
        return false;
    using Clock = std::chrono::steady_clock;
    const auto deadline = Clock::now() + std::chrono::milliseconds(timeoutMs);
    for (;;) {
        int slice = -1;
        if (timeoutMs > 0) {
            auto left =
                std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now());
            if (left.count() <= 0)
                return Poll();
            slice = static_cast<int>(left.count());
        }
        if (pidfd_ >= 0) {
            pollfd p{pidfd_, POLLIN, 0};
            ::poll(&p, 1, slice);
        } else {
            // Without a process descriptor the end is looked for in short steps.
            int step = slice < 0 || slice > 5 ? 5 : slice;
            std::this_thread::sleep_for(std::chrono::milliseconds(step));
        }
        if (Poll())
            return true;
    }
}

bool Process::ExitCode(int& code) {
    if (!Valid() || !Poll() || !exitKnown_)
        return false;
    code = exitCode_;
    return true;
}

void Process::Terminate() {
    // Not reaped yet, so the number still names this process.
    if (Valid() && !Poll())
        ::kill(pid_, SIGKILL);
}

void Process::Close() {
    if (pid_ > 0 && !Poll()) {
        const pid_t pid = pid_;
        std::thread([pid] {
            int status;
            while (::waitpid(pid, &status, 0) < 0 && errno == EINTR) {
            }
        }).detach();
    }
    if (pidfd_ >= 0)
        ::close(pidfd_);
    pid_ = 0;
    pidfd_ = -1;
    ended_ = false;
    exitKnown_ = false;
    exitCode_ = 0;
}

std::optional<Process> StartProcess(const std::string& commandLine,
                                    const std::string& workingDirectory, ProcessPriority priority,
                                    std::string* error) {
    auto fail = [error](const std::string& why) -> std::optional<Process> {
        if (error)
            *error = why;
        return std::nullopt;
    };
    std::optional<CommandLineParts> parts = SplitCommandLine(commandLine);
    if (!parts)
        return fail("No such file: " + commandLine);

    std::string executable = MakeAbsolute(parts->Executable);
    std::vector<std::string> argStore;
    if (IsWindowsProgram(executable)) {
        // Wine runs it with the same arguments, in the same working directory.
        const std::string wine = FindProgram(kWindowsProgramLoader);
        if (wine.empty())
            return fail("Wine is needed to start the Windows program " + executable);
        argStore.push_back(executable);
        executable = MakeAbsolute(wine);
    }
    argStore.insert(argStore.begin(), executable);
    argStore.insert(argStore.end(), parts->Args.begin(), parts->Args.end());
    std::vector<char*> argv;
    for (std::string& a : argStore)
        argv.push_back(a.data());
    argv.push_back(nullptr);

    const std::string directory =
        workingDirectory.empty() ? std::string() : ResolvePathCase(workingDirectory);

    ChildPlan plan{};
    plan.executable = executable.c_str();
    plan.argv = argv.data();
    plan.envp = environ;
    plan.workingDirectory = directory.empty() ? nullptr : directory.c_str();
    errno = 0;
    int nice = ::getpriority(PRIO_PROCESS, 0);
    if (errno != 0)
        nice = 0;
    plan.niceFrom = nice;
    plan.niceTo = priority == ProcessPriority::High ? nice - kHighPriorityBoost : nice;
    rlimit files{};
    plan.maxFd = ::getrlimit(RLIMIT_NOFILE, &files) == 0 && files.rlim_cur != RLIM_INFINITY &&
                         files.rlim_cur < (1u << 20)
                     ? static_cast<int>(files.rlim_cur)
                     : (1 << 20);

    int pipeFds[2];
    if (::pipe2(pipeFds, O_CLOEXEC) != 0)
        return fail(std::string("Cannot start a process: ") + std::strerror(errno));
    plan.errorFd = pipeFds[1];

    // No signal handler of this program may run in the child before it has reset them.
    sigset_t all, previous;
    sigfillset(&all);
    ::pthread_sigmask(SIG_SETMASK, &all, &previous);
    const pid_t pid = ::fork();
    if (pid == 0)
        RunChild(plan);
    const int forkError = errno;
    ::pthread_sigmask(SIG_SETMASK, &previous, nullptr);
    ::close(pipeFds[1]);
    if (pid < 0) {
        ::close(pipeFds[0]);
        return fail(std::string("Cannot start a process: ") + std::strerror(forkError));
    }

    // The pipe closes on a successful exec and brings the child's errno otherwise.
    int childError = 0;
    size_t got = 0;
    while (got < sizeof childError) {
        ssize_t n =
            ::read(pipeFds[0], reinterpret_cast<char*>(&childError) + got, sizeof childError - got);
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            break;
        got += static_cast<size_t>(n);
    }
    ::close(pipeFds[0]);
    if (got == sizeof childError) {
        int status;
        while (::waitpid(pid, &status, 0) < 0 && errno == EINTR) {
        }
        return fail("Cannot start " + executable + ": " + std::strerror(childError));
    }

    Process process;
    process.pid_ = pid;
    // A process descriptor lets Wait sleep until the end instead of looking in steps; kernels
    // without one answer -1 here.
    process.pidfd_ = static_cast<int>(::syscall(SYS_pidfd_open, pid, 0));
    return process;
}

} // namespace vexo::platform
