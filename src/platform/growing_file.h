// A file another program is still writing, read from its start as it grows. What has been
// read can be given back to the file system while the writer goes on (its blocks freed, the
// file's size unchanged), so that a long capture taken while it is written holds on disk
// little more than the part not yet read.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

namespace vexo::platform {

class GrowingFile {
public:
    GrowingFile() = default;
    ~GrowingFile();
    GrowingFile(const GrowingFile&) = delete;
    GrowingFile& operator=(const GrowingFile&) = delete;

    // Opens path for reading from its start. False when it cannot be opened; error then
    // says why.
    bool Open(const std::string& path, std::string* error);
    void Close();
    bool IsOpen() const { return fd_ >= 0; }

    // Reads up to size bytes from where the last read ended: the number read, 0 at the
    // present end of the file, -1 on a read error (error says why).
    long Read(uint8_t* data, size_t size, std::string* error);

    // Frees the disk blocks of everything before upTo that has been read. Does nothing
    // where the file system cannot free a part of a file, or the file cannot be written.
    void Release(int64_t upTo);

    int64_t Position() const { return position_; }

private:
    int fd_ = -1;
    bool releasable_ = false;
    int64_t position_ = 0;
    int64_t released_ = 0; // blocks before this are freed
};

} // namespace vexo::platform
