#include "game/shortcuts.h"

#include "game/lists.h"
#include "platform/fs.h"
#include "settings/folders.h"

namespace vexo {

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

std::string EditableConfig(const std::string& programDir, const std::string& path) {
    const std::string userDir = ConfigDirectoryPath(programDir) + platform::kPathSep;
    if (path.compare(0, userDir.size(), userDir) == 0 || !platform::FileExists(path))
        return path;
    const std::string copy = userDir + path.substr(path.find_last_of(platform::kPathSep) + 1);
    return platform::CopyFileReplacing(path, copy) ? copy : path;
}

} // namespace vexo
