// The game directory and the lists: locating the game and the output folder, the
// modification, demo and config lists, the demo name field and the demo list's refresh.
#include <algorithm>

#include "form/frm_main.h"
#include "game/discovery.h"
#include "game/engine.h"
#include "game/lists.h"
#include "platform/fs.h"
#include "settings/ini.h"

namespace vexo {

void TfrmMain::btnBasePathSetClick() {
    MainControls& c = Controls;
    OpenDialogOptions options;
    options.title = kLocateGameTitle;
    options.filter = EngineFilter();
    options.fileName = "quake3.exe";
    options.defaultExt = "exe";
    // A packaged game has no engine of its own to pick: its folder may be chosen itself.
    options.acceptsFolder = IsGameDirectory;
    options.directory =
        platform::DirectoryExists(c.edBasePath.Text()) ? c.edBasePath.Text() : FindInstalledGame();
    const std::optional<std::string> chosen = host_.OpenFileDialog(options);
    if (!chosen) {
        c.edBasePath.SetText("");
        return;
    }
    // The field takes the directory with its separator first, then without it; the lists
    // follow each change, so locating the directory already shown still rebuilds them.
    c.edBasePath.SetText(DirectoryPartOfFile(*chosen, platform::kPathSep));
    c.edBasePath.SetText(DirectoryOfChosenFile(*chosen, platform::kPathSep));
    if (!IsGameDirectory(c.edBasePath.Text())) {
        c.edBasePath.SetText("");
        host_.MessageBox(kGameNotFound, "Error", MB_OK | MB_ICONERROR);
        return;
    }
    WriteIniString(SettingsFilePath(), "paths", "quake", c.edBasePath.Text());
}

void TfrmMain::btnOutPathSetClick() {
    MainControls& c = Controls;
    OpenDialogOptions options;
    options.title = kOutputFolderTitle;
    options.filter = kOutputFolderPlaceholder;
    options.fileName = kOutputFolderPlaceholder;
    options.directory = c.edOutPath.Text();
    const std::optional<std::string> chosen = host_.ChooseFolderDialog(options);
    if (!chosen) {
        c.edOutPath.SetText("");
        return;
    }
    c.edOutPath.SetText(DirectoryPartOfFile(*chosen, platform::kPathSep));
    c.edOutPath.SetText(DirectoryOfChosenFile(*chosen, platform::kPathSep));
    WriteIniString(SettingsFilePath(), "paths", "output", c.edOutPath.Text());
}

// Rebuilds the three lists for the game directory (and a packaged game's home) and restores
// the stored selections.
void TfrmMain::edBasePathChange() {
    MainControls& c = Controls;
    const std::string ini = SettingsFilePath();

    c.cbMods.Clear();
    for (const std::string& mod : ListGameModifications(c.edBasePath.Text()))
        c.cbMods.Add(mod);
    // The base game stands in for a modification not chosen yet: baseq3, or OpenArena's baseoa.
    const std::string baseGame = FindBaseGame(c.edBasePath.Text());
    c.cbMods.SetItemIndex(c.cbMods.IndexOfNoCase(
        ReadIniString(ini, "settings", "lastmod", baseGame.empty() ? "baseq3" : baseGame)));
    cbModsChange();
    // A game path with no game: the demos of the folder shown before are not this one's.
    if (c.cbMods.Items().empty() && !c.edBasePath.Text().empty()) {
        c.clbDemos.Clear();
        c.clbDemos.SetColor(TColor::clBtnFace);
        c.clbDemos.SetEnabled(false);
        c.btnOpenModDir.SetEnabled(false);
    }

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

// Rebuilds the demo list of the selected modification, from each of its folders, and stores
// it as "lastmod".
void TfrmMain::cbModsChange() {
    MainControls& c = Controls;
    if (c.cbMods.ItemIndex() < 0)
        return;
    const std::string mod = c.cbMods.Text();
    const std::vector<std::string> modDirs =
        ModDirectoryPaths(c.edBasePath.Text(), mod, platform::kPathSep);

    c.clbDemos.Clear();
    for (const std::string& demo : ListModDemos(modDirs))
        c.clbDemos.Add(demo);
    const bool any = c.clbDemos.Count() > 0;
    c.clbDemos.SetColor(any ? TColor::clWindow : TColor::clBtnFace);
    c.clbDemos.SetEnabled(any);

    c.btnOpenModDir.SetEnabled(
        std::any_of(modDirs.begin(), modDirs.end(), platform::DirectoryExists));
    WriteIniString(SettingsFilePath(), "settings", "lastmod", mod);
}

// Shows the selected demo's name in the demo name field.
void TfrmMain::clbDemosClick() {
    MainControls& c = Controls;
    c.edDemoName.SetText("");
    const int index = c.clbDemos.ItemIndex();
    if (index >= 0 && index < c.clbDemos.Count())
        c.edDemoName.SetText(c.clbDemos.ItemText(index));
}

// Selects the whole demo name so that it can be copied.
void TfrmMain::edDemoNameMouseDown() {
    Controls.edDemoName.SetSelection(0, 999);
}

void TfrmMain::Button1Click() {
    ShowStatus("Refreshing list of demos...");
    cbModsChange();
    host_.Sleep(250);
    ShowStatus("Ready.");
}

} // namespace vexo
