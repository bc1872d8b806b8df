#include "game/pk3.h"

#include <algorithm>
#include <map>
#include <mutex>
#include <zlib.h>

#include "game/lists.h"
#include "platform/file_reader.h"
#include "platform/fs.h"
#include "platform/log.h"
#include "util/no_case.h"
#include "util/path.h"
#include "util/zip_directory.h"

namespace vexo {

namespace {

// The directory is read in pieces of this size: a damaged file that claims a directory of
// gigabytes costs no more memory than a sound one.
constexpr size_t kPieceSize = size_t{1} << 20;
// A packed entry's data is read in pieces of this size.
constexpr size_t kInputSize = size_t{64} << 10;
constexpr uint16_t kStored = 0, kDeflated = 8;

// A pk3 that cannot be read is logged once for each version of the file, not at every
// rebuild of the demo list.
void LogUnreadable(const std::string& path, const std::string& why) {
    static std::mutex mutex;
    static std::map<std::string, platform::FileStamp> logged;
    const platform::FileStamp stamp = platform::StampOf(path);
    {
        const std::lock_guard<std::mutex> lock(mutex);
        const auto [entry, added] = logged.try_emplace(path, stamp);
        if (!added && entry->second == stamp)
            return;
        entry->second = stamp;
    }
    platform::LogFailure("lists", "skipped " + platform::ResolvePathCase(path) +
                                      ", a pk3 that cannot be read: " + why);
}

// The packed demos of every readable pk3 of modDir, in the order of the pk3 names.
std::vector<std::string> PackedDemosOf(const std::string& modDir) {
    std::vector<std::string> pk3s =
        platform::FindMatches(JoinPath(modDir, "*.pk3", platform::kPathSep), false);
    std::sort(pk3s.begin(), pk3s.end());
    std::vector<std::string> demos;
    for (const std::string& name : pk3s) {
        const std::string path = JoinPath(modDir, name, platform::kPathSep);
        std::vector<std::string> found;
        std::string error;
        const bool read = ReadPk3Names(
            path,
            [&found](std::string_view entry) {
                std::string demo = PackedDemoName(entry);
                if (!demo.empty() && IsSafeDemoName(demo))
                    found.push_back(std::move(demo));
            },
            &error);
        if (!read) {
            LogUnreadable(path, error);
            continue;
        }
        demos.insert(demos.end(), found.begin(), found.end());
    }
    return demos;
}

// Hands every record of the pk3's directory to onRecord, reading the directory in pieces.
bool ReadPk3Records(const std::string& path, const std::function<void(const ZipRecord&)>& onRecord,
                    std::string* error) {
    platform::FileReader file;
    if (!file.Open(path, error))
        return false;
    const uint64_t size = file.Size();
    std::string piece(static_cast<size_t>(std::min<uint64_t>(size, kZipTailSize)), '\0');
    if (!file.ReadAt(size - piece.size(), piece.size(), piece.data(), error))
        return false;
    ZipEnd end = FindZipEnd(piece, size);
    if (end.zip64End) {
        piece.assign(kZip64EndSize, '\0');
        if (!file.ReadAt(*end.zip64End, piece.size(), piece.data(), error))
            return false;
        end.directory = ReadZip64End(piece, *end.zip64End, &end.error);
    }
    if (!end.directory) {
        *error = end.error;
        return false;
    }
    piece.clear();
    uint64_t pieceStart = end.directory->start; // where piece begins in the file
    uint64_t next = pieceStart;                 // the first byte not read yet
    const uint64_t stop = next + end.directory->size;
    while (next < stop) {
        const size_t kept = piece.size();
        const auto more = static_cast<size_t>(std::min<uint64_t>(stop - next, kPieceSize));
        piece.resize(kept + more);
        if (!file.ReadAt(next, more, piece.data() + kept, error))
            return false;
        next += more;
        size_t used = 0;
        if (!ReadZipRecords(piece, used, onRecord, error)) {
            *error += " (at byte " + std::to_string(pieceStart + used) + ")";
            return false;
        }
        piece.erase(0, used);
        pieceStart += used;
    }
    if (!piece.empty()) {
        *error = "its directory ends inside a record";
        return false;
    }
    return true;
}

} // namespace

bool ReadPk3Names(const std::string& path, const std::function<void(std::string_view)>& onName,
                  std::string* error) {
    return ReadPk3Records(
        path, [&onName](const ZipRecord& record) { onName(record.name); }, error);
}

std::string PackedDemoName(std::string_view entry) {
    constexpr std::string_view kFolder = "demos/";
    if (entry.size() <= kFolder.size())
        return {};
    for (size_t i = 0; i < kFolder.size(); ++i)
        if ((entry[i] == '\\' ? '/' : LowerAscii(entry[i])) != kFolder[i])
            return {};
    const std::string_view name = entry.substr(kFolder.size());
    if (name.find_first_of("/\\") != std::string_view::npos ||
        !platform::WildcardMatch(std::string(name), "*.dm_*"))
        return {};
    return std::string(name);
}

std::vector<std::string> ListPackedDemos(const std::string& modDir) {
    std::vector<std::string> demos;
    for (const std::string& demo : PackedDemosOf(modDir))
        if (std::none_of(demos.begin(), demos.end(),
                         [&](const std::string& d) { return EqualNoCase(d, demo); }))
            demos.push_back(demo);
    return demos;
}

bool PackedDemoExists(const std::vector<std::string>& modDirs, const std::string& demoItem) {
    return std::any_of(modDirs.begin(), modDirs.end(), [&](const std::string& dir) {
        const std::vector<std::string> demos = PackedDemosOf(dir);
        return std::any_of(demos.begin(), demos.end(),
                           [&](const std::string& d) { return EqualNoCase(d, demoItem); });
    });
}

struct Pk3Entry::State {
    platform::FileReader file;
    bool deflated = false;
    uint64_t next = 0; // the first byte of its data not read from the file yet
    uint64_t packedLeft = 0;
    uint64_t size = 0;
    uint64_t given = 0; // the bytes handed out
    bool ended = false; // a deflated entry's stream has ended
    z_stream stream{};
    bool streamOpen = false;
    std::string input;

