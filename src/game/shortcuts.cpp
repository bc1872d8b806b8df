#include "game/shortcuts.h"

#include <algorithm>

#include "game/discovery.h"
#include "game/engine.h"
#include "game/lists.h"
#include "platform/fs.h"
#include "platform/process.h"
#include "settings/folders.h"

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

// The file to edit for a config found at path. An installed program's own configs cannot be
// changed by the user: such a config is copied into the user's config folder first, and the
// copy, which the program uses from then on, is edited instead.
std::string EditableConfig(const std::string& programDir, const std::string& path) {
    const std::string userDir = ConfigDirectoryPath(programDir) + platform::kPathSep;
    if (path.compare(0, userDir.size(), userDir) == 0 || !platform::FileExists(path))
        return path;
    const std::string copy = userDir + path.substr(path.find_last_of(platform::kPathSep) + 1);
    return platform::CopyFileReplacing(path, copy) ? copy : path;
}

} // namespace

std::string GameParameters(const std::string& mod, int modeIndex, bool windowed) {
    return "+set fs_game " + mod + " " + "+set r_mode " + std::to_string(modeIndex) + " " +
           "+set r_fullscreen " + (windowed ? "0" : "1") + " " + "+set cg_draw2D 1 " +
           "+set cg_drawGun 1 ";
}

std::string NotepadParameters(const std::string& configPath) {
    return "\"" + configPath + "\"";
}

std::string CodecSetupPath(const std::string& programDir, char sep) {
    return FoldersFor(programDir).codecDir + sep + "huffyuv.inf";
}

void btnRunModClick(MainControls& c, IFormHost& host) {
    if (c.cbMods.ItemIndex() < 0)
        return;
    const std::string base = c.edBasePath.Text();
    // The game as a recording starts it: a native engine is told where the game is.
    const GameEngine engine = FindGameEngine(base);
    const std::string params =
        EngineArguments(engine, base) +
        GameParameters(c.cbMods.Text(), c.cbModes.ItemIndex(), c.cbWindowed.Checked());
    ShowStatus(c, host, "Launching modification...");
    const std::string game = OnDisk(engine.PathIn(base, platform::kPathSep));
    if (platform::IsWindowsProgram(game)) { // run by Wine, as a recording starts it
        std::string quoted = "\"";
        quoted.append(game).append("\" ");
        host.ShellExecute("open", platform::kWindowsProgramLoader, quoted + params, OnDisk(base),
                          SW_SHOW);
    } else {
        host.ShellExecute("open", game, params, OnDisk(base), SW_SHOW);
    }
    host.Sleep(400);
    ShowStatus(c, host, "Ready.");
}

void btnOpenModDirClick(MainControls& c, IFormHost& host) {
    if (c.cbMods.ItemIndex() < 0)
        return;
    // A packaged game's modification folder in the home, where the player's own files are,
    // when it is there.
    const std::vector<std::string> dirs =
        ModDirectoryPaths(c.edBasePath.Text(), c.cbMods.Text(), platform::kPathSep);
    const auto found = std::find_if(dirs.begin(), dirs.end(), platform::DirectoryExists);
    ShowStatus(c, host, "Opening modification directory...");
    Open(host, found == dirs.end() ? dirs.back() : *found);
    host.Sleep(250);
    ShowStatus(c, host, "Ready.");
}

void btnEditConfigClick(MainControls& c, IFormHost& host) {
    if (c.cbConfigs.ItemIndex() < 0)
        return;
    const std::string programDir = platform::ProgramDirectory();
    const std::string file = EditableConfig(
        programDir, ConfigFilePath(programDir, c.cbConfigs.Text(), platform::kPathSep));
    ShowStatus(c, host, "Launching notepad...");
    host.ShellExecute("open", "notepad.exe", NotepadParameters(OnDisk(file)), "", SW_SHOW);
    host.Sleep(250);
    ShowStatus(c, host, "Ready.");
}

void btnOpenConfigDirClick(MainControls& c, IFormHost& host) {
    const std::string dir = ConfigDirectoryPath(platform::ProgramDirectory());
    ShowStatus(c, host, "Opening config file directory...");
    if (platform::DirectoryExists(dir))
        Open(host, dir);
    host.Sleep(250);
    ShowStatus(c, host, "Ready.");
}

void btnOpenDemosDirClick(MainControls& c, IFormHost& host) {
    if (c.cbMods.ItemIndex() < 0)
        return;
    // The first demos folder there is, a packaged game's home first.
    std::string dir;
    for (const std::string& modDir :
         ModDirectoryPaths(c.edBasePath.Text(), c.cbMods.Text(), platform::kPathSep)) {
        dir = modDir + platform::kPathSep + "demos";
        if (platform::DirectoryExists(dir))
            break;
    }
    ShowStatus(c, host, "Opening demos directory...");
    if (platform::DirectoryExists(dir))
        Open(host, dir);
    host.Sleep(250);
    ShowStatus(c, host, "Ready.");
}

void imgAppBannerClick(IFormHost& host) {
    host.ShellExecute("open", kMakerAddress, "", "", SW_SHOWMINNOACTIVE);
}

void imgPpBannerClick(MainControls& c, IFormHost& host) {
    host.ShellExecute("open", kDonationAddress, "", "", SW_SHOWMINNOACTIVE);
    ShowStatus(c, host, "Thank you!");
}

void Label11DblClick(IFormHost& host) {
    const std::string setup = CodecSetupPath(platform::ProgramDirectory(), platform::kPathSep);
    if (!platform::FileExists(setup)) {
        host.MessageBox("Huffyuv codec install failed.", "Error", MB_OK | MB_ICONERROR);
        return;
    }
    host.ShellExecute("install", OnDisk(setup), "", "", SW_SHOWNORMAL);
    host.MessageBox("Huffyuv codec installed.", "Notice", MB_OK | MB_ICONWARNING);
}

} // namespace vexo
