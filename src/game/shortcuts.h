// The small buttons that hand the current selection to other programs (the game, the file
// browser, a text editor), and the main window's links to the web and the codec installer.
#pragma once

#include <string>

#include "controls/form_host.h"
#include "controls/main_controls.h"

namespace vexo {

inline constexpr const char* kMakerAddress = "https://vexograph.example";
inline constexpr const char* kDonationAddress = "https://vexograph.example/donate";

// The command line of a plain game start with modification mod, resolution mode modeIndex
// and windowed or full screen; HUD and gun always on. Ends with a blank.
std::string GameParameters(const std::string& mod, int modeIndex, bool windowed);
// The single Notepad parameter: the config file's path between double quotes.
std::string NotepadParameters(const std::string& configPath);
// The program's codec folder + sep + "huffyuv.inf": programDir + "codec", or the installed
// data folder's for an installed program.
std::string CodecSetupPath(const std::string& programDir, char sep);

void btnRunModClick(MainControls& c, IFormHost& host);
void btnOpenModDirClick(MainControls& c, IFormHost& host);
void btnEditConfigClick(MainControls& c, IFormHost& host);
void btnOpenConfigDirClick(MainControls& c, IFormHost& host);
void btnOpenDemosDirClick(MainControls& c, IFormHost& host);

// The banners' links and the codec install from the logo.
void imgAppBannerClick(IFormHost& host);
void imgPpBannerClick(MainControls& c, IFormHost& host);
void Label11DblClick(IFormHost& host);

} // namespace vexo
