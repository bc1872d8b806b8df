#include "game/shortcuts.h"

#include "game/lists.h"
#include "platform/fs.h"
#include "settings/folders.h"
#include "util/path.h"

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
    return JoinPath(FoldersFor(programDir).codecDir, "huffyuv.inf", sep);
}

std::string EditableConfig(const std::string& programDir, const std::string& path) {
    const std::string userDir = ConfigDirectoryPath(programDir);
    const std::string inUserDir = userDir + platform::kPathSep; // the start of its files' paths
    if (path.compare(0, inUserDir.size(), inUserDir) == 0 || !platform::FileExists(path))
        return path;
    const std::string copy = JoinPath(
        userDir, path.substr(path.find_last_of(platform::kPathSep) + 1), platform::kPathSep);
    return platform::CopyFileReplacing(path, copy) ? copy : path;
}

} // namespace vexo
