// PCM sound played faster or slower with its pitch kept (FFmpeg's rubberband filter), as a
// stream: sound goes in as it comes and comes out as the filter makes it, so that memory
// stays bounded however long the sound is. The filter's own delay is measured once, when it
// is made, and taken out: the input's sample x comes out at x / tempo.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "media/game_capture.h"

namespace vexo::media {

class SoundTempo {
public:
    // The tempos the filter takes.
    static constexpr double kSlowest = 0.01;
    static constexpr double kFastest = 100.0;

    // A filter for sound of `format` (interleaved, 8- or 16-bit) played `tempo` times as
    // fast. Null, with *why set, when it cannot be made: a tempo out of range, an FFmpeg
    // without the filter, a filter that fails on the trial sound.
    static std::unique_ptr<SoundTempo> Create(const CaptureSound& format, double tempo,
                                              std::string* why);
    ~SoundTempo();
    SoundTempo(const SoundTempo&) = delete;
    SoundTempo& operator=(const SoundTempo&) = delete;

    // Feeds whole sample frames and appends to *out what the filter has made so far, in the
    // same format. False, with *why set, when the filter fails.
    bool Push(const uint8_t* data, int32_t bytes, std::vector<uint8_t>* out, std::string* why);

    struct State;

private:
    explicit SoundTempo(std::unique_ptr<State> state);
    std::unique_ptr<State> state_;
};

// The byte that is silence in PCM of that many bits a sample.
inline uint8_t SilenceByte(int32_t bitsPerSample) {
    return bitsPerSample == 8 ? 0x80 : 0x00;
}

} // namespace vexo::media
