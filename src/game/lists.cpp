#include "game/lists.h"

#include "game/game_script.h"

#include <algorithm>
#include <cctype>

#include "game/engine.h"
#include "game/pk3.h"
#include "platform/fs.h"
#include "settings/folders.h"
#include "util/no_case.h"
#include "util/path.h"

namespace vexo {

namespace {

std::string ToLower(std::string text) {
    for (char& ch : text)
        ch = static_cast<char>(std::tolower(static_cast<unsigned char>(ch)));
    return text;
}

// Appends name unless an equal name is there already. Lower-cased names of entries that
// differ only in letter case (possible where the file system tells them apart) would
// otherwise show twice and still name one entry.
void AddUnique(std::vector<std::string>& names, const std::string& name) {
    if (std::find(names.begin(), names.end(), name) == names.end())
        names.push_back(name);
}

} // namespace

std::string ModDirectoryPath(const std::string& base, const std::string& mod, char sep) {
    return JoinPath(base, mod, sep);
}

std::vector<std::string> ModDirectoryPaths(const std::string& base, const std::string& mod,
                                           char sep) {
    std::vector<std::string> dirs;
    for (const std::string& folder : GameFolders(base))
        dirs.push_back(ModDirectoryPath(folder, mod, sep));
    return dirs;
}

std::string ConfigDirectoryPath(const std::string& programDir) {
    return FoldersFor(programDir).configDirs.front();
}

std::string ConfigFilePath(const std::string& programDir, const std::string& config, char sep) {
    return FindConfigFile(FoldersFor(programDir), config, sep);
}

bool IsSafeDemoName(const std::string& name) {
    // The game script's own rule, and no other control character either: a name the
    // list shows must also be one the user can read and copy.
    return IsSafeDemoBaseName(name) && std::none_of(name.begin(), name.end(), [](char ch) {
               const auto byte = static_cast<unsigned char>(ch);
               return byte < 0x20 || byte == 0x7F;
           });
}

std::vector<std::string> ListModifications(const std::string& base) {
    using namespace platform;
    std::vector<std::string> mods;
    if (base.empty())
        return mods; // no game directory: nothing to scan (not the file system's root)
    for (const std::string& name : FindMatches(JoinPath(base, "*.*", kPathSep), true)) {
        const std::string dir = ModDirectoryPath(base, name, kPathSep);
        if (FileExists(dir))
            continue;
        if (CountMatchingFiles(JoinPath(dir, "*.pk3", kPathSep)) == 0)
            continue;
        AddUnique(mods, ToLower(name));
    }
    return mods;
}

std::vector<std::string> ListDemos(const std::string& modDir) {
    using namespace platform;
    std::vector<std::string> demos;
    for (const std::string& name :
         FindMatches(JoinPath(modDir, "demos", "*.dm_*", kPathSep), false)) {
        if (IsSafeDemoName(name))
            demos.push_back(name);
    }
    return demos;
}

std::vector<std::string> ListConfigs() {
    using namespace platform;
    std::vector<std::string> configs;
    for (const std::string& dir : CurrentFolders().configDirs) {
        for (const std::string& name : FindMatches(JoinPath(dir, "*.cfg", kPathSep), false))
            AddUnique(configs, ToLower(name));
    }
    return configs;
}

std::vector<std::string> ListGameModifications(const std::string& base) {
    std::vector<std::string> mods;
    for (const std::string& folder : GameFolders(base))
        for (const std::string& mod : ListModifications(folder))
            AddUnique(mods, mod);
    return mods;
}

std::vector<std::string> ListModDemos(const std::vector<std::string>& modDirs) {
    std::vector<std::string> demos;
    auto add = [&demos](const std::string& demo) {
        if (std::none_of(demos.begin(), demos.end(),
                         [&](const std::string& d) { return EqualNoCase(d, demo); }))
            demos.push_back(demo);
    };
    for (const std::string& modDir : modDirs)
        for (const std::string& demo : ListDemos(modDir))
            add(demo);
    for (const std::string& modDir : modDirs)
        for (const std::string& demo : ListPackedDemos(modDir))
            add(demo);
    return demos;
}

} // namespace vexo
