// A file written at any offset, with room on disk claimed ahead of the writes, for a writer
// that must know before it writes a piece whether the piece fits (a full disk, a quota, the
// file-size limit), so that a file is never left with a piece half-written.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

namespace vexo::platform {

class FileWriter {
public:
    FileWriter() = default;
    ~FileWriter();
    FileWriter(const FileWriter&) = delete;
    FileWriter& operator=(const FileWriter&) = delete;

    // Creates (replacing) the file for writing. False, with *error the system's error number,
    // when it cannot be created. From then on the process ignores SIGXFSZ: a write that would
    // grow a file past the file-size limit fails (EFBIG) instead of the signal ending the
    // program with the file unfinished.
    bool Create(const std::string& path, int* error);

    // Writes all size bytes at offset: 0, or the system's error number when a write fails.
    int WriteAt(int64_t offset, const uint8_t* data, size_t size);

    // Claims the room on disk for bytes [from, from + length). Claimed: the bytes will fit.
    // NoRoom: they will not (a full disk, a quota, the file-size limit); *error says why.
    // Unclaimable: this file system cannot claim room ahead, and writes go as they come.
    enum class Room { Claimed, NoRoom, Unclaimable };
    Room Claim(int64_t from, int64_t length, int* error);

    // Keeps only the first length bytes (room claimed beyond them goes again) and closes the
    // file. Harmless when it is not open.
    void CloseAt(int64_t length);

private:
    int fd_ = -1;
};

} // namespace vexo::platform
