// What the small buttons hand to other programs (the game, the file browser, a text editor)
// and the main window's links to the web and the codec installer.
#pragma once

#include <string>

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

// The file to edit for a config found at path. An installed program's own configs cannot be
// changed by the user: such a config is copied into the user's config folder first, and the
// copy, which the program uses from then on, is edited instead. The path itself when it is
// the user's already, when it does not exist, or when the copy fails.
std::string EditableConfig(const std::string& programDir, const std::string& path);

} // namespace vexo
