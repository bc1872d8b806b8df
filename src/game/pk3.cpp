#include "game/pk3.h"

#include <algorithm>
#include <map>
#include <mutex>

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

// The demo an entry is when it lies directly in the pk3's "demos" folder: the rest of its
// name; empty otherwise. Letter case and the separator are the engine's concern only.
std::string DemoOfEntry(std::string_view entry) {
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
                std::string demo = DemoOfEntry(entry);
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

} // namespace

bool ReadPk3Names(const std::string& path, const std::function<void(std::string_view)>& onName,
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
        if (!ReadZipNames(piece, used, onName, error)) {
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

} // namespace vexo
