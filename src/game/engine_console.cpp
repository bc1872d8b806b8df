#include "game/engine_console.h"

#include <cstdlib>

namespace vexo {

namespace {

constexpr size_t kLastLines = 20;

bool StartsWith(const std::string& text, const std::string& prefix) {
    return text.compare(0, prefix.size(), prefix) == 0;
}

std::string Trimmed(const std::string& text) {
    const size_t first = text.find_first_not_of(" \t");
    if (first == std::string::npos)
        return {};
    return text.substr(first, text.find_last_not_of(" \t") - first + 1);
}

} // namespace

std::string WithoutColourCodes(const std::string& line) {
    std::string plain;
    for (size_t i = 0; i < line.size(); ++i) {
        if (line[i] == '^' && i + 1 < line.size() && line[i + 1] != '^') {
            ++i;
            continue;
        }
        plain += line[i];
    }
    return plain;
}

void EngineConsole::Feed(const std::string& raw) {
    const std::string line = Trimmed(WithoutColourCodes(raw));
    if (last_.size() == kLastLines)
        last_.pop_front();
    last_.push_back(line);

    // An error that drops the game out of its demo stands between two rows of stars:
    // "********************" / "ERROR: <reason>" / "********************". A fatal one
    // ends the engine with "Sys_Error: <reason>".
    if (framed_ && StartsWith(line, "ERROR: ") && error_.empty())
        error_ = Trimmed(line.substr(7));
    else if (StartsWith(line, "Sys_Error: ") && error_.empty())
        error_ = Trimmed(line.substr(11));
    framed_ = line.find_first_not_of('*') == std::string::npos && line.size() >= 8;

    if (line == kDemoEndMarker)
        completed_ = true;
    // "Wrote 187:190 frames to videos/vexo_capture.avi": a file of the recording is closed,
    // whether the demo ended, was left, or the file grew past its size.
    const std::string to = "frames to videos/" + captureName_ + ".avi";
    const size_t at = line.find(to);
    if (StartsWith(line, "Wrote ") && at != std::string::npos) {
        closedRecording_ = line.substr(at + to.size() - captureName_.size() - 4);
        framesRecorded_ += std::strtol(line.c_str() + 6, nullptr, 10);
    }
}

std::string EngineConsole::LastLines() const {
    std::string text;
    for (const std::string& line : last_) {
        if (!text.empty())
            text += " | ";
        text += line;
    }
    return text;
}

} // namespace vexo
