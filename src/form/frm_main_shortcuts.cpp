// The small buttons that hand the current selection to other programs (the game, the file
// browser, a text editor), and the main window's links to the web and the codec installer.
#include <algorithm>

#include "form/frm_main.h"
#include "game/engine.h"
#include "game/lists.h"
#include "game/shortcuts.h"
#include "platform/fs.h"
#include "platform/process.h"
#include "util/path.h"

namespace vexo {

namespace {

// The program lower-cases modification and config names; where the file system tells
// letter cases apart, the shell must be handed the entry as it is on disk.
std::string OnDisk(const std::string& path) {
    return platform::ResolvePathCase(path);
}

void Open(IFormHost& host, const std::string& target) {
    host.ShellExecute("open", OnDisk(target), "", "", SW_SHOW);
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
    Open(host_, found == dirs.end() ? dirs.back() : *found);
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
    host_.ShellExecute("open", "notepad.exe", NotepadParameters(OnDisk(file)), "", SW_SHOW);
    host_.Sleep(250);
    ShowStatus("Ready.");
}

void TfrmMain::btnOpenConfigDirClick() {
    const std::string dir = ConfigDirectoryPath(platform::ProgramDirectory());
    ShowStatus("Opening config file directory...");
    if (platform::DirectoryExists(dir))
        Open(host_, dir);
    host_.Sleep(250);
    ShowStatus("Ready.");
}

void TfrmMain::btnOpenDemosDirClick() {
    MainControls& c = Controls;
    if (c.cbMods.ItemIndex() < 0)
        return;
    // The first demos folder there is, a packaged game's home first.
    std::string dir;
    for (const std::string& modDir :
         ModDirectoryPaths(c.edBasePath.Text(), c.cbMods.Text(), platform::kPathSep)) {
        dir = JoinPath(modDir, "demos", platform::kPathSep);
        if (platform::DirectoryExists(dir))
            break;
    }
    ShowStatus("Opening demos directory...");
    if (platform::DirectoryExists(dir))
        Open(host_, dir);
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
