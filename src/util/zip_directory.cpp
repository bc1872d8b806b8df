#include "util/zip_directory.h"

#include "util/little_endian.h"

namespace vexo {

namespace {

constexpr uint32_t kEndSignature = 0x06054b50;
constexpr uint32_t kLocatorSignature = 0x07064b50;
constexpr uint32_t kEnd64Signature = 0x06064b50;
constexpr uint32_t kRecordSignature = 0x02014b50;
constexpr uint32_t kLocalSignature = 0x04034b50;
constexpr size_t kEndSize = 22;
constexpr size_t kLocatorSize = 20;
constexpr size_t kRecordSize = 46; // without its name, extra field and comment

// The directory of size bytes that claims to start at offset and must end by end.
std::optional<ZipDirectory> DirectoryBefore(uint64_t offset, uint64_t size, uint64_t end,
                                            std::string* error) {
    if (offset > end || size > end - offset) {
        *error = "its directory (" + std::to_string(size) + " bytes at " + std::to_string(offset) +
                 ") does not fit before its end record at " + std::to_string(end);
        return std::nullopt;
    }
    return ZipDirectory{end - size, size};
}

} // namespace

ZipEnd FindZipEnd(std::string_view tail, uint64_t fileSize) {
    ZipEnd result;
    if (tail.size() < kEndSize || tail.size() > fileSize) {
        result.error = "too short for a ZIP file";
        return result;
    }
    const uint64_t tailStart = fileSize - tail.size();
    // The last end record whose comment fits in the file: a signature found inside a comment
    // claims a comment running past the end.
    for (size_t at = tail.size() - kEndSize + 1; at-- > 0;) {
        if (Le32(tail, at) != kEndSignature || at + kEndSize + Le16(tail, at + 20) > tail.size())
            continue;
        const uint64_t endOffset = tailStart + at;
        // A ZIP64 locator just before the end record: the ZIP64 end record describes the
        // directory, which then lies before that record (the end record's own numbers may
        // be cut to their fields' size, or be the real ones).
        if (at >= kLocatorSize && Le32(tail, at - kLocatorSize) == kLocatorSignature) {
            const uint64_t record = LittleEndian(tail, at - kLocatorSize + 8, 8);
            const uint64_t limit = endOffset - kLocatorSize;
            if (record > limit || kZip64EndSize > limit - record) {
                result.error = "its ZIP64 end record lies outside the file";
                return result;
            }
            result.zip64End = record;
            return result;
        }
        if (Le16(tail, at + 4) != 0 || Le16(tail, at + 6) != 0) {
            result.error = "it is one part of an archive split into several files";
            return result;
        }
        result.directory =
            DirectoryBefore(Le32(tail, at + 16), Le32(tail, at + 12), endOffset, &result.error);
        return result;
    }
    result.error = "no ZIP end record";
    return result;
}

std::optional<ZipDirectory> ReadZip64End(std::string_view record, uint64_t recordOffset,
                                         std::string* error) {
    if (record.size() < kZip64EndSize || Le32(record, 0) != kEnd64Signature) {
        *error = "no ZIP64 end record where its locator points";
        return std::nullopt;
    }
    if (Le32(record, 16) != 0 || Le32(record, 20) != 0) {
        *error = "it is one part of an archive split into several files";
        return std::nullopt;
    }
    return DirectoryBefore(LittleEndian(record, 48, 8), LittleEndian(record, 40, 8), recordOffset,
                           error);
}

bool ReadZipNames(std::string_view data, size_t& used,
                  const std::function<void(std::string_view name)>& onName, std::string* error) {
    return ReadZipRecords(
        data, used, [&onName](const ZipRecord& record) { onName(record.name); }, error);
}

bool ReadZipRecords(std::string_view data, size_t& used,
                    const std::function<void(const ZipRecord&)>& onRecord, std::string* error) {
    used = 0;
    while (data.size() - used >= kRecordSize) {
        const std::string_view record = data.substr(used);
        if (Le32(record, 0) != kRecordSignature) {
            *error = "no directory record where one should begin";
            return false;
        }
        const size_t nameSize = Le16(record, 28);
        const size_t size = kRecordSize + nameSize + Le16(record, 30) + Le16(record, 32);
        if (record.size() < size)
            break; // the rest comes with the next piece
        ZipRecord entry;
        entry.name = record.substr(kRecordSize, nameSize);
        entry.flags = Le16(record, 8);
        entry.method = Le16(record, 10);
        entry.packedSize = Le32(record, 20);
        entry.size = Le32(record, 24);
        entry.localHeader = Le32(record, 42);
        onRecord(entry);
        used += size;
    }
    return true;
}

std::optional<uint64_t> ZipDataStart(std::string_view localHeader, uint64_t offset,
                                     std::string* error) {
    if (localHeader.size() < kZipLocalHeaderSize || Le32(localHeader, 0) != kLocalSignature) {
        *error = "no local header where its directory record points";
        return std::nullopt;
    }
    return offset + kZipLocalHeaderSize + Le16(localHeader, 26) + Le16(localHeader, 28);
}

} // namespace vexo
