#include "platform/process.h"

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <climits>
#include <csignal>
#include <cstdlib>
#include <cstring>
#include <deque>
#include <fcntl.h>
#include <mutex>
#include <poll.h>
#include <sys/prctl.h>
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
    int inputFd;                  // standard input, or -1 to keep the program's
    int outputFd;                 // standard output and error, or -1 to keep the program's
    pid_t endWith;                // the process whose end ends this one, or 0
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

    if (plan.endWith > 0) {
        // Asked before the check, so that a program that ended in between is noticed.
        ::prctl(PR_SET_PDEATHSIG, SIGKILL);
        if (::getppid() != plan.endWith)
            ::_exit(127);
    }

    if (plan.workingDirectory && ::chdir(plan.workingDirectory) != 0)
        ReportAndExit(plan.errorFd, errno);

    if (plan.inputFd >= 0 && ::dup2(plan.inputFd, STDIN_FILENO) < 0)
        ReportAndExit(plan.errorFd, errno);
    if (plan.outputFd >= 0 &&
        (::dup2(plan.outputFd, STDOUT_FILENO) < 0 || ::dup2(plan.outputFd, STDERR_FILENO) < 0))
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

constexpr size_t kMaxLineBytes = 4096;
constexpr size_t kMaxWaitingLines = 1000;

// The environment of a new process: the program's own with the given variables set.
std::vector<std::string>
MergedEnvironment(const std::vector<std::pair<std::string, std::string>>& set) {
    std::vector<std::string> env;
    for (char** e = environ; e && *e; ++e) {
        const std::string entry = *e;
        const std::string name = entry.substr(0, entry.find('='));
        const bool replaced =
            std::any_of(set.begin(), set.end(), [&](const auto& kv) { return kv.first == name; });
        if (!replaced)
            env.push_back(entry);
    }
    for (const auto& [name, value] : set)
        env.push_back(name + "=" + value);
    return env;
}

} // namespace

// The captured output of a process: a thread reads the pipe as the process writes it and
// keeps whole lines until they are taken.
struct Process::Output {
    int fd = -1;
    int stopFds[2] = {-1, -1};
    std::thread reader;
    std::mutex mutex;
    std::deque<std::string> lines;
    std::string partial;
    bool closed = false; // the process closed its output; everything it wrote is in lines

    ~Output() {
        for (int f : {fd, stopFds[0], stopFds[1]})
            if (f >= 0)
                ::close(f);
    }

    void Add(std::string line) {
        std::lock_guard<std::mutex> lock(mutex);
        if (lines.size() == kMaxWaitingLines)
            lines.pop_front();
        lines.push_back(std::move(line));
    }

    // Reads until the process closes its output or the owner asks to stop.
    static void Read(const std::shared_ptr<Output>& self) {
        char buffer[16384];
        for (;;) {
            pollfd fds[2] = {{self->fd, POLLIN, 0}, {self->stopFds[0], POLLIN, 0}};
            if (::poll(fds, 2, -1) < 0) {
                if (errno == EINTR)
                    continue;
                break;
            }
            if (fds[1].revents != 0)
                return;
            const ssize_t n = ::read(self->fd, buffer, sizeof buffer);
            if (n < 0 && (errno == EINTR || errno == EAGAIN))
                continue;
            if (n <= 0)
                break;
            for (ssize_t i = 0; i < n; ++i) {
                if (buffer[i] == '\n') {
                    std::string line = std::move(self->partial);
                    self->partial.clear();
                    if (!line.empty() && line.back() == '\r')
                        line.pop_back();
                    self->Add(std::move(line));
                } else if (self->partial.size() < kMaxLineBytes) {
                    self->partial += buffer[i];
                }
            }
        }
        if (!self->partial.empty())
            self->Add(std::move(self->partial));
        self->partial.clear();
        std::lock_guard<std::mutex> lock(self->mutex);
        self->closed = true;
    }
};

