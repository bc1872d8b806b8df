// The AVI output file on a POSIX file descriptor.
#include "media/avifile_output.h"

#include <algorithm>
#include <cerrno>
#include <csignal>
#include <cstdio>
#include <fcntl.h>
#include <unistd.h>

#include "platform/log.h"

extern "C" {
#include <libavutil/error.h>
#include <libavutil/mem.h>
}

namespace vexo {

bool AviOutput::Create(const char* path) {
    Close();
    // Growing the file past the file-size limit raises SIGXFSZ, whose default action ends the
    // process with the file unfinished. Ignored, the write fails with EFBIG instead, and the
    // file is completed with the packets before it.
    std::signal(SIGXFSZ, SIG_IGN);
    fd_ = ::open(path, O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0666);
    if (fd_ < 0) {
        platform::LogFailure("avi", std::string("cannot create ") + path + ": " +
                                        platform::SystemErrorText(errno));
        return false;
    }
    path_ = path;
    position_ = end_ = reservedEnd_ = 0;
    reserving_ = true;
    constexpr int kBufferSize = 1 << 16;
    auto* buffer = static_cast<unsigned char*>(av_malloc(kBufferSize));
    context_ =
        buffer ? avio_alloc_context(buffer, kBufferSize, 1, this, nullptr, Write, Seek) : nullptr;
    if (!context_) {
        av_free(buffer);
        return true; // the file exists; the caller finds no context
    }
    // Frame data goes to the file as it is, not copied through the buffer piece by piece;
    // the muxer's small writes (chunk headers, index entries) are still gathered.
    context_->direct = 1;
    return true;
}

int AviOutput::Reserve(int64_t end) {
    if (!reserving_ || end <= reservedEnd_)
        return 0;
    const int err = ::posix_fallocate(fd_, reservedEnd_, end - reservedEnd_);
    if (err == ENOSPC || err == EFBIG || err == EDQUOT) {
        platform::LogFailure("avi", "no room for " + path_ + " to grow to " + std::to_string(end) +
                                        " bytes: " + platform::SystemErrorText(err));
        return AVERROR(err);
    }
    if (err == 0)
        reservedEnd_ = end;
    else
        reserving_ = false; // this file system cannot claim room ahead: write as it comes
    return 0;
}

void AviOutput::CloseAt(int64_t length) {
    if (context_) {
        av_freep(&context_->buffer);
        avio_context_free(&context_);
    }
    if (fd_ >= 0) {
        // The room claimed beyond the last byte kept goes again.
        if (::ftruncate(fd_, length) != 0) {
            // The file stays readable, only with zero bytes after its end.
        }
        ::close(fd_);
        fd_ = -1;
    }
}

int AviOutput::Write(void* opaque, uint8_t* data, int size) {
    auto* self = static_cast<AviOutput*>(opaque);
    int done = 0;
    while (done < size) {
        const ssize_t n = ::pwrite(self->fd_, data + done, static_cast<size_t>(size - done),
                                   self->position_ + done);
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0) {
            const int error = n < 0 ? errno : EIO;
            platform::LogFailure("avi", "writing " + self->path_ +
                                            " failed: " + platform::SystemErrorText(error));
            return AVERROR(error);
        }
        done += static_cast<int>(n);
    }
    self->position_ += done;
    self->end_ = std::max(self->end_, self->position_);
    return done;
}

int64_t AviOutput::Seek(void* opaque, int64_t offset, int whence) {
    auto* self = static_cast<AviOutput*>(opaque);
    switch (whence & ~AVSEEK_FORCE) {
    case AVSEEK_SIZE:
        return self->end_;
    case SEEK_SET:
        break;
    case SEEK_CUR:
        offset += self->position_;
        break;
    case SEEK_END:
        offset += self->end_;
        break;
    default:
        return AVERROR(EINVAL);
    }
    if (offset < 0)
        return AVERROR(EINVAL);
    self->position_ = offset;
    return offset;
}

} // namespace vexo
