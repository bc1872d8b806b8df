// What a source of frames needs of the pipeline it feeds: its pace, its end, its reports, and
// the way to the writer through the stages.
#pragma once

#include <cstdint>
#include <memory>
#include <string>

#include "frames/avi_file.h"
#include "frames/frame_progress.h"
#include "frames/frame_stage.h"

namespace vexo {

class FrameFeed {
public:
    virtual ~FrameFeed() = default;
    // Waits that long, or less when asked to stop; false once asked to stop.
    virtual bool Pause(int milliseconds) = 0;
    virtual bool Stopping() const = 0;
    // The game has ended: nothing more will be written.
    virtual bool GameEnded() const = 0;
    // After a failed game: what it left half-written is passed over, not failed on.
    virtual bool Lenient() const = 0;
    // Whether the writer is there at all.
    virtual bool HasWriter() const = 0;
    // How many pictures of a source make one frame of the video (the stages' blending).
    virtual int PicturesPerFrame() const = 0;
    // The frames taken from the sources so far; the next one gets this number.
    virtual int32_t FramesTaken() const = 0;
    // What the source is doing, as numbers.
    virtual void Report(FrameProgress::Step step, int32_t frame = 0, const std::string& source = {},
                        int attempt = 0) = 0;
    // Counts a frame as taken and hands it through the stages to the writer. False when it
    // could not be stored: the source then fails with its own words.
    virtual bool Deliver(const Frame& frame) = 0;
    // Tells the user why the frames stop, marks the collector failed and stops it: false.
    virtual bool Fail(const std::string& text) = 0;
    // Tells the user of a frame that cannot be handled at all (no writer), without stopping.
    virtual void Refuse(const std::string& text) = 0;
    // A frame to make ahead for the writer (CAviFile::NewPreparedFrame); null before the
    // first frame has fixed the format, when a stage takes pictures only, or without memory.
    virtual std::unique_ptr<CAviFile::PreparedFrame>
    NewPreparedFrame(bool apart, const CAviFile::PreparedFrame* partner = nullptr) = 0;
    // The writer, for what goes beside the frames (the engine's sound).
    virtual CAviFile& Output() = 0;
};

} // namespace vexo