bool Process::OutputClosed() {
    if (!output_)
        return true;
    std::lock_guard<std::mutex> lock(output_->mutex);
    return output_->closed;
}

std::vector<std::string> Process::TakeOutputLines() {
    std::vector<std::string> taken;
    if (!output_)
        return taken;
    std::lock_guard<std::mutex> lock(output_->mutex);
    taken.assign(std::make_move_iterator(output_->lines.begin()),
                 std::make_move_iterator(output_->lines.end()));
    output_->lines.clear();
    return taken;
}

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
    : output_(std::move(other.output_)), pid_(other.pid_), pidfd_(other.pidfd_),
      ended_(other.ended_), exitKnown_(other.exitKnown_), exitCode_(other.exitCode_) {
    other.pid_ = 0;
    other.pidfd_ = -1;
}

Process& Process::operator=(Process&& other) noexcept {
    if (this != &other) {
        Close();
        output_ = std::move(other.output_);
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
    if (output_) {
        // A process that has ended has written all it will: what it left in the pipe is
        // read, then the reader stops. One that still runs is drained until it closes its
        // output, so that it never writes into a closed pipe.
        if (pid_ <= 0 || Poll()) {
            const char stop = 0;
            (void)!::write(output_->stopFds[1], &stop, 1);
            output_->reader.join();
        } else {
            output_->reader.detach();
        }
        output_.reset();
    }
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
                                    const std::string& workingDirectory,
                                    const ProcessOptions& options, std::string* error) {
    const ProcessPriority priority = options.Priority;
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

    std::vector<std::string> envStore;
    std::vector<char*> envp;
    if (!options.Environment.empty()) {
        envStore = MergedEnvironment(options.Environment);
        for (std::string& e : envStore)
            envp.push_back(e.data());
        envp.push_back(nullptr);
    }

    ChildPlan plan{};
    plan.executable = executable.c_str();
    plan.argv = argv.data();
    plan.envp = envp.empty() ? environ : envp.data();
    plan.inputFd = -1;
    plan.outputFd = -1;
    plan.endWith = options.EndWithProgram ? ::getpid() : 0;
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

    // The output pipe's read end and /dev/null stay with the program; the child gets copies
    // as its standard descriptors (close-on-exec does not pass through dup2).
    auto output = std::make_shared<Process::Output>();
    int nullFd = -1;
    auto closeNull = [&nullFd] {
        if (nullFd >= 0)
            ::close(nullFd);
        nullFd = -1;
    };
    int outputWrite = -1;
    if (options.CaptureOutput) {
        int outFds[2];
        nullFd = ::open("/dev/null", O_RDONLY | O_CLOEXEC);
        if (nullFd < 0 || ::pipe2(outFds, O_CLOEXEC) != 0 ||
            ::pipe2(output->stopFds, O_CLOEXEC) != 0) {
            const int e = errno;
            closeNull();
            return fail(std::string("Cannot start a process: ") + std::strerror(e));
        }
        output->fd = outFds[0];
        outputWrite = outFds[1];
        plan.inputFd = nullFd;
        plan.outputFd = outputWrite;
    }
    auto closeOutputWrite = [&outputWrite] {
        if (outputWrite >= 0)
            ::close(outputWrite);
        outputWrite = -1;
    };

    int pipeFds[2];
    if (::pipe2(pipeFds, O_CLOEXEC) != 0) {
        const int e = errno;
        closeNull();
        closeOutputWrite();
        return fail(std::string("Cannot start a process: ") + std::strerror(e));
    }
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
    closeNull();
    closeOutputWrite();
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
    if (options.CaptureOutput) {
        output->reader = std::thread(&Process::Output::Read, output);
        process.output_ = std::move(output);
    }
    // A process descriptor lets Wait sleep until the end instead of looking in steps; kernels
    // without one answer -1 here.
    process.pidfd_ = static_cast<int>(::syscall(SYS_pidfd_open, pid, 0));
    return process;
}

} // namespace vexo::platform
