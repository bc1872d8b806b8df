// A plain file read at any offset, for formats that are read in pieces (a pk3's directory at
// its end) rather than from start to end.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

namespace vexo::platform {

class FileReader {
public:
    FileReader() = default;
    ~FileReader();
    FileReader(const FileReader&) = delete;
    FileReader& operator=(const FileReader&) = delete;

    // Opens a plain file (never a pipe or a device, which could block or never end). False,
    // with error saying why, when it cannot be opened.
    bool Open(const std::string& path, std::string* error);
    // The file's size when it was opened.
    uint64_t Size() const { return size_; }
    // Reads exactly size bytes at offset into data. False, with error saying why, when the
    // file ends before them or a read fails.
    bool ReadAt(uint64_t offset, size_t size, char* data, std::string* error);

private:
    int fd_ = -1;
    uint64_t size_ = 0;
};

} // namespace vexo::platform
