// Finding the game: the game directory test, the directory of a located quake3.exe, the
// installations found without asking, and the texts of the locate and output folder dialogs.
#pragma once

#include <string>

namespace vexo {

// Texts of the locate and folder dialogs.
inline constexpr const char* kLocateGameTitle = "Locate your QUAKE3.EXE ...";
inline constexpr const char* kOutputFolderTitle = "Select AVI output folder ...";
inline constexpr const char* kOutputFolderPlaceholder = "( jump into a folder and click ok )";
inline constexpr const char* kGameNotFound = "Quake III not found in selected directory.";

// base + sep + "quake3.exe"
std::string GameExecutablePath(const std::string& base, char sep);
// base + sep + "baseq3" + sep + "pak0.pk3": the stock game's data file that marks an install.
std::string StockPakPath(const std::string& base, char sep);

// The directory part of a dialog's chosen file: the text up to and including the last
// separator (and, with the "\" separator, also a drive's ":"); empty when there is none.
std::string DirectoryPartOfFile(const std::string& file, char sep);
// The directory a dialog's chosen file lies in, without its trailing separator: the text up
// to the last separator (and, with the "\" separator, also a drive's ":"), minus that last
// character. A file in a root directory keeps the root's separator rather than becoming the
// empty text, which would read as "no directory" ("/quake3.exe" gives "/"); a drive root
// still gives the bare drive ("D:\quake3.exe" gives "D:").
std::string DirectoryOfChosenFile(const std::string& file, char sep);

// True when base is an existing directory holding a base game's pak0.pk3 (baseq3, or
// OpenArena's baseoa) and a game engine (FindEngineExecutable), or, for a packaged game
// without one, when the system has the engine to run it. Tested in that order; the first
// failure decides.
bool IsGameDirectory(const std::string& base);

// Where the registry has nothing to say: the first game directory among the places Linux
// players have the game (the directories of the system's packages, then games unpacked into
// the home such as ~/ioquake3 or ~/Quake3). Empty when there is none, and on Windows.
std::string FindInstalledGame();

} // namespace vexo
