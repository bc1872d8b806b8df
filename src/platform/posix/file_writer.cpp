#include "platform/file_writer.h"

#include <cerrno>
#include <csignal>
#include <fcntl.h>
#include <unistd.h>

namespace vexo::platform {

FileWriter::~FileWriter() {
    if (fd_ >= 0)
        ::close(fd_);
}

bool FileWriter::Create(const std::string& path, int* error) {
    if (fd_ >= 0)
        ::close(fd_);
    // Growing the file past the file-size limit raises SIGXFSZ, whose default action ends the
    // process. Ignored, the write fails with EFBIG instead.
    std::signal(SIGXFSZ, SIG_IGN);
    fd_ = ::open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0666);
    if (fd_ < 0) {
        *error = errno;
        return false;
    }
    return true;
}

int FileWriter::WriteAt(int64_t offset, const uint8_t* data, size_t size) {
    size_t done = 0;
    while (done < size) {
        const ssize_t n =
            ::pwrite(fd_, data + done, size - done, static_cast<off_t>(offset + done));
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            return n < 0 ? errno : EIO;
        done += static_cast<size_t>(n);
    }
    return 0;
}

FileWriter::Room FileWriter::Claim(int64_t from, int64_t length, int* error) {
    const int err = ::posix_fallocate(fd_, from, length);
    if (err == 0)
        return Room::Claimed;
    if (err == ENOSPC || err == EFBIG || err == EDQUOT) {
        *error = err;
        return Room::NoRoom;
    }
    return Room::Unclaimable;
}

void FileWriter::CloseAt(int64_t length) {
    if (fd_ < 0)
        return;
    if (::ftruncate(fd_, length) != 0) {
        // The file stays readable, only with zero bytes after its end.
    }
    ::close(fd_);
    fd_ = -1;
}

} // namespace vexo::platform
