#include "game/lists.h"

#include "game/game_script.h"

#include <algorithm>
#include <cctype>

#include "game/engine.h"
#include "platform/fs.h"
#include "settings/folders.h"
#include "settings/ini.h"

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
    return base + sep + mod;
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
    for (const std::string& name : FindMatches(base + kPathSep + "*.*", true)) {
        const std::string dir = ModDirectoryPath(base, name, kPathSep);
        if (FileExists(dir))
            continue;
        if (CountMatchingFiles(dir + kPathSep + "*.pk3") == 0)
            continue;
        AddUnique(mods, ToLower(name));
    }
    return mods;
}

std::vector<std::string> ListDemos(const std::string& modDir) {
    using namespace platform;
    std::vector<std::string> demos;
    for (const std::string& name :
         FindMatches(modDir + kPathSep + "demos" + kPathSep + "*.dm_*", false)) {
        if (IsSafeDemoName(name))
            demos.push_back(name);
    }
    return demos;
}

std::vector<std::string> ListConfigs() {
    using namespace platform;
    std::vector<std::string> configs;
    for (const std::string& dir : CurrentFolders().configDirs) {
        for (const std::string& name : FindMatches(dir + kPathSep + "*.cfg", false))
            AddUnique(configs, ToLower(name));
    }
    return configs;
}

void edBasePathChange(MainControls& c) {
    const std::string ini = SettingsFilePath();

    c.cbMods.Clear();
    std::vector<std::string> mods;
    for (const std::string& folder : GameFolders(c.edBasePath.Text()))
        for (const std::string& mod : ListModifications(folder))
            AddUnique(mods, mod);
    for (const std::string& mod : mods)
        c.cbMods.Add(mod);
    // The base game stands in for a modification not chosen yet: baseq3, or OpenArena's baseoa.
    const std::string baseGame = FindBaseGame(c.edBasePath.Text());
    c.cbMods.SetItemIndex(c.cbMods.IndexOfNoCase(
        ReadIniString(ini, "settings", "lastmod", baseGame.empty() ? "baseq3" : baseGame)));
    cbModsChange(c);

    c.cbConfigs.Clear();
    for (const std::string& config : ListConfigs())
        c.cbConfigs.Add(config);
    if (!c.cbConfigs.Items().empty())
        c.cbConfigs.SetItemIndex(0);
    const int last =
        c.cbConfigs.IndexOfNoCase(ReadIniString(ini, "settings", "lastcfg", "default.cfg"));
    if (last >= 0)
        c.cbConfigs.SetItemIndex(last);
}

void cbModsChange(MainControls& c) {
    using namespace platform;
    if (c.cbMods.ItemIndex() < 0)
        return;
    const std::string mod = c.cbMods.Text();
    const std::vector<std::string> modDirs = ModDirectoryPaths(c.edBasePath.Text(), mod, kPathSep);

    // A demo in both of a packaged game's folders is listed once: the engine plays the one in
    // the home, which it looks into first.
    c.clbDemos.Clear();
    std::vector<std::string> demos;
    for (const std::string& modDir : modDirs)
        for (const std::string& demo : ListDemos(modDir))
            if (std::none_of(demos.begin(), demos.end(),
                             [&](const std::string& d) { return EqualNoCase(d, demo); }))
                demos.push_back(demo);
    for (const std::string& demo : demos)
        c.clbDemos.Add(demo);
    const bool any = c.clbDemos.Count() > 0;
    c.clbDemos.SetColor(any ? TColor::clWindow : TColor::clBtnFace);
    c.clbDemos.SetEnabled(any);

    c.btnOpenModDir.SetEnabled(std::any_of(modDirs.begin(), modDirs.end(), DirectoryExists));
    WriteIniString(SettingsFilePath(), "settings", "lastmod", mod);
}

void clbDemosClick(MainControls& c) {
    c.edDemoName.SetText("");
    const int index = c.clbDemos.ItemIndex();
    if (index >= 0 && index < c.clbDemos.Count())
        c.edDemoName.SetText(c.clbDemos.ItemText(index));
}

void edDemoNameMouseDown(MainControls& c) {
    c.edDemoName.SetSelection(0, 999);
}

void Button1Click(MainControls& c, IFormHost& host) {
    ShowStatus(c, host, "Refreshing list of demos...");
    cbModsChange(c);
    host.Sleep(250);
    ShowStatus(c, host, "Ready.");
}

} // namespace vexo
