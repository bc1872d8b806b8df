// The game script and the game launch of a recording: the paths of one Start, the console
// commands appended to a copy of the chosen game config, the game's command line and the
// start of the game process. Everything but the config lookup, the file copy and the process
// start is plain string building.
#pragma once

#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "game/engine.h"
#include "platform/process.h"

namespace vexo {

// Reports progress in the status line (ShowStatus).
using StatusFn = std::function<void(const std::string&)>;

// The base name of the temporary config, as the command line executes it.
inline constexpr const char* kTempConfigBaseName = "vexo_temp";
inline constexpr const char* kScreenshotMask = "shot*.tga";

// The capture values read from the main window when Start is pressed.
struct CaptureOptions {
    bool Draw2D = false;
    bool DrawGun = false;
    int ModeIndex = -1;      // the selected resolution item, equal to r_mode; -1 for none
    bool Windowed = false;   // written inverted, as r_fullscreen
    std::string CaptureRate; // the FPS text, used verbatim
    std::string TimeScale;   // the timescale text, used verbatim
};

// All path strings of one Start, joined by plain concatenation: nothing is added or removed
// beyond the separators shown, so a base directory ending in a separator gives a doubled one.
// What the program reads lies in ModDirs; what it writes for the engine, and what the engine
// writes, lies in HomeModDir: the modification directory itself, except for a packaged game,
// whose game directory is never written to.
struct RunPaths {
    std::string BaseDir;              // the base directory text, as typed
    std::string GameExe;              // BaseDir + sep + the engine's file name ("quake3.exe"),
                                      // or the system's engine of a packaged game
    std::string ModName;              // the selected modification item
    std::string ModDir;               // BaseDir + sep + ModName
    std::string HomeDir;              // where the engine writes: BaseDir, or a packaged home
    std::string HomeModDir;           // HomeDir + sep + ModName
    std::vector<std::string> ModDirs; // the modification's folders read: HomeModDir first
                                      // when it differs, then ModDir
    std::string ConfigSource;         // the config item in the first config folder holding it
    std::string TempConfigName;       // "vexo_temp" + the name suffix, as +exec runs it
    std::string TempConfig;           // HomeModDir + sep + TempConfigName + ".cfg"
    std::string ScreenshotDir;        // HomeModDir + sep + "screenshots"
    std::string ScreenshotMask;       // "shot*.tga"
    std::string OutDir;               // the output directory text, as shown
    GameEngine Engine;                // the engine GameExe names
    std::string CaptureDir;           // HomeModDir + sep + "videos"
    std::string CaptureName;          // "vexo_capture" + the name suffix ("video" command)
    std::string CaptureFile;          // where a native engine's own recording lands
};

// Whether a text may follow the fixed names of the temporary config and the engine's
// recording: letters, digits and "_" only, as it stands unquoted on the game's command line.
bool IsSafeNameSuffix(const std::string& suffix);
// Whether a file name is one of the program's temporary configs: "vexo_temp.cfg", or with a
// name suffix ("vexo_temp_1234.cfg"), without regard to case.
bool IsTempConfigFileName(const std::string& name);

// True when one of the modification's folders exists.
bool ModDirectoryExists(const RunPaths& paths);
// True when a demo list item names a file in the "demos" folder of one of the modification's
// folders (joined by sep), or a demo packed in one of their pk3 files.
bool DemoFileExists(const RunPaths& paths, const std::string& demoItem, char sep);

// programDir carries its trailing separator; the config item is looked up in that program's
// config folders, the user's before the installed one. sep is the separator the paths are
// joined with. nameSuffix (IsSafeNameSuffix) follows the names of the temporary config and
// the engine's recording, so that recordings under way at the same time in one game never
// share a file.
RunPaths BuildRunPaths(const std::string& baseDir, const std::string& modName,
                       const std::string& configItem, const std::string& programDir,
                       const std::string& outDir, char sep, const GameEngine& engine = GameEngine{},
                       const std::string& nameSuffix = std::string());

// Whether the game script also asks the engines of the ioquake3 family for their own
// recording (the original game ignores what it does not know).
#ifdef _WIN32
inline constexpr bool kAskEngineCapture = false;
#else
inline constexpr bool kAskEngineCapture = true;
#endif

// A demo list item cut before the first ".dm_" (case-sensitive); an item without it whole.
std::string DemoBaseName(const std::string& demoItem);

// False for a demo base name that cannot stand inside the quotes of the demo command: one
// holding a double quote, a line feed or a carriage return would end the command early and
// let the rest of the name run as console commands.
bool IsSafeDemoBaseName(const std::string& demoBaseName);

// The text appended to the copied config: a line feed, then the capture settings, a video
// restart and the demo command, one per line. engineCapture: the capture rate is also given
// as cl_aviFrameRate with uncompressed frames, stray keys and clicks are kept from ending
// the demo (com_cameraMode), and the engine's own recording is started right after the demo
// command, so that it begins with the demo's first frame. nextDemo, when given, is what the
// config has the game do after the demo (ConfigNextDemo): the game is then told to print
// kDemoEndMarker first, so that the program learns the demo was played to its end.
// captureName is what the engine's recording is called.
std::string BuildGameScript(const CaptureOptions& options, const std::string& demoBaseName,
                            bool engineCapture = kAskEngineCapture,
                            const std::optional<std::string>& nextDemo = std::nullopt,
                            const std::string& captureName = kEngineCaptureName);

// What a config's text sets "nextdemo" to (its last set, seta, sets or setu of it), empty
// when it sets nothing; nothing when the value cannot be written inside the quotes of
// another set (it holds a double quote).
std::optional<std::string> ConfigNextDemo(const std::string& configText);

// The hunk memory a recording's engine is started with, in megabytes: at least
// kRecordingHunkMegs, which real maps need, and never less than the player's own configs
// (q3config.cfg, autoexec.cfg of the modification and the base game) ask for.
inline constexpr int kRecordingHunkMegs = 256;
int RecordingHunkMegs(const RunPaths& paths);
// The largest com_hunkMegs a config's text sets; 0 when it sets none.
int ConfigHunkMegs(const std::string& configText);

// The timescale text as the script writes it: a decimal comma, as many users type it,
// becomes the decimal point the game reads (it would read "0,5" as 0); the rest verbatim.
std::string TimeScaleForScript(const std::string& text);
// Whether the timescale text (blanks around it allowed, a decimal point or comma) is a number
// greater than 0.
bool IsPositiveTimeScale(const std::string& text);

// The capture rate as an engine of the ioquake3 family is told it (cl_aviFrameRate). Such an
// engine, recording, steps the game by 1 / (rate x timescale) seconds a frame, where the
// original game (cl_avidemo) steps it by timescale / rate: the rate divided by the square
// of the timescale makes both step alike, so a timescale slows the game down for either.
// The capture rate text itself where either text is not a number greater than 0.
std::string EngineFrameRate(const std::string& captureRate, const std::string& timeScale);
// The same rate as a number; 0 where either text is not a number greater than 0.
double EngineFrameRateValue(const std::string& captureRate, const std::string& timeScale);

enum ScriptResult { ScriptOk, ScriptCopyFailed, ScriptUpdateFailed };

// Copies ConfigSource over TempConfig (status "Copying config file...") and appends the game
// script to it (status "Updating config..."). A packaged game's modification folder in its
// home is made first where it is missing, as the engine itself would make it.
// ScriptCopyFailed when the copy fails; ScriptUpdateFailed when the copy cannot be opened,
// written or closed, or when the demo name or a capture text cannot be written safely. After
// a ScriptUpdateFailed no temporary config is left behind, so the game is never started on a
// half-written script.
// asksDemoEnd, when given, tells whether the script has the game print kDemoEndMarker at the
// demo's end.
ScriptResult PrepareGameScript(const RunPaths& paths, const CaptureOptions& options,
                               const std::string& demoBaseName, const StatusFn& status,
                               bool* asksDemoEnd = nullptr);

// GameExe + " +set fs_game " + ModName + " +exec " + TempConfigName; nothing is quoted. A native
// engine is told the game directory first (EngineArguments), then what a recording needs
// before the engine starts up (its own sound mixer, since OpenAL's output cannot be
// recorded; no mouse grab; hunk memory for real maps), and the modification as it is named
// on disk, since it tells letter cases apart.
std::string BuildGameCommandLine(const RunPaths& paths);

// Starts the game (status "Launching Quake III...") from the command line, in BaseDir, at
// high priority, its console output captured, ended with the program. A native engine mixes
// its sound for a sound output that needs no device (SDL's dummy driver): a recording runs
// faster or slower than real time, and nobody listens. The game runs in a process group of
// its own, so that a Ctrl-C at the program's terminal reaches the program, which ends the
// game itself, and not the game. Nothing when it could not be started.
std::optional<platform::Process> LaunchGame(const std::string& commandLine, const RunPaths& paths,
                                            const StatusFn& status);

} // namespace vexo
