// What the collector does with a demo's frames, as numbers: the window turns them into its
// status line and title, a command line into its own lines.
#pragma once

#include <cstdint>
#include <string>

namespace vexo {

struct FrameProgress {
    enum class Step {
        Writing,  // the frame at Frame, from Source, is being written
        Retrying, // the screenshot for the frame at Frame could not be read (Attempt counts)
        Sensing,  // a look found nothing new
        Failed,   // the collector stopped over a frame it could not read or write
    };
    Step step = Step::Writing;
    int32_t frame = 0;
    std::string source; // the screenshot's or the recording's file name
    int attempt = 0;
    int32_t framesWritten = 0; // frames of the demo in the video so far
    int64_t bytesWritten = 0;  // bytes those frames took in the file
};

// The status line's text for a step: "Writing frame 3 (shot0003.tga) ...", "Retrying frame
// 3 (0) ...", "Sensing...", "Failed.".
std::string FrameStatusText(const FrameProgress& progress);
// The program's title while a frame is written ("VEXO [ shot0003.tga ]"); empty for the
// steps that leave the title as it is.
std::string FrameTitleText(const FrameProgress& progress);

} // namespace vexo
