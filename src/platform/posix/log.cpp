// The failure log on POSIX files. The file is opened for each line, in append mode: failures
// are rare, two programs (the window and the encoder) may log at once, and a state folder
// changed or removed meanwhile is simply looked up again.
#include "platform/log.h"

#include <cerrno>
#include <cstring>
#include <ctime>
#include <fcntl.h>
#include <mutex>
#include <sys/stat.h>
#include <unistd.h>

#include "platform/fs.h"

namespace vexo::platform {

namespace {

constexpr off_t kLogLimit = 1 << 20;

std::mutex gMutex;
std::function<void(const std::string&)> gListener;
bool gToStandardError = true;

const char* ProgramName() {
#ifdef __GLIBC__
    return program_invocation_short_name;
#else
    return "vexograph";
#endif
}

void WriteAll(int fd, const std::string& text) {
    for (size_t done = 0; done < text.size();) {
        const ssize_t n = ::write(fd, text.data() + done, text.size() - done);
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            return;
        done += static_cast<size_t>(n);
    }
}

// Makes the folder and its missing parents, private to the user as the XDG rules ask.
void MakeFolder(const std::string& path) {
    for (size_t at = path.find('/', 1);; at = path.find('/', at + 1)) {
        ::mkdir(path.substr(0, at).c_str(), 0700);
        if (at == std::string::npos)
            return;
    }
}

std::string Timestamp() {
    const std::time_t now = std::time(nullptr);
    std::tm local{};
    char text[32] = "";
    if (::localtime_r(&now, &local))
        std::strftime(text, sizeof text, "%Y-%m-%d %H:%M:%S", &local); // digits in any locale
    return text;
}

// Appends the line, first moving a file that would grow past the limit aside.
void AppendToFile(const std::string& line) {
    const std::string path = LogFilePath();
    MakeFolder(path.substr(0, path.rfind('/')));
    const int flags = O_WRONLY | O_APPEND | O_CREAT | O_CLOEXEC;
    int fd = ::open(path.c_str(), flags, 0600);
    struct stat st;
    if (fd >= 0 && ::fstat(fd, &st) == 0 && st.st_size > 0 &&
        st.st_size + static_cast<off_t>(line.size()) > kLogLimit) {
        ::close(fd);
        ::rename(path.c_str(), (path + ".1").c_str());
        fd = ::open(path.c_str(), flags, 0600);
    }
    if (fd < 0)
        return; // nowhere to keep it: standard error has it
    WriteAll(fd, line);
    ::close(fd);
}

// strerror_r's two forms: the XSI one fills the buffer, the GNU one may return a text of its
// own instead.
[[maybe_unused]] std::string ErrorText(int, const char* buffer) {
    return buffer;
}
[[maybe_unused]] std::string ErrorText(const char* text, const char*) {
    return text;
}

} // namespace

std::string LogFilePath() {
    return UserStateHome() + "/vexograph/vexograph.log";
}

std::string SystemErrorText(int error) {
    char buffer[256] = "";
    return ErrorText(::strerror_r(error, buffer, sizeof buffer), buffer);
}

void LogFailure(std::string_view component, std::string_view text) {
    const int savedErrno = errno;
    std::string line(component);
    line += ": ";
    line += text;
    for (char& c : line)
        if (c == '\n' || c == '\r')
            c = ' ';
    {
        std::lock_guard<std::mutex> lock(gMutex);
        if (gToStandardError)
            WriteAll(STDERR_FILENO, std::string(ProgramName()) + ": " + line + "\n");
        AppendToFile(Timestamp() + " " + ProgramName() + "[" + std::to_string(::getpid()) + "] " +
                     line + "\n");
        if (gListener)
            gListener(line);
    }
    errno = savedErrno;
}

void SetLogListener(std::function<void(const std::string& line)> listener) {
    std::lock_guard<std::mutex> lock(gMutex);
    gListener = std::move(listener);
}

void SetLogToStandardError(bool on) {
    std::lock_guard<std::mutex> lock(gMutex);
    gToStandardError = on;
}

} // namespace vexo::platform
