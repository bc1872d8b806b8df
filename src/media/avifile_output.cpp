// The AVI output file: an I/O context of FFmpeg's on a file of the platform's.
#include "media/avifile_output.h"

#include <algorithm>
#include <cstdio>

#include "platform/log.h"

extern "C" {
#include <libavutil/error.h>
#include <libavutil/mem.h>
}

namespace vexo::media {

bool AviOutput::Create(const char* path) {
    Close();
    // A write past the file-size limit then fails instead of ending the program, and the file
    // is completed with the packets before it.
    int error = 0;
    if (!file_.Create(path, &error)) {
        platform::LogFailure("avi", std::string("cannot create ") + path + ": " +
                                        platform::SystemErrorText(error));
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
    int error = 0;
    switch (file_.Claim(reservedEnd_, end - reservedEnd_, &error)) {
    case platform::FileWriter::Room::Claimed:
        reservedEnd_ = end;
        return 0;
    case platform::FileWriter::Room::NoRoom:
        platform::LogFailure("avi", "no room for " + path_ + " to grow to " + std::to_string(end) +
                                        " bytes: " + platform::SystemErrorText(error));
        return AVERROR(error);
    case platform::FileWriter::Room::Unclaimable:
        break;
    }
    reserving_ = false; // this file system cannot claim room ahead: write as it comes
    return 0;
}

void AviOutput::CloseAt(int64_t length) {
    if (context_) {
        av_freep(&context_->buffer);
        avio_context_free(&context_);
    }
    // The room claimed beyond the last byte kept goes again.
    file_.CloseAt(length);
}

int AviOutput::Write(void* opaque, uint8_t* data, int size) {
    auto* self = static_cast<AviOutput*>(opaque);
    if (const int error = self->file_.WriteAt(self->position_, data, static_cast<size_t>(size))) {
        platform::LogFailure("avi", "writing " + self->path_ +
                                        " failed: " + platform::SystemErrorText(error));
        return AVERROR(error);
    }
    self->position_ += size;
    self->end_ = std::max(self->end_, self->position_);
    return size;
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

} // namespace vexo::media
