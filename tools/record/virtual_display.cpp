#include "virtual_display.h"

#include <algorithm>
#include <cerrno>
#include <csignal>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <poll.h>
#include <sys/prctl.h>
#include <sys/wait.h>
#include <unistd.h>

#include "platform/log.h"
#include "platform/process.h"

namespace vexo::record {

namespace {

// How long Xvfb may take to name its display.
constexpr int kStartMs = 15000;

} // namespace

bool VirtualDisplay::Start(int width, int height, std::string& error) {
    const std::string xvfb = platform::FindProgram("Xvfb");
    if (xvfb.empty()) {
        error = "Xvfb is not installed (Debian's package xvfb)";
        return false;
    }
    int fds[2];
    if (::pipe2(fds, O_CLOEXEC) != 0) {
        error = platform::SystemErrorText(errno);
        return false;
    }
    const std::string fd = std::to_string(fds[1]);
    const std::string screen =
        std::to_string(std::max(width, 1024)) + "x" + std::to_string(std::max(height, 768)) + "x24";
    const pid_t parent = ::getpid();
    sigset_t all, previous;
    sigfillset(&all);
    ::pthread_sigmask(SIG_SETMASK, &all, &previous);
    pid_ = ::fork();
    if (pid_ == 0) {
        // A session of its own: a Ctrl-C at the recorder's terminal is the recorder's to
        // handle, and the display must outlive it until the recorder has ended its game.
        ::setsid();
        ::prctl(PR_SET_PDEATHSIG, SIGTERM);
        if (::getppid() != parent)
            ::_exit(127);
        struct sigaction dfl {};
        dfl.sa_handler = SIG_DFL;
        for (int sig = 1; sig < NSIG; ++sig)
            ::sigaction(sig, &dfl, nullptr);
        sigset_t none;
        sigemptyset(&none);
        ::sigprocmask(SIG_SETMASK, &none, nullptr);
        ::close(fds[0]);
        ::fcntl(fds[1], F_SETFD, 0);
        const int null = ::open("/dev/null", O_RDWR);
        ::dup2(null, STDIN_FILENO);
        ::dup2(null, STDOUT_FILENO);
        ::dup2(null, STDERR_FILENO);
        ::execl(xvfb.c_str(), "Xvfb", "-displayfd", fd.c_str(), "-screen", "0", screen.c_str(),
                "-nolisten", "tcp", static_cast<char*>(nullptr));
        ::_exit(127);
    }
    const int forkError = errno;
    ::pthread_sigmask(SIG_SETMASK, &previous, nullptr);
    ::close(fds[1]);
    if (pid_ < 0) {
        ::close(fds[0]);
        error = platform::SystemErrorText(forkError);
        return false;
    }
    std::string number;
    pollfd wait{fds[0], POLLIN, 0};
    while (number.find('\n') == std::string::npos) {
        const int ready = ::poll(&wait, 1, kStartMs);
        if (ready < 0 && errno == EINTR)
            continue;
        char buffer[32];
        const ssize_t n = ready > 0 ? ::read(fds[0], buffer, sizeof buffer) : -1;
        if (n <= 0)
            break;
        number.append(buffer, static_cast<size_t>(n));
    }
    ::close(fds[0]);
    number = number.substr(0, number.find('\n'));
    if (number.empty()) {
        error = "Xvfb did not start (it gave no display number within " +
                std::to_string(kStartMs / 1000) + " seconds)";
        Stop();
        return false;
    }
    name_ = ":" + number;
    ::setenv("DISPLAY", name_.c_str(), 1);
    return true;
}

void VirtualDisplay::Stop() {
    if (pid_ <= 0)
        return;
    ::kill(pid_, SIGTERM);
    while (::waitpid(pid_, nullptr, 0) < 0 && errno == EINTR) {
    }
    pid_ = -1;
    if (!name_.empty())
        ::unsetenv("DISPLAY");
    name_.clear();
}

} // namespace vexo::record
