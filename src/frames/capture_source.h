// The engine's own recording of a demo as a source of frames: the file an engine of the
// ioquake3 family writes with its "video" command (and the files it goes on in past 2 GB),
// read while the game writes it; its sound goes beside the frames, made to fit them.
#pragma once

#include <memory>
#include <string>

#include "frames/frame_feed.h"
#include "frames/sound_fit.h"
#include "media/game_capture.h"

namespace vexo {

class CaptureSource {
public:
    void SetFile(const std::string& path) { file_ = path; }
    const std::string& File() const { return file_; }
    // The frame rate the engine was told to record at (cl_aviFrameRate); 0: the video's.
    void SetEngineFrameRate(double rate) { engineFrameRate_ = rate; }
    // Whether the disk space of what has been taken is given back as the game writes on.
    bool Release = true;

    // Whether the game has begun its recording.
    bool Appeared() const;
    // Takes every frame and piece of sound of the recording, as the game writes them, until
    // the game has ended and the recording is read to its end. False on a failure.
    bool TakeAll(FrameFeed& feed);

private:
    bool TakeFile(FrameFeed& feed, media::GameCaptureReader& capture, const std::string& name,
                  SoundFit* sound);
    // The sound stream for the recording's sound, made to fit the picture; none (and the log
    // says why) where that cannot be done.
    std::unique_ptr<SoundFit> AddSound(FrameFeed& feed, const media::CaptureSound& sound);

    std::string file_;
    double engineFrameRate_ = 0;
};

} // namespace vexo
