#include "platform/file_reader.h"

#include <cerrno>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include "platform/fs.h"
#include "platform/log.h"

namespace vexo::platform {

FileReader::~FileReader() {
    if (fd_ >= 0)
        ::close(fd_);
}

bool FileReader::Open(const std::string& path, std::string* error) {
    if (fd_ >= 0)
        ::close(fd_);
    // Not blocking: opening a pipe for reading would wait for a writer.
    fd_ = ::open(ResolvePathCase(path).c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
    struct stat st;
    if (fd_ < 0 || ::fstat(fd_, &st) != 0) {
        *error = SystemErrorText(errno);
        return false;
    }
    if (!S_ISREG(st.st_mode)) {
        *error = "not a plain file";
        return false;
    }
    size_ = static_cast<uint64_t>(st.st_size);
    return true;
}

bool FileReader::ReadAt(uint64_t offset, size_t size, char* data, std::string* error) {
    size_t done = 0;
    while (done < size) {
        const ssize_t n = ::pread(fd_, data + done, size - done, static_cast<off_t>(offset + done));
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0) {
            *error = n == 0 ? "the file ends at byte " + std::to_string(offset + done)
                            : SystemErrorText(errno);
            return false;
        }
        done += static_cast<size_t>(n);
    }
    return true;
}

} // namespace vexo::platform
