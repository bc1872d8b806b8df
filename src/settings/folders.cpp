#include "settings/folders.h"

#include "platform/fs.h"
#include "util/path.h"

#ifndef VEXO_DATA_FROM_BIN
#define VEXO_DATA_FROM_BIN "../share/vexograph"
#endif

namespace vexo {

namespace {

constexpr char kSettingsName[] = "vexo.ini";
constexpr char kDefaultConfig[] = "default.cfg";

} // namespace

std::string InstalledDataDirectory(const std::string& programDir) {
    std::string dir = platform::NormalizePath(programDir + VEXO_DATA_FROM_BIN);
    if (dir.empty() || dir.back() != platform::kPathSep)
        dir += platform::kPathSep;
    return dir;
}

ProgramFolders FoldersFor(const std::string& programDir) {
    ProgramFolders folders;
    const std::string data = InstalledDataDirectory(programDir);
    const bool portable = (platform::IsWritableDirectory(programDir) &&
                           platform::FileExists(programDir + kSettingsName)) ||
                          !platform::DirectoryExists(data);
    if (portable) {
        folders.settingsFile = programDir + kSettingsName;
        folders.configDirs = {programDir + "configs"};
        folders.codecDir = programDir + "codec";
        return folders;
    }
    const std::string user = JoinPath(platform::UserConfigHome(), "vexograph", platform::kPathSep);
    folders.installed = true;
    folders.settingsFile = JoinPath(user, kSettingsName, platform::kPathSep);
    folders.configDirs = {JoinPath(user, "configs", platform::kPathSep), data + "configs"};
    folders.codecDir = data + "codec";
    return folders;
}

ProgramFolders CurrentFolders() {
    return FoldersFor(platform::ProgramDirectory());
}

std::string FindConfigFile(const ProgramFolders& folders, const std::string& config, char sep) {
    for (const std::string& dir : folders.configDirs) {
        const std::string path = JoinPath(dir, config, sep);
        if (platform::FileExists(path))
            return path;
    }
    return JoinPath(folders.configDirs.front(), config, sep);
}

void PrepareUserFolders() {
    const ProgramFolders folders = CurrentFolders();
    if (!folders.installed)
        return;
    platform::CreateDirectoryPath(platform::ExtractFilePath(folders.settingsFile));
    const std::string& userConfigs = folders.configDirs.front();
    if (platform::DirectoryExists(userConfigs) || !platform::CreateDirectoryPath(userConfigs))
        return;
    const std::string ours =
        JoinPath(folders.configDirs.back(), kDefaultConfig, platform::kPathSep);
    if (platform::FileExists(ours))
        platform::CopyFileReplacing(ours,
                                    JoinPath(userConfigs, kDefaultConfig, platform::kPathSep));
}

} // namespace vexo