    ~State() {
        if (streamOpen)
            inflateEnd(&stream);
    }
};

Pk3Entry::Pk3Entry() = default;
Pk3Entry::~Pk3Entry() = default;

bool Pk3Entry::Open(const std::string& path, const std::function<bool(std::string_view)>& wanted,
                    std::string* error) {
    state_.reset();
    std::optional<ZipRecord> found;
    if (!ReadPk3Records(
            path,
            [&](const ZipRecord& record) {
                if (!found && wanted(record.name)) {
                    found = record;
                    found->name = {}; // the name does not outlive the directory's piece
                }
            },
            error))
        return false;
    if (!found) {
        *error = "it holds no such entry";
        return false;
    }
    constexpr uint32_t kInZip64 = 0xFFFFFFFF;
    if (found->packedSize == kInZip64 || found->size == kInZip64 ||
        found->localHeader == kInZip64 || (found->flags & 1) != 0 ||
        (found->method != kStored && found->method != kDeflated)) {
        *error = "the entry is encrypted, packed in a way the game does not read, or kept in "
                 "ZIP64 fields";
        return false;
    }
    auto state = std::make_unique<State>();
    if (!state->file.Open(path, error))
        return false;
    std::string header(kZipLocalHeaderSize, '\0');
    if (!state->file.ReadAt(found->localHeader, header.size(), header.data(), error))
        return false;
    const std::optional<uint64_t> start = ZipDataStart(header, found->localHeader, error);
    if (!start)
        return false;
    if (*start > state->file.Size() || found->packedSize > state->file.Size() - *start) {
        *error = "the entry's data runs past the end of the file";
        return false;
    }
    state->next = *start;
    state->packedLeft = found->packedSize;
    state->size = found->size;
    state->deflated = found->method == kDeflated;
    if (state->deflated) {
        // Raw deflate data, without the zlib header.
        if (inflateInit2(&state->stream, -MAX_WBITS) != Z_OK) {
            *error = "the inflater cannot be started";
            return false;
        }
        state->streamOpen = true;
    }
    state_ = std::move(state);
    return true;
}

uint64_t Pk3Entry::Size() const {
    return state_ ? state_->size : 0;
}

std::optional<size_t> Pk3Entry::Read(char* data, size_t size, std::string* error) {
    if (!state_) {
        *error = "no entry is open";
        return std::nullopt;
    }
    State& s = *state_;
    // Never more than the directory says: damaged data cannot make an entry endless.
    size = static_cast<size_t>(std::min<uint64_t>(size, s.size - s.given));
    if (!s.deflated) {
        size = static_cast<size_t>(std::min<uint64_t>(size, s.packedLeft));
        if (size > 0 && !s.file.ReadAt(s.next, size, data, error))
            return std::nullopt;
        s.next += size;
        s.packedLeft -= size;
        s.given += size;
        return size;
    }
    s.stream.next_out = reinterpret_cast<Bytef*>(data);
    s.stream.avail_out = static_cast<uInt>(size);
    while (s.stream.avail_out > 0 && !s.ended) {
        if (s.stream.avail_in == 0) {
            if (s.packedLeft == 0) {
                *error = "the entry's deflated data ends early";
                return std::nullopt;
            }
            s.input.resize(static_cast<size_t>(std::min<uint64_t>(s.packedLeft, kInputSize)));
            if (!s.file.ReadAt(s.next, s.input.size(), s.input.data(), error))
                return std::nullopt;
            s.next += s.input.size();
            s.packedLeft -= s.input.size();
            s.stream.next_in = reinterpret_cast<Bytef*>(s.input.data());
            s.stream.avail_in = static_cast<uInt>(s.input.size());
        }
        const int result = inflate(&s.stream, Z_NO_FLUSH);
        if (result == Z_STREAM_END) {
            s.ended = true;
        } else if (result != Z_OK) {
            *error = std::string("the entry's deflated data is damaged: ") +
                     (s.stream.msg ? s.stream.msg : "inflate failed");
            return std::nullopt;
        }
    }
    const size_t read = size - s.stream.avail_out;
    s.given += read;
    return read;
}

} // namespace vexo
