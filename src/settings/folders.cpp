#include "settings/folders.h"

#include "platform/fs.h"

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
    const std::string user = platform::UserConfigHome() + platform::kPathSep + "vexograph";
    folders.installed = true;
    folders.settingsFile = user + platform::kPathSep + kSettingsName;
    folders.configDirs = {user + platform::kPathSep + "configs", data + "configs"};
    folders.codecDir = data + "codec";
    return folders;
}

ProgramFolders CurrentFolders() {
    return FoldersFor(platform::ProgramDirectory());
}

std::string FindConfigFile(const ProgramFolders& folders, const std::string& config, char sep) {
    for (const std::string& dir : folders.configDirs) {
        const std::string path = dir + sep + config;
        if (platform::FileExists(path))
            return path;
    }
    return folders.configDirs.front() + sep + config;
}

void PrepareUserFolders() {
    const ProgramFolders folders = CurrentFolders();
    if (!folders.installed)
        return;
    platform::CreateDirectoryPath(platform::ExtractFilePath(folders.settingsFile));
    const std::string& userConfigs = folders.configDirs.front();
    if (platform::DirectoryExists(userConfigs) || !platform::CreateDirectoryPath(userConfigs))
        return;
    const std::string ours = folders.configDirs.back() + platform::kPathSep + kDefaultConfig;
    if (platform::FileExists(ours))
        platform::CopyFileReplacing(ours, userConfigs + platform::kPathSep + kDefaultConfig);
}

} // namespace vexo
