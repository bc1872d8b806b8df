// The game engines a game directory may hold, and how each is asked to record.
//
// The original game (quake3.exe) records a demo as numbered screenshots (cl_avidemo). The
// engines Linux players run, ioquake3 and its family (OpenArena's engine, Quake3e ...), have
// no cl_avidemo; they record into a video file of their own (cl_aviFrameRate and the
// console command "video"). One game script asks both kinds (each ignores what it does not
// know); what differs is the command line and where the frames turn up.
#pragma once

#include <string>
#include <vector>

#include "util/path.h"

namespace vexo {

struct GameEngine {
    std::string Executable = "quake3.exe"; // its file name in the game directory
    // An engine of the ioquake3 family: it is told on its command line where the game
    // directory is, and records into a video file of its own.
    bool Native = false;
    // The base game's directory: "baseq3", or "baseoa" for OpenArena's data, which such an
    // engine runs as a standalone game.
    std::string BaseGame = "baseq3";
    // A packaged game: the game directory holds the data only, read-only for the user
    // (Debian's /usr/lib/openarena). The engine is then the system's, at this full path, and
    // everything it writes, and everything written for it, goes below the per-user home Home
    // (~/.openarena, ~/.q3a), never below the game directory.
    std::string SystemEngine;
    std::string Home;

    bool Standalone() const { return BaseGame != "baseq3"; }
    bool Packaged() const { return !SystemEngine.empty(); }
    // The engine's path for the game directory base: base + sep + Executable, or the
    // system's engine of a packaged game.
    std::string PathIn(const std::string& base, char sep) const {
        return Packaged() ? SystemEngine : JoinPath(base, Executable, sep);
    }
    // Where the engine writes: the game directory itself, or a packaged game's home.
    std::string HomeFor(const std::string& base) const { return Packaged() ? Home : base; }
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
// The engine of a game directory; the original game's defaults where nothing is found. A
// game directory with a base game but no engine of its own is a packaged game, run by the
// system's engine (when there is one) with the home PackagedGameHome gives.
GameEngine FindGameEngine(const std::string& base);

// The system's engine that packaged games run on: Debian's /usr/lib/ioquake3/ioquake3, else
// "ioquake3" along PATH. Empty when there is none.
std::string FindSystemEngine();
// A packaged game's home, the engine's own default for its base game: ~/.openarena for
// baseoa (as Debian's openarena starts it) and ~/.q3a for baseq3.
std::string PackagedGameHome(const std::string& baseGame);

// The folders the lists of a game directory are read from: a packaged game's home first
// (the engine looks there first), then the game directory itself.
std::vector<std::string> GameFolders(const std::string& base);

// A system location such as "/usr/lib/openarena" as the program looks for it: below the
// directory tests stand in for the file system's root, when one is set.
std::string SystemPath(const std::string& path);
// Tests stand a directory in for the file system's root: the system's engine and the
// well-known game installations are then looked for below it only, and not along PATH. An
// empty text restores the real lookup.
void SetSystemRootForTesting(const std::string& root);

// The locate dialog's filter: the original game's description and the engine names.
std::string EngineFilter();

// What a native engine is told on its command line ahead of the modification: where the
// game directory is (fs_basepath, for its data) and where it writes (fs_homepath: the game
// directory itself, so that its files lie where the program looks, or a packaged game's
// home), and for a standalone base game which one it is; for OpenArena's data also the
// protocol its own launcher sets (71), without which its demos are not found. Each argument
// is followed by a blank; empty for the original game.
std::string EngineArguments(const GameEngine& engine, const std::string& base);

// The name the native engine's recording gets ("video" command), and its file below the
// modification directory.
inline constexpr const char* kEngineCaptureName = "vexo_capture";
// modDir + sep + "videos" + sep + name + ".avi"
std::string EngineCapturePath(const std::string& modDir, char sep,
                              const std::string& name = kEngineCaptureName);
std::string EngineCaptureDirectory(const std::string& modDir, char sep);

} // namespace vexo
