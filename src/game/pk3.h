// The game's pk3 files: ZIP archives whose entries the engine reads like files of the
// modification's folder, without regard to letter case.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace vexo {

// Hands the name of every entry of the pk3 at path to onName, as its directory lists them,
// reading only the directory at the file's end. False, with error saying why, when the file
// cannot be read or is no ZIP file; the names handed over before stay handed over.
bool ReadPk3Names(const std::string& path, const std::function<void(std::string_view)>& onName,
                  std::string* error);

// The demo an entry of a pk3 is, as the engine finds it: the rest of its name when it lies
// directly in the pk3's "demos" folder (either separator, any letter case) and matches
// "*.dm_*"; empty otherwise.
std::string PackedDemoName(std::string_view entry);

// One entry of a pk3, read from its start to its end; stored or deflated, the ways the engine
// reads.
class Pk3Entry {
public:
    Pk3Entry();
    ~Pk3Entry();
    Pk3Entry(const Pk3Entry&) = delete;
    Pk3Entry& operator=(const Pk3Entry&) = delete;

    // Opens the first entry of the pk3 at path, in its directory's order, whose name wanted
    // takes. False, with error saying why, when there is none or it cannot be read.
    bool Open(const std::string& path, const std::function<bool(std::string_view)>& wanted,
              std::string* error);
    // Its size unpacked, as the directory says.
    uint64_t Size() const;
    // Reads its next bytes, up to size of them, into data: how many, fewer only at its end (no
    // more than Size() in all). Nothing, with error saying why, when its data is damaged or
    // cannot be read.
    std::optional<size_t> Read(char* data, size_t size, std::string* error);

private:
    struct State;
    std::unique_ptr<State> state_;
};

// The demos packed in the pk3 files of a modification's folder: the entries directly in
// their "demos" folder whose names match "*.dm_*" and are safe for the game script
// (IsSafeDemoName), as the pk3 spells them, each name once. A pk3 that cannot be read is
// skipped, and logged.
std::vector<std::string> ListPackedDemos(const std::string& modDir);
// True when one of the folders' pk3 files holds the demo demoItem, without regard to case.
bool PackedDemoExists(const std::vector<std::string>& modDirs, const std::string& demoItem);

} // namespace vexo
