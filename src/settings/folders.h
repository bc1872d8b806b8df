// Where the program keeps its files.
//
// A program folder that is writable and holds vexo.ini, or one without an installed data
// folder beside it (the build tree, a portable copy), keeps everything beside the executable:
// vexo.ini, the "configs" folder and the "codec" folder. An installed program (bin/ with
// share/vexograph/ beside it) keeps the user's settings and configs in the user's
// configuration folder ($XDG_CONFIG_HOME/vexograph/) and reads its own configs and codec
// files from the installed data folder.
#pragma once

#include <string>
#include <vector>

namespace vexo {

struct ProgramFolders {
    bool installed = false;              // the user's configuration folder is used
    std::string settingsFile;            // the full path of vexo.ini
    std::vector<std::string> configDirs; // searched in order, without a trailing separator;
                                         // the first is the user's, the one the user edits
    std::string codecDir;                // without a trailing separator
};

// The installed data folder that belongs to a program folder (with its trailing separator).
std::string InstalledDataDirectory(const std::string& programDir);

// The folders of a program whose executable lies in programDir (with its trailing
// separator); recomputed at every call.
ProgramFolders FoldersFor(const std::string& programDir);
// The folders of the running program.
ProgramFolders CurrentFolders();

// The path of config in the first of the folders that holds it; when none does, its path in
// the first folder. sep joins folder and name.
std::string FindConfigFile(const ProgramFolders& folders, const std::string& config, char sep);

// An installed program's first start: creates the user's configuration folder and, when it
// is missing, the user's "configs" folder with our default.cfg copied in. Does nothing for a
// program that keeps its files beside itself. Failures are left for the first settings write
// to report.
void PrepareUserFolders();

} // namespace vexo
