// The file on disk that an AVI file is written to, through an I/O context of its own that
// claims room on disk ahead of the muxer. A full disk or the file-size limit thus stops a
// packet before it is half-written, and the file can always be completed with the packets
// before it.
#pragma once

#include <cstdint>
#include <string>

#include "platform/file_writer.h"

extern "C" {
#include <libavformat/avio.h>
}

namespace vexo::media {

class AviOutput {
public:
    AviOutput() = default;
    ~AviOutput() { Close(); }
    AviOutput(const AviOutput&) = delete;
    AviOutput& operator=(const AviOutput&) = delete;

    // Creates (replacing) the file for writing; false when it cannot be created.
    bool Create(const char* path);
    // The I/O context writing to the file: null until the file is created, or when out of
    // memory. Owned by this object; valid until Close.
    AVIOContext* Context() const { return context_; }
    // Claims room on disk for the file to grow to `end` bytes. 0 when there is room (or the
    // file system cannot claim room ahead, and writes go as they come); the AVERROR of a
    // full disk or the file-size limit when there is not.
    int Reserve(int64_t end);
    // The end of what has been written.
    int64_t End() const { return end_; }
    // Frees the I/O context, gives the room claimed beyond the end back and closes the file.
    // The context's buffer must have been flushed. Harmless twice.
    void Close() { CloseAt(end_); }
    // The same, keeping only the first `length` bytes of what was written.
    void CloseAt(int64_t length);

private:
    static int Write(void* opaque, uint8_t* data, int size);
    static int64_t Seek(void* opaque, int64_t offset, int whence);

    platform::FileWriter file_;
    std::string path_; // for the log
    AVIOContext* context_ = nullptr;
    int64_t position_ = 0; // where the next write goes
    int64_t end_ = 0;
    bool reserving_ = true;
    int64_t reservedEnd_ = 0;
};

} // namespace vexo::media
