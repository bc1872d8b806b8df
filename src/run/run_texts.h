// The texts a recording run shows and the values it derives from what the user typed.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace vexo {

// Makes sure every directory along a path exists ("\" and "/" both separate). Creation
// failures are ignored; the text before the first separator is never created on its own.
void MakePath(const std::string& path);

// The AVI frame rate from the field's text: below 1 or above 100 gives 25.
int32_t AviRateFromText(const std::string& text);

// The leading decimal number of a gamma list item ("1.3 - the tarvik network" gives 1.3).
float GammaFromItem(const std::string& item);

// outDir + sep + modName + "_" + demoBaseName + extension (the container's: ".avi", ".mkv",
// ".mp4").
std::string VideoFileName(const std::string& outDir, const std::string& modName,
                          const std::string& demoBaseName, char sep, const std::string& extension);
// The same with ".avi".
std::string AviFileName(const std::string& outDir, const std::string& modName,
                        const std::string& demoBaseName, char sep);

// The error shown when the timescale is not a number greater than 0.
inline constexpr const char* kTimeScaleText =
    "The timescale must be a number greater than 0, such as 1.0 or 0.5.";

// Where a demo is recorded until its video is complete: beside the video, " (recording)"
// before its extension (".avi", ".mkv", ".mp4"); and the name a failed demo's partial
// recording is kept under, " (failed)".
std::string RecordingFileName(const std::string& aviFileName);
std::string FailedFileName(const std::string& aviFileName);
// The video a recording's file stands for ("X (recording).mkv" gives "X.mkv"); the name
// itself for any other.
std::string VideoOfRecording(const std::string& recordingFileName);

// The error shown when the chosen container cannot hold the chosen compressor's frames.
std::string ContainerRefusesText(const std::string& compressorName,
                                 const std::string& containerName);

// The error shown when a checked demo's file is gone by the time its game would start.
std::string DemoGoneText(const std::string& demoItem);
// The error shown when a complete recording cannot take its video's name.
std::string NotSavedText(const std::string& aviFileName, const std::string& recording);

// The error shown when a game ended well without recording a single frame of a demo.
std::string NoFramesText(const std::string& demoItem);

// The question shown when the screenshot folder already holds screenshots.
std::string ScreenshotWarningText(int count, const std::string& modName);

// The reasons a demo failed while the run went on, each naming the demo, and the message
// that lists them when the run ends.
std::string EngineErrorText(const std::string& demoItem, const std::string& engineError);
std::string LeftEarlyText(const std::string& demoItem, const std::string& keptAs);
std::string StalledText(const std::string& demoItem, int seconds);
std::string FailedDemosText(const std::vector<std::string>& reasons);
// The question asked when the window is closed during a recording.
inline constexpr const char* kStopRunText =
    "A recording is under way. Stop it now?\n\n"
    "The game is ended, what was recorded of the current demo is kept as a failed video, "
    "and the demos not yet recorded stay checked.";

} // namespace vexo
