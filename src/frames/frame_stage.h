// The frame pipeline's pieces: a source hands each frame of a demo to the stages, the stages
// hand what comes of it to the next, and the last hands it to the writer, which converts it
// (with the output gamma, FrameConversion) and stores it. A frame may also reach the writer
// made ahead: converted, and compressed where the compressor allows, on another thread.
#pragma once

#include <cstdint>
#include <string>

#include "frames/avi_file.h"
#include "frames/tga.h"
#include "media/game_capture.h"

namespace vexo {

// One frame on its way: exactly one of these is set.
struct Frame {
    const TgaImage* image = nullptr;                // a screenshot as read
    const media::CapturePicture* picture = nullptr; // a picture of the engine's recording
    CAviFile::PreparedFrame* prepared = nullptr;    // a frame made ahead for the writer
};

// Where a frame goes next: the next stage, or the writer.
class FrameSink {
public:
    virtual ~FrameSink() = default;
    // False when the frame could not be stored (the writer has told why).
    virtual bool Put(const Frame& frame) = 0;
};

// A step between the sources and the writer.
class FrameStage {
public:
    virtual ~FrameStage() = default;
    // Takes a frame and hands whatever comes of it (none, one or more frames) to next.
    // False when next refused one.
    virtual bool Take(const Frame& frame, FrameSink& next) = 0;
    // Whether frames may reach this stage made ahead for the writer. A stage that works on
    // the pictures themselves says no; its sources then hand it pictures.
    virtual bool TakesPreparedFrames() const { return false; }
    // How many of the pictures it takes make one frame it hands on.
    virtual int PicturesPerFrame() const { return 1; }
};

} // namespace vexo
