// Reading a command line, and a started process: waiting for its end, its exit code,
// ending and closing it. The start itself is in process_start.cpp, the capture of its output
// in process_output.cpp.
#include "platform/process.h"

#include <cerrno>
#include <chrono>
#include <csignal>
#include <cstdlib>
#include <fcntl.h>
#include <poll.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>

#include "platform/fs.h"
#include "platform/posix/process_output.h"

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

} // namespace vexo::platform
