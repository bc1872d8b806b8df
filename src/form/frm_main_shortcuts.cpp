// The small buttons that hand the current selection to other programs (the game, the file
// browser, a text editor), and the main window's links to the web and the codec installer.
#include <algorithm>

#include "form/frm_main.h"
#include "game/engine.h"
#include "game/lists.h"
#include "game/shortcuts.h"
#include "platform/fs.h"
#include "platform/log.h"
#include "platform/process.h"
#include "util/path.h"

namespace vexo {

namespace {

// The program lower-cases modification and config names; where the file system tells
// letter cases apart, the shell must be handed the entry as it is on disk.
std::string OnDisk(const std::string& path) {
    return platform::ResolvePathCase(path);
}

void ShowError(IFormHost& host, const std::string& text) {
    host.MessageBox(text, "Error", MB_OK | MB_ICONERROR);
}

// Shows a folder in the desktop's file manager, or says why it cannot.
void OpenFolder(IFormHost& host, const std::string& dir) {
    const std::string folder = OnDisk(dir);
    if (!platform::DirectoryExists(folder)) {
        platform::LogFailure("shortcuts",
                             "cannot open the folder " + folder + ": it does not exist");
        return ShowError(host, "The folder \"" + folder + "\" does not exist.");
    }
    if (!host.ShellExecute("open", folder, "", "", SW_SHOW)) {
        platform::LogFailure("shortcuts", "no program was found to show the folder " + folder);
        ShowError(host,
                  "The folder \"" + folder +
                      "\" could not be opened: no program to show folders was found. Install "
                      "xdg-utils (its xdg-open finds your desktop's file manager), or open the "
                      "folder in a file manager yourself.");
    }
}

} // namespace

void TfrmMain::btnRunModClick() {
    MainControls& c = Controls;
    if (c.cbMods.ItemIndex() < 0)
        return;
    const std::string base = c.edBasePath.Text();
    // The game as a recording starts it: a native engine is told where the game is.
    const GameEngine engine = FindGameEngine(base);
    const std::string params =
        EngineArguments(engine, base) +
        GameParameters(c.cbMods.Text(), c.cbModes.ItemIndex(), c.cbWindowed.Checked());
    ShowStatus("Launching modification...");
    const std::string game = OnDisk(engine.PathIn(base, platform::kPathSep));
    if (platform::IsWindowsProgram(game)) { // run by Wine, as a recording starts it
        std::string quoted = "\"";
        quoted.append(game).append("\" ");
        host_.ShellExecute("open", platform::kWindowsProgramLoader, quoted + params, OnDisk(base),
                           SW_SHOW);
    } else {
        host_.ShellExecute("open", game, params, OnDisk(base), SW_SHOW);
    }
    host_.Sleep(400);
    ShowStatus("Ready.");
}

void TfrmMain::btnOpenModDirClick() {
    MainControls& c = Controls;
    if (c.cbMods.ItemIndex() < 0)
        return;
    // A packaged game's modification folder in the home, where the player's own files are,
    // when it is there.
    const std::vector<std::string> dirs =
        ModDirectoryPaths(c.edBasePath.Text(), c.cbMods.Text(), platform::kPathSep);
    const auto found = std::find_if(dirs.begin(), dirs.end(), platform::DirectoryExists);
    ShowStatus("Opening modification directory...");
    OpenFolder(host_, found == dirs.end() ? dirs.back() : *found);
    host_.Sleep(250);
    ShowStatus("Ready.");
}

void TfrmMain::btnEditConfigClick() {
    MainControls& c = Controls;
    if (c.cbConfigs.ItemIndex() < 0)
        return;
    const std::string programDir = platform::ProgramDirectory();
    const std::string file = EditableConfig(
        programDir, ConfigFilePath(programDir, c.cbConfigs.Text(), platform::kPathSep));
    ShowStatus("Launching notepad...");
    if (!platform::FileExists(file)) {
        platform::LogFailure("shortcuts", "cannot edit the config " + file + ": it does not exist");
        ShowError(host_, "The config \"" + file + "\" does not exist.");
    } else if (!host_.ShellExecute("open", "notepad.exe", NotepadParameters(OnDisk(file)), "",
                                   SW_SHOW)) {
        platform::LogFailure("shortcuts",
                             "no program was found to edit the config " + OnDisk(file));
        ShowError(host_, "The config \"" + OnDisk(file) +
                             "\" could not be opened: no text editor was found. Install "
                             "xdg-utils (its xdg-open finds your desktop's editor), or open the "
                             "file in a text editor yourself.");
    }
    host_.Sleep(250);
    ShowStatus("Ready.");
}

void TfrmMain::btnOpenConfigDirClick() {
    const std::string dir = ConfigDirectoryPath(platform::ProgramDirectory());
    ShowStatus("Opening config file directory...");
    OpenFolder(host_, dir);
    host_.Sleep(250);
    ShowStatus("Ready.");
}

void TfrmMain::btnOpenDemosDirClick() {
    MainControls& c = Controls;
    if (c.cbMods.ItemIndex() < 0)
        return;
    // The first demos folder there is, a packaged game's home first (and named first when
    // there is none).
    std::vector<std::string> dirs;
    for (const std::string& modDir :
         ModDirectoryPaths(c.edBasePath.Text(), c.cbMods.Text(), platform::kPathSep))
        dirs.push_back(JoinPath(modDir, "demos", platform::kPathSep));
    const auto found = std::find_if(dirs.begin(), dirs.end(), platform::DirectoryExists);
    ShowStatus("Opening demos directory...");
    OpenFolder(host_, found == dirs.end() ? dirs.front() : *found);
    host_.Sleep(250);
    ShowStatus("Ready.");
}

void TfrmMain::imgAppBannerClick() {
    host_.ShellExecute("open", kMakerAddress, "", "", SW_SHOWMINNOACTIVE);
}

void TfrmMain::imgPpBannerClick() {
    host_.ShellExecute("open", kDonationAddress, "", "", SW_SHOWMINNOACTIVE);
    ShowStatus("Thank you!");
}

void TfrmMain::Label11DblClick() {
    const std::string setup = CodecSetupPath(platform::ProgramDirectory(), platform::kPathSep);
    if (!platform::FileExists(setup)) {
        host_.MessageBox("Huffyuv codec install failed.", "Error", MB_OK | MB_ICONERROR);
        return;
    }
    host_.ShellExecute("install", OnDisk(setup), "", "", SW_SHOWNORMAL);
    host_.MessageBox("Huffyuv codec installed.", "Notice", MB_OK | MB_ICONWARNING);
}

} // namespace vexo
