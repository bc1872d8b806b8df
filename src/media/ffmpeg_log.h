// FFmpeg's failures in the program's failure log (platform/log.h): the text of FFmpeg's error
// codes, and FFmpeg's own messages.
#pragma once

#include <string>

namespace vexo::media {

// FFmpeg's text for one of its error codes (AVERROR).
std::string FfmpegErrorText(int error);

// FFmpeg's own messages of error level and worse go into the log as component "ffmpeg"
// from now on, with the name of the FFmpeg object that reported them. Harmless again.
void LogFfmpegErrors();

} // namespace vexo::media
