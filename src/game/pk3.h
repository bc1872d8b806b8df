// The game's pk3 files: ZIP archives whose entries the engine reads like files of the
// modification's folder, without regard to letter case.
#pragma once

#include <functional>
#include <string>
#include <string_view>
#include <vector>

namespace vexo {

// Hands the name of every entry of the pk3 at path to onName, as its directory lists them,
// reading only the directory at the file's end. False, with error saying why, when the file
// cannot be read or is no ZIP file; the names handed over before stay handed over.
bool ReadPk3Names(const std::string& path, const std::function<void(std::string_view)>& onName,
                  std::string* error);

// The demos packed in the pk3 files of a modification's folder: the entries directly in
// their "demos" folder whose names match "*.dm_*" and are safe for the game script
// (IsSafeDemoName), as the pk3 spells them, each name once. A pk3 that cannot be read is
// skipped, and logged.
std::vector<std::string> ListPackedDemos(const std::string& modDir);
// True when one of the folders' pk3 files holds the demo demoItem, without regard to case.
bool PackedDemoExists(const std::vector<std::string>& modDirs, const std::string& demoItem);

} // namespace vexo
