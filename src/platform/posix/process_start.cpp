// Starting a process: the command line is read, and the child is prepared before fork and
// set up between fork and exec.
#include "platform/process.h"

#include <algorithm>
#include <cerrno>
#include <climits>
#include <csignal>
#include <cstring>
#include <fcntl.h>
#include <sys/prctl.h>
#include <sys/resource.h>
#include <sys/syscall.h>
#include <sys/wait.h>
#include <unistd.h>

#include "platform/fs.h"
#include "platform/posix/process_output.h"

extern char** environ;

namespace vexo::platform {

namespace {

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
    int endSignal;                // the signal it is then ended with
    bool newGroup;                // leads a process group of its own
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
        ::prctl(PR_SET_PDEATHSIG, plan.endSignal);
        if (::getppid() != plan.endWith)
            ::_exit(127);
    }

    if (plan.newGroup)
        ::setpgid(0, 0);

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
    plan.endSignal = options.EndAskingFirst ? SIGTERM : SIGKILL;
    plan.newGroup = options.NewProcessGroup;
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
