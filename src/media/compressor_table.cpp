#include "media/compressor_table.h"

extern "C" {
#include <libavcodec/avcodec.h>
}

namespace vexo::media {

namespace {

// The encoder presets of x264 and x265, fastest first.
const std::vector<Choice> kPresets = {{"Ultra fast", "ultrafast"},
                                      {"Super fast", "superfast"},
                                      {"Very fast", "veryfast"},
                                      {"Faster", "faster"},
                                      {"Fast", "fast"},
                                      {"Medium", "medium"},
                                      {"Slow", "slow"},
                                      {"Slower", "slower"},
                                      {"Very slow", "veryslow"}};

FOURCC UpperCase(FOURCC code) {
    FOURCC result = 0;
    for (int i = 0; i < 4; ++i) {
        uint8_t c = static_cast<uint8_t>(code >> (8 * i));
        if (c >= 'a' && c <= 'z')
            c = static_cast<uint8_t>(c - 'a' + 'A');
        result |= static_cast<FOURCC>(c) << (8 * i);
    }
    return result;
}

} // namespace

const std::vector<CodecDef>& Codecs() {
    static const std::vector<CodecDef> codecs = {
        {.fourcc = kDefaultFourCC,
         .aliases = {0, FOURCC_DIB},
         .encoder = "rawvideo",
         .name = "Full Frames (Uncompressed)",
         // Matroska and MP4 take no raw RGB frames.
         .containers = kInAvi},
        {.fourcc = MakeFourCC('H', 'F', 'Y', 'U'),
         .encoder = "huffyuv",
         .name = "Huffyuv lossless codec",
         // Huffyuv's RGB mode has no median prediction.
         .options =
             {{"pred", "Prediction method", "pred", {{"Left", "left"}, {"Plane", "plane"}}, 0}},
         .independentFrames = true},
        {.fourcc = MakeFourCC('F', 'F', 'V', 'H'),
         .encoder = "ffvhuff",
         .name = "Huffyuv FFmpeg variant",
         // Packed RGB has no median prediction here either.
         .options =
             {{"pred", "Prediction method", "pred", {{"Left", "left"}, {"Plane", "plane"}}, 0},
              {"context", "Per-frame Huffman tables", "context", {{"Off", "0"}, {"On", "1"}}, 0}},
         .independentFrames = true},
        {.fourcc = MakeFourCC('F', 'F', 'V', '1'),
         .encoder = "ffv1",
         .name = "FFV1 lossless codec",
         .keyFrames = true,
         .options = {{"coder",
                      "Coder",
                      "coder",
                      {{"Golomb-Rice", "rice"},
                       {"Range coder, default table", "range_def"},
                       {"Range coder, custom table", "range_tab"}},
                      0},
                     {"context", "Context model", "context", {{"Small", "0"}, {"Large", "1"}}, 0},
                     {"slices",
                      "Slices",
                      "slices",
                      {{"Automatic", nullptr},
                       {"4", "4"},
                       {"6", "6"},
                       {"9", "9"},
                       {"12", "12"},
                       {"16", "16"},
                       {"24", "24"}},
                      0}},
         // Left to itself it makes a single slice up to 720x576, which one core encodes, and
         // four above. Four at every size keep every core busy on each frame, and the
         // slice-capable version it then writes compresses a little better.
         .defaultSlices = 4},
        {.fourcc = MakeFourCC('U', 'L', 'R', 'G'),
         // Its other codes, as another installation may have stored them; frames from the
         // game are RGB, so they are written as ULRG (ULRA with alpha).
         .aliases = {MakeFourCC('U', 'L', 'R', 'A'), MakeFourCC('U', 'L', 'Y', '0'),
                     MakeFourCC('U', 'L', 'Y', '2'), MakeFourCC('U', 'L', 'Y', '4'),
                     MakeFourCC('U', 'L', 'H', '0'), MakeFourCC('U', 'L', 'H', '2'),
                     MakeFourCC('U', 'L', 'H', '4')},
         .encoder = "utvideo",
         .name = "Ut Video lossless codec",
         // The encoder has no gradient prediction.
         .options = {{"pred",
                      "Prediction method",
                      "pred",
                      {{"None", "none"}, {"Left", "left"}, {"Median", "median"}},
                      1}},
         .independentFrames = true},
        {.fourcc = MakeFourCC('M', '8', 'R', 'G'),
         .aliases = {MakeFourCC('M', '8', 'R', 'A'), MakeFourCC('M', 'A', 'G', 'Y'),
                     MakeFourCC('M', '8', 'Y', '0'), MakeFourCC('M', '8', 'Y', '2'),
                     MakeFourCC('M', '8', 'Y', '4'), MakeFourCC('M', '8', 'Y', 'A')},
         .encoder = "magicyuv",
         .name = "MagicYUV lossless codec",
         .options = {{"pred",
                      "Prediction method",
                      "pred",
                      {{"Left", "left"}, {"Gradient", "gradient"}, {"Median", "median"}},
                      0}},
         .independentFrames = true},
        {.fourcc = MakeFourCC('M', 'J', 'P', 'G'),
         .encoder = "mjpeg",
         .name = "Motion JPEG",
         .quality = true,
         .dataRate = true,
         .preferredFormat = "yuvj420p"},
        {.fourcc = MakeFourCC('F', 'M', 'P', '4'),
         .aliases = {MakeFourCC('X', 'V', 'I', 'D'), MakeFourCC('D', 'I', 'V', 'X'),
                     MakeFourCC('D', 'X', '5', '0')},
         .encoder = "mpeg4",
         .name = "MPEG-4 Part 2",
         .quality = true,
         .keyFrames = true,
         .dataRate = true,
         .preferredFormat = "yuv420p",
         .containers = kInAvi | kInMatroska | kInMp4},
        {.fourcc = MakeFourCC('H', '2', '6', '4'),
         .aliases = {MakeFourCC('X', '2', '6', '4'), MakeFourCC('A', 'V', 'C', '1')},
         .encoder = "libx264",
         .name = "H.264 (x264)",
         .quality = true,
         .keyFrames = true,
         .dataRate = true,
         .preferredFormat = "yuv420p",
         .options = {{"preset", "Preset", "preset", kPresets, 5},
                     {"tune",
                      "Tune",
                      "tune",
                      {{"None", nullptr},
                       {"Film", "film"},
                       {"Animation", "animation"},
                       {"Grain", "grain"},
                       {"Still image", "stillimage"},
                       {"Fast decode", "fastdecode"}},
                      0}},
         // crf 51 (worst) .. 10 (best; below that the files grow without a visible gain and
         // turn lossless in a profile few players read).
         .qualityOption = "crf",
         .qualityWorst = 51,
         .qualityBest = 10,
         // Without look-ahead, and taking the frames as constant-rate (else it waits for the
         // next frame's time stamp), it holds no frame back: a frame reported written is in
         // the file. Its threads split each frame into slices, which hold nothing back
         // either (frame threads would).
         .ownThreads = true,
         .defaultQuality = 6800, // crf 23, x264's own default
         .fixedOptions = {{"rc-lookahead", "0"}, {"x264-params", "force-cfr=1:sliced-threads=1"}},
         .containers = kInAvi | kInMatroska | kInMp4},
        {.fourcc = MakeFourCC('H', 'E', 'V', 'C'),
         .aliases = {MakeFourCC('H', '2', '6', '5'), MakeFourCC('X', '2', '6', '5'),
                     MakeFourCC('H', 'V', 'C', '1')},
         .encoder = "libx265",
         .name = "H.265 / HEVC (x265)",
         .quality = true,
         .keyFrames = true,
         .dataRate = true,
         .preferredFormat = "yuv420p",
         .options = {{"preset", "Preset", "preset", kPresets, 5}},
         .qualityOption = "crf",
         .qualityWorst = 51,
         .qualityBest = 10,
         // No look-ahead and one frame thread (its rows still run on every core): no frame
         // held back. Its messages go to FFmpeg's log only when they are errors.
         .ownThreads = true,
         .defaultQuality = 5600, // crf 28, x265's own default
         .fixedOptions = {{"x265-params", "rc-lookahead=0:frame-threads=1:log-level=error"}},
         .containers = kInMatroska | kInMp4},
        {.fourcc = MakeFourCC('V', 'P', '9', '0'),
         .encoder = "libvpx-vp9",
         .name = "VP9 (libvpx)",
         .quality = true,
         .keyFrames = true,
         .dataRate = true,
         .preferredFormat = "yuv420p",
         // cpu-used: 0 compresses best, 5 is fastest at this quality setting.
         .options = {{"speed",
                      "Speed",
                      "cpu-used",
                      {{"0 (slowest)", "0"},
                       {"1", "1"},
                       {"2", "2"},
                       {"3", "3"},
                       {"4", "4"},
                       {"5 (fastest)", "5"}},
                      4}},
         // crf 63 (worst) .. 10 (best), constant quality (no target rate).
         .qualityOption = "crf",
         .qualityWorst = 63,
         .qualityBest = 10,
         // No frames looked ahead (no hidden reference frames), rows on every core.
         .ownThreads = true,
         .defaultQuality = 5700, // crf 33
         .fixedOptions = {{"lag-in-frames", "0"}, {"row-mt", "1"}, {"deadline", "good"}},
         .containers = kInMatroska | kInMp4},
        {.fourcc = MakeFourCC('A', 'V', '0', '1'),
         .encoder = "libaom-av1",
         .name = "AV1 (libaom)",
         .quality = true,
         .keyFrames = true,
         .dataRate = true,
         .preferredFormat = "yuv420p",
         .options = {{"speed",
                      "Speed",
                      "cpu-used",
                      {{"5 (slowest)", "5"}, {"6", "6"}, {"7", "7"}, {"8 (fastest)", "8"}},
                      3}},
         .qualityOption = "crf",
         .qualityWorst = 63,
         .qualityBest = 10,
         // Its real-time mode looks no frame ahead, so it holds none back, and is fast enough
         // to record with; rows on every core.
         .ownThreads = true,
         .defaultQuality = 5300, // crf 35
         .fixedOptions = {{"usage", "realtime"}, {"row-mt", "1"}},
         .containers = kInMatroska | kInMp4},
    };
    return codecs;
}

bool Available(const CodecDef& def) {
    return avcodec_find_encoder_by_name(def.encoder) != nullptr;
}

// Codes are matched without regard to letter case: compressors are often registered as
// "hfyu" where files say "HFYU".
const CodecDef* FindCodec(FOURCC code) {
    code = UpperCase(code);
    for (const CodecDef& def : Codecs()) {
        if (def.fourcc == code)
            return &def;
        for (FOURCC alias : def.aliases)
            if (alias == code)
                return &def;
    }
    return nullptr;
}

} // namespace vexo::media
