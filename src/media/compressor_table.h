// The table of compressors the program offers: each one an encoder of libavcodec with its
// options, the quality scale it takes and the containers that hold its frames.
#pragma once

#include <utility>
#include <vector>

#include "media/vfw.h"

namespace vexo::media {

struct Choice {
    const char* label;
    const char* value; // encoder option value; null leaves the encoder's default
};

struct OptionDef {
    const char* key;
    const char* label;
    const char* encoderOption;
    std::vector<Choice> choices;
    int defaultIndex;
};

// The containers a compressor's frames go into, as bits.
constexpr unsigned kInAvi = 1u << static_cast<int>(Container::Avi);
constexpr unsigned kInMatroska = 1u << static_cast<int>(Container::Matroska);
constexpr unsigned kInMp4 = 1u << static_cast<int>(Container::Mp4);

// One compressor: a row of the table below. What sets one encoder apart from the others is
// a field here, so that a new compressor is one more row.
struct CodecDef {
    FOURCC fourcc;
    std::vector<FOURCC> aliases = {}; // further codes the same encoder writes or reads
    const char* encoder;
    const char* name;
    bool quality = false;
    bool keyFrames = false;
    bool dataRate = false;
    const char* preferredFormat = "";
    std::vector<OptionDef> options = {};
    // See EncoderSetup.
    const char* qualityOption = "";
    int qualityWorst = 31;
    int qualityBest = 2;
    int defaultSlices = 0;
    bool independentFrames = false;
    bool ownThreads = false;
    // The quality a fresh choice starts at; -1: none of its own (7500 where one is needed).
    int defaultQuality = -1;
    // Encoder options set whatever the user chose (name, value).
    std::vector<std::pair<const char*, const char*>> fixedOptions = {};
    // Where its frames can be stored. The lossless compressors and Motion JPEG go into
    // Matroska as into AVI (by their four-character code); MP4 holds the MPEG family and the
    // web's codecs.
    unsigned containers = kInAvi | kInMatroska;
};

// Every compressor the program knows, built into this machine's libavcodec or not.
const std::vector<CodecDef>& Codecs();
// True when this machine's libavcodec has the compressor's encoder.
bool Available(const CodecDef& def);
// The compressor of a four-character code or one of its aliases, without regard to letter
// case; null when there is none.
const CodecDef* FindCodec(FOURCC code);

} // namespace vexo::media
