#include "run/run_texts.h"

#include <cctype>
#include <charconv>

#include "platform/fs.h"
#include "settings/ini.h"

namespace vexo {

namespace {

// Where a video file's extension begins (its size when it has none).
size_t ExtensionAt(const std::string& name) {
    const size_t dot = name.find_last_of('.');
    return dot == std::string::npos || name.find_first_of("\\/", dot) != std::string::npos
               ? name.size()
               : dot;
}

std::string Marked(const std::string& video, const char* mark) {
    const size_t at = ExtensionAt(video);
    return video.substr(0, at) + mark + video.substr(at);
}

} // namespace

std::string RecordingFileName(const std::string& aviFileName) {
    return Marked(aviFileName, " (recording)");
}

std::string FailedFileName(const std::string& aviFileName) {
    return Marked(aviFileName, " (failed)");
}

std::string VideoOfRecording(const std::string& recordingFileName) {
    static const std::string mark = " (recording)";
    const size_t at = ExtensionAt(recordingFileName);
    if (at < mark.size() || recordingFileName.compare(at - mark.size(), mark.size(), mark) != 0)
        return recordingFileName;
    return recordingFileName.substr(0, at - mark.size()) + recordingFileName.substr(at);
}

std::string ContainerRefusesText(const std::string& compressorName,
                                 const std::string& containerName) {
    const char* article = containerName == "Matroska" ? "a " : "an ";
    return "The compressor \"" + compressorName + "\" cannot be stored in " + article +
           containerName +
           " file. Choose another compressor or another container with the \"Codec\" "
           "button.";
}

std::string DemoGoneText(const std::string& demoItem) {
    return "The demo \"" + demoItem +
           "\" is no longer in the modification's demos folder. Refresh the demo list and "
           "try again.";
}

std::string NotSavedText(const std::string& aviFileName, const std::string& recording) {
    return "The video could not be saved as \"" + aviFileName + "\". It was kept as \"" +
           recording + "\".";
}

std::string NoFramesText(const std::string& demoItem) {
    return "The game wrote no frames for the demo \"" + demoItem +
           "\".\n\n"
           "Check that the game can record: the original Quake III Arena writes screenshots "
           "(cl_avidemo), ioquake3 and OpenArena write a video (the video command). Check "
           "also that the demo plays in the game and that the config does not quit it "
           "first.";
}

std::string EngineErrorText(const std::string& demoItem, const std::string& engineError) {
    return "The game could not play the demo \"" + demoItem + "\": \"" + engineError + "\".";
}

std::string LeftEarlyText(const std::string& demoItem, const std::string& keptAs) {
    return "The demo \"" + demoItem + "\" was stopped in the game before its end. " +
           (keptAs.empty() ? std::string("Nothing was recorded.")
                           : "What was recorded is kept as \"" + keptAs + "\".");
}

std::string StalledText(const std::string& demoItem, int seconds) {
    return "The game recorded nothing of the demo \"" + demoItem + "\" for " +
           std::to_string(seconds) + " seconds and was ended.";
}

std::string FailedDemosText(const std::vector<std::string>& reasons) {
    std::string text =
        reasons.size() == 1
            ? std::string("One demo could not be recorded; it stays checked.")
            : std::to_string(reasons.size()) + " demos could not be recorded; they stay checked.";
    for (const std::string& reason : reasons)
        text += "\n\n" + reason;
    return text;
}

void MakePath(const std::string& path) {
    size_t first = path.find_first_of("\\/");
    if (first == std::string::npos) {
        platform::CreateDirectoryAt(path);
        return;
    }
    for (size_t pos = path.find_first_of("\\/", first + 1); pos != std::string::npos;
         pos = path.find_first_of("\\/", pos + 1))
        platform::CreateDirectoryAt(path.substr(0, pos));
    if (path.back() != '\\' && path.back() != '/')
        platform::CreateDirectoryAt(path);
}

int32_t AviRateFromText(const std::string& text) {
    const int32_t rate = ParseLeadingInteger(text);
    return rate < 1 || rate > 100 ? 25 : rate;
}

float GammaFromItem(const std::string& item) {
    size_t end = 0;
    while (end < item.size() &&
           (std::isdigit(static_cast<unsigned char>(item[end])) || item[end] == '.'))
        ++end;
    // Read with a decimal point whatever the user's locale (strtod would expect a comma
    // under a German desktop), as a double narrowed to float.
    double value = 0.0;
    std::from_chars(item.data(), item.data() + end, value);
    return static_cast<float>(value);
}

std::string VideoFileName(const std::string& outDir, const std::string& modName,
                          const std::string& demoBaseName, char sep, const std::string& extension) {
    return outDir + sep + modName + "_" + demoBaseName + extension;
}

std::string AviFileName(const std::string& outDir, const std::string& modName,
                        const std::string& demoBaseName, char sep) {
    return VideoFileName(outDir, modName, demoBaseName, sep, ".avi");
}

std::string ScreenshotWarningText(int count, const std::string& modName) {
    std::string lower = modName;
    for (char& ch : lower)
        ch = static_cast<char>(std::tolower(static_cast<unsigned char>(ch)));
    return "Found " + std::to_string(count) + " screenshot(s) in \"" + lower +
           "/screenshots\".\n\n" +
           "You have to make sure this screenshots folder is absolutely\n"
           "empty before you launch your demos. Please wipe it and try\n"
           "again. Would you like to open the folder now?";
}

} // namespace vexo
