// The game engines a game directory may hold, and how each is asked to record.
//
// The original game (quake3.exe) records a demo as numbered screenshots (cl_avidemo). The
// engines Linux players run, ioquake3 and its family (OpenArena's engine, Quake3e ...), have
// no cl_avidemo; they record into a video file of their own (cl_aviFrameRate and the
// console command "video"). One game script asks both kinds (each ignores what it does not
// know); what differs is the command line and where the frames turn up.
#pragma once

#include <string>

namespace vexo {

struct GameEngine {
    std::string Executable = "quake3.exe"; // its file name in the game directory
    // An engine of the ioquake3 family: it is told on its command line where the game
    // directory is, and records into a video file of its own.
    bool Native = false;
    // The base game's directory: "baseq3", or "baseoa" for OpenArena's data, which such an
    // engine runs as a standalone game.
    std::string BaseGame = "baseq3";
    bool Standalone() const { return BaseGame != "baseq3"; }
};

// The engine file names looked for in a game directory, in order; the first one found is
// the game's engine. The original game's executable is taken as it is; the others only when
// they can be run.
const char* const* EngineNames();

// The file name of the game directory's engine; empty when it holds none.
std::string FindEngineExecutable(const std::string& base);
// "baseq3" when base holds baseq3/pak0.pk3, else "baseoa" when it holds baseoa/pak0.pk3,
// else empty.
std::string FindBaseGame(const std::string& base);
// The engine of a game directory; the original game's defaults where nothing is found.
GameEngine FindGameEngine(const std::string& base);

// The locate dialog's filter: the original game's description and the engine names.
std::string EngineFilter();

// What a native engine is told on its command line ahead of the modification: where the
// game directory is (for its data and for everything it writes, so that its files lie where
// the program looks), and for a standalone base game which one it is. Each argument is
// followed by a blank; empty for the original game.
std::string EngineArguments(const GameEngine& engine, const std::string& base);

// The name the native engine's recording gets ("video" command), and its file below the
// modification directory.
inline constexpr const char* kEngineCaptureName = "vexo_capture";
// modDir + sep + "videos" + sep + "vexo_capture.avi"
std::string EngineCapturePath(const std::string& modDir, char sep);
std::string EngineCaptureDirectory(const std::string& modDir, char sep);

} // namespace vexo
