// The central directory of a ZIP file (a pk3 is one): where it lies, as the records at the
// file's end tell, and the entry names its records hold. Only bytes handed in are parsed;
// the caller reads them from the file, so a damaged or huge file costs no more memory than
// the pieces it asks for. Nothing is decompressed here.
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <string_view>

namespace vexo {

// The last bytes of a file that hold its end record in every case: the ZIP64 locator, the
// end record and its longest comment.
inline constexpr size_t kZipTailSize = 20 + 22 + 65535;
// The size of a ZIP64 end record without its extensible data.
inline constexpr size_t kZip64EndSize = 56;

// Where the directory's records lie: size bytes from start.
struct ZipDirectory {
    uint64_t start = 0;
    uint64_t size = 0;
};

// What the end of a file says. Exactly one of directory, zip64End and error is set: the
// directory, or where the ZIP64 end record that describes it lies, or why the file is no
// ZIP file that can be read.
struct ZipEnd {
    std::optional<ZipDirectory> directory;
    std::optional<uint64_t> zip64End;
    std::string error;
};

// Finds the end record in tail, the last bytes of a file of fileSize bytes (kZipTailSize of
// them, or the whole file when it is shorter). As in the engine's reader, the directory is
// taken to lie just before the end record (or the ZIP64 end record), which also reads a ZIP
// file with bytes put before it.
ZipEnd FindZipEnd(std::string_view tail, uint64_t fileSize);

// The directory a ZIP64 end record describes (kZip64EndSize bytes read at recordOffset);
// nothing, with error saying why, when the record makes no sense.
std::optional<ZipDirectory> ReadZip64End(std::string_view record, uint64_t recordOffset,
                                         std::string* error);

// Hands the entry name of every whole directory record at the start of data to onName,
// in order, and sets used to the bytes of those records (a record cut off at the end of
// data is left for the next call, with more data). False, with error saying why, when a
// record is not one; used then tells where it begins.
bool ReadZipNames(std::string_view data, size_t& used,
                  const std::function<void(std::string_view name)>& onName, std::string* error);

// What a directory record says of its entry.
struct ZipRecord {
    std::string_view name;
    uint16_t flags = 0;
    uint16_t method = 0; // 0: stored, 8: deflated
    // The entry's bytes in the file and unpacked, and where its local header lies; a field
    // of all ones means the number is in a ZIP64 field.
    uint32_t packedSize = 0;
    uint32_t size = 0;
    uint32_t localHeader = 0;
};
// As ReadZipNames, with all that each record says.
bool ReadZipRecords(std::string_view data, size_t& used,
                    const std::function<void(const ZipRecord&)>& onRecord, std::string* error);

// The size of an entry's local header without its name and extra field.
inline constexpr size_t kZipLocalHeaderSize = 30;
// Where the data of the entry whose local header (kZipLocalHeaderSize bytes read at offset)
// lies begins; nothing, with error saying why, when no local header is there.
std::optional<uint64_t> ZipDataStart(std::string_view localHeader, uint64_t offset,
                                     std::string* error);

} // namespace vexo
