// The modification, demo and config lists of the main window, the demo name field and the
// demo list's refresh button.
#pragma once

#include <string>
#include <vector>

#include "controls/form_host.h"
#include "controls/main_controls.h"

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

// Rebuilds the three lists for the text of edBasePath (and a packaged game's home) and
// restores the stored selections.
void edBasePathChange(MainControls& c);
// Rebuilds the demo list of the selected modification, from each of its folders, and stores
// it as "lastmod".
void cbModsChange(MainControls& c);
// Shows the selected demo's name in edDemoName.
void clbDemosClick(MainControls& c);
// Selects the whole demo name so that it can be copied.
void edDemoNameMouseDown(MainControls& c);
// Refreshes the demo list with status texts.
void Button1Click(MainControls& c, IFormHost& host);

} // namespace vexo
