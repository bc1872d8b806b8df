#include "platform/growing_file.h"

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <unistd.h>

#include "platform/fs.h"

namespace vexo::platform {

namespace {

// Blocks are freed in whole steps of this size: small enough that the disk holds little
// that has been read, large enough that freeing costs next to nothing per frame.
constexpr int64_t kReleaseStep = 1 << 20;

} // namespace

GrowingFile::~GrowingFile() {
    Close();
}

bool GrowingFile::Open(const std::string& path, std::string* error) {
    Close();
    const std::string onDisk = ResolvePathCase(path);
    // Freeing blocks needs the file open for writing; a file only readable is still read.
    fd_ = ::open(onDisk.c_str(), O_RDWR | O_CLOEXEC);
    releasable_ = fd_ >= 0;
    if (fd_ < 0)
        fd_ = ::open(onDisk.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd_ < 0) {
        if (error)
            *error = onDisk + ": " + std::strerror(errno);
        return false;
    }
    position_ = released_ = 0;
    return true;
}

void GrowingFile::Close() {
    if (fd_ >= 0)
        ::close(fd_);
    fd_ = -1;
}

long GrowingFile::Read(uint8_t* data, size_t size, std::string* error) {
    for (;;) {
        const ssize_t n = ::pread(fd_, data, size, position_);
        if (n >= 0) {
            position_ += n;
            return static_cast<long>(n);
        }
        if (errno == EINTR)
            continue;
        if (error)
            *error = std::strerror(errno);
        return -1;
    }
}

void GrowingFile::Release(int64_t upTo) {
    if (!releasable_)
        return;
    const int64_t end = std::min(upTo, position_) / kReleaseStep * kReleaseStep;
    if (end <= released_)
        return;
    if (::fallocate(fd_, FALLOC_FL_PUNCH_HOLE | FALLOC_FL_KEEP_SIZE, released_, end - released_) !=
        0) {
        releasable_ = false; // not on this file system: the file keeps its blocks
        return;
    }
    released_ = end;
}

} // namespace vexo::platform
