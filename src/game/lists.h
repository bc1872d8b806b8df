// What the main window's modification, demo and config lists hold: the folders they are
// read from and the names found there.
#pragma once

#include <string>
#include <vector>

namespace vexo {

// base + sep + mod
std::string ModDirectoryPath(const std::string& base, const std::string& mod, char sep);
// The modification's folders the lists read, as GameFolders gives them: base + sep + mod,
// after the same in a packaged game's home.
std::vector<std::string> ModDirectoryPaths(const std::string& base, const std::string& mod,
                                           char sep);
// The config folder the user edits of a program in programDir (which ends with its
// separator): programDir + "configs", or the user's own for an installed program.
std::string ConfigDirectoryPath(const std::string& programDir);
// The path of a config: in the first config folder that holds it (the user's before the
// installed one), else in the user's; folder and name joined by sep.
std::string ConfigFilePath(const std::string& programDir, const std::string& config, char sep);

// A demo name the game script can carry safely inside its quoted demo command: no double
// quote, line break or other control character that would end the command early and let
// the rest of the name run as console commands.
bool IsSafeDemoName(const std::string& name);

// The lower-cased names of the directories directly below base that hold at least one
// ".pk3" file. An empty base lists nothing.
std::vector<std::string> ListModifications(const std::string& base);
// The "*.dm_*" files in modDir's "demos" directory, as found on disk, safe names only.
std::vector<std::string> ListDemos(const std::string& modDir);
// The lower-cased "*.cfg" files in the program's config folders, each name once.
std::vector<std::string> ListConfigs();

// The modifications of every folder the lists of the game directory base are read from
// (GameFolders), each name once, in the order found.
std::vector<std::string> ListGameModifications(const std::string& base);
// The demos of a modification's folders (ModDirectoryPaths), in the order found: the loose
// ones of each folder, then those packed in each folder's pk3 files (ListPackedDemos). A demo
// found more than once, without regard to letter case, is listed once, as found first: the
// engine plays any of them by that name.
std::vector<std::string> ListModDemos(const std::vector<std::string>& modDirs);

} // namespace vexo
