// The sound of an engine's own recording made to fit its picture. The engine's mixer runs
// ahead of the picture: the file holds more sound before its first picture than the one
// frame's worth that belongs there, and that lead-in is dropped. Each picture stands for
// 1 / engineFrameRate seconds of the engine's sound and for 1 / aviRate seconds of the video,
// so the sound is played aviRate / engineFrameRate times as fast, its pitch kept. At the end
// it is made exactly as long as the picture (silence added or the tail cut), so sound and
// picture stay in step from start to end.
//
// It works as a stream, while the game still writes: sound goes out as soon as the picture
// has reached it, and only what runs ahead of the pictures written is held back.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "media/game_capture.h"
#include "media/sound_tempo.h"

namespace vexo {

class SoundFit {
public:
    // Where the fitted sound goes: whole sample frames in the engine's format. False when
    // it could not be stored.
    using Sink = std::function<bool(const uint8_t* data, int32_t bytes)>;

    // The engine's sound clock: its mixer advances by 1 / min(rate, 1000) seconds a frame.
    static double SoundFrameRate(double engineFrameRate);
    // How many times as fast the sound is played.
    static double Tempo(double engineFrameRate, int32_t aviRate);

    // For sound of `format` from an engine told engineFrameRate (cl_aviFrameRate), into a
    // video of aviRate frames a second. Null, with *why set, when the sound cannot be made
    // to fit (a tempo the filter does not reach, a filter that cannot be made).
    static std::unique_ptr<SoundFit> Create(const media::CaptureSound& format,
                                            double engineFrameRate, int32_t aviRate, Sink sink,
                                            std::string* why);

    // The sound the recording holds next, in its order among the pictures. False when the
    // sink failed.
    bool Sound(const uint8_t* data, int32_t bytes);
    // The recording's next picture has been written. False when the sink failed.
    bool Picture();
    // The recording has ended: the sound is completed to the length of the pictures. False
    // when the sink failed.
    bool Finish();

    // Samples dropped at the start as the engine's lead-in.
    int64_t LeadIn() const { return leadIn_; }
    // Samples handed to the sink.
    int64_t Written() const { return written_; }

private:
    SoundFit(const media::CaptureSound& format, double engineFrameRate, int32_t aviRate, Sink sink);
    // Stretches sound after the lead-in into pending_; a failing filter leaves silence from
    // there on (and says why in the log).
    void Stretch(const uint8_t* data, int64_t samples);
    // Hands the sink what the pictures written so far cover.
    bool Release(int64_t upTo);
    int64_t Covered(int64_t pictures) const;

    media::CaptureSound format_;
    int32_t block_;
    int32_t aviRate_;
    double samplesPerFrame_; // the engine's sound a picture stands for
    double speed_;           // the tempo
    Sink sink_;
    std::unique_ptr<media::SoundTempo> tempo_; // none at tempo 1
    bool filterFailed_ = false;
    int64_t pictures_ = 0;
    int64_t before_ = 0;           // samples before the first picture
    std::vector<uint8_t> early_;   // the last of them, as many as can be kept
    std::vector<uint8_t> pending_; // fitted sound not yet handed over
    size_t pendingStart_ = 0;      // bytes of it already handed over
    int64_t made_ = 0;             // fitted samples made so far
    int64_t written_ = 0;
    int64_t leadIn_ = 0;
};

} // namespace vexo
