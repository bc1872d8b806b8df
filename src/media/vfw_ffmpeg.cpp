// The compression manager on libavcodec: a fixed table of the encoders that fit an AVI
// file, each with its own options; the ones built into this machine's libavcodec are
// offered.
#include "media/vfw.h"

#include <cstdlib>
#include <cstring>

extern "C" {
#include <libavcodec/avcodec.h>
}

namespace vexo::media {

std::string FourCCToString(FOURCC code) {
    std::string text;
    for (int i = 0; i < 4; ++i)
        text += static_cast<char>((code >> (8 * i)) & 0xFF);
    return text;
}

namespace {

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

// The private state: magic, version, the compressor's code, then each option as a
// length-prefixed key and a 32-bit value, all little-endian.
constexpr char kStateMagic[4] = {'V', 'X', 'C', 'S'};
constexpr uint8_t kStateVersion = 1;

void PutU32(std::vector<uint8_t>& out, uint32_t v) {
    for (int i = 0; i < 4; ++i)
        out.push_back(static_cast<uint8_t>(v >> (8 * i)));
}

uint32_t GetU32(const uint8_t* p) {
    return static_cast<uint32_t>(p[0]) | (static_cast<uint32_t>(p[1]) << 8) |
           (static_cast<uint32_t>(p[2]) << 16) | (static_cast<uint32_t>(p[3]) << 24);
}

} // namespace

struct Compressor {
    const CodecDef* def;
    std::vector<int> values; // one per option of def
};

namespace {

std::vector<uint8_t> SerialiseState(const Compressor& c) {
    std::vector<uint8_t> out(kStateMagic, kStateMagic + 4);
    out.push_back(kStateVersion);
    PutU32(out, c.def->fourcc);
    out.push_back(static_cast<uint8_t>(c.def->options.size()));
    for (size_t i = 0; i < c.def->options.size(); ++i) {
        const std::string key = c.def->options[i].key;
        out.push_back(static_cast<uint8_t>(key.size()));
        out.insert(out.end(), key.begin(), key.end());
        PutU32(out, static_cast<uint32_t>(c.values[i]));
    }
    return out;
}

// Takes a state; returns the bytes used, or -1 when it is not a valid state of this
// compressor. Nothing changes unless the whole state is valid.
long ParseState(Compressor& c, const uint8_t* data, long size) {
    if (!data || size < 10 || std::memcmp(data, kStateMagic, 4) != 0 || data[4] != kStateVersion ||
        GetU32(data + 5) != c.def->fourcc)
        return -1;
    std::vector<int> values = c.values;
    const int count = data[9];
    long at = 10;
    for (int n = 0; n < count; ++n) {
        if (at + 1 > size)
            return -1;
        const int keyLength = data[at++];
        if (at + keyLength + 4 > size)
            return -1;
        const std::string key(reinterpret_cast<const char*>(data + at), keyLength);
        at += keyLength;
        const int32_t value = static_cast<int32_t>(GetU32(data + at));
        at += 4;
        // Keys this version does not know are passed over, so a newer state still loads.
        for (size_t i = 0; i < c.def->options.size(); ++i) {
            if (key != c.def->options[i].key)
                continue;
            if (value < 0 || value >= static_cast<int32_t>(c.def->options[i].choices.size()))
                return -1;
            values[i] = value;
        }
    }
    c.values = values;
    return at;
}

} // namespace

bool ICIsUncompressed(FOURCC code) {
    return code == 0 || code == FOURCC_DIB || code == kDefaultFourCC;
}

HIC ICOpen(FOURCC fccType, FOURCC fccHandler, unsigned mode) {
    if (fccType != ICTYPE_VIDEO || mode != ICMODE_COMPRESS || ICIsUncompressed(fccHandler))
        return nullptr;
    const CodecDef* def = FindCodec(fccHandler);
    if (!def || !Available(*def))
        return nullptr;
    auto* c = new Compressor{def, {}};
    for (const OptionDef& option : def->options)
        c->values.push_back(option.defaultIndex);
    return c;
}

void ICClose(HIC hic) {
    delete hic;
}

long ICSendMessage(HIC hic, unsigned message, void* buffer, long size) {
    if (!hic)
        return 0;
    switch (message) {
    case ICM_GETSTATE: {
        if (hic->def->options.empty())
            return 0;
        const std::vector<uint8_t> state = SerialiseState(*hic);
        const long needed = static_cast<long>(state.size());
        if (!buffer)
            return needed;
        if (size < needed)
            return -1;
        std::memcpy(buffer, state.data(), state.size());
        return needed;
    }
    case ICM_SETSTATE:
        return ParseState(*hic, static_cast<const uint8_t*>(buffer), size);
    default:
        return -1;
    }
}

void ICCompressorFree(COMPVARS* vars) {
    if (!vars || !(vars->dwFlags & ICMF_COMPVARS_VALID))
        return;
    ICClose(vars->hic);
    vars->hic = nullptr;
    for (void** owned :
         {reinterpret_cast<void**>(&vars->lpbiIn), reinterpret_cast<void**>(&vars->lpbiOut),
          &vars->lpBitsOut, &vars->lpBitsPrev, &vars->lpState}) {
        std::free(*owned);
        *owned = nullptr;
    }
    vars->cbState = 0;
    vars->dwFlags &= ~ICMF_COMPVARS_VALID;
}

std::vector<CompressorOption> ICGetOptions(HIC hic) {
    std::vector<CompressorOption> result;
    if (!hic)
        return result;
    for (size_t i = 0; i < hic->def->options.size(); ++i) {
        const OptionDef& def = hic->def->options[i];
        CompressorOption option;
        option.key = def.key;
        option.label = def.label;
        for (const Choice& choice : def.choices)
            option.choices.push_back(choice.label);
        option.value = hic->values[i];
        result.push_back(option);
    }
    return result;
}

bool ICSetOption(HIC hic, const std::string& key, int value) {
    if (!hic)
        return false;
    for (size_t i = 0; i < hic->def->options.size(); ++i) {
        const OptionDef& def = hic->def->options[i];
        if (key != def.key)
            continue;
        if (value < 0 || value >= static_cast<int>(def.choices.size()))
            return false;
        hic->values[i] = value;
        return true;
    }
    return false;
}

std::vector<CompressorInfo> ICEnumerateCompressors() {
    return ICEnumerateCompressors(Container::Avi);
}

std::vector<CompressorInfo> ICEnumerateCompressors(Container container) {
    std::vector<CompressorInfo> result;
    for (const CodecDef& def : Codecs()) {
        // Uncompressed frames need no encoder: they are always offered.
        if ((!ICIsUncompressed(def.fourcc) && !Available(def)) || !ICHeldBy(def.fourcc, container))
            continue;
        result.push_back({def.fourcc, def.name, def.quality, def.keyFrames, def.dataRate,
                          !def.options.empty(), def.defaultQuality});
    }
    return result;
}

std::string ICGetName(FOURCC code) {
    const CodecDef* def = ICIsUncompressed(code) ? &Codecs().front() : FindCodec(code);
    return def ? def->name : FourCCToString(code);
}

bool ICHeldBy(FOURCC code, Container container) {
    const CodecDef* def = ICIsUncompressed(code) ? &Codecs().front() : FindCodec(code);
    if (!def)
        return container == Container::Avi;
    return (def->containers & (1u << static_cast<int>(container))) != 0;
}

bool ICGetEncoderSetup(HIC hic, EncoderSetup* setup) {
    if (!hic || !setup)
        return false;
    setup->encoder = hic->def->encoder;
    setup->preferredFormat = hic->def->preferredFormat;
    setup->hasQuality = hic->def->quality;
    setup->hasKeyFrames = hic->def->keyFrames;
    setup->hasDataRate = hic->def->dataRate;
    setup->qualityOption = hic->def->qualityOption;
    setup->qualityWorst = hic->def->qualityWorst;
    setup->qualityBest = hic->def->qualityBest;
    setup->defaultSlices = hic->def->defaultSlices;
    setup->independentFrames = hic->def->independentFrames;
    setup->ownThreads = hic->def->ownThreads;
    setup->defaultQuality = hic->def->defaultQuality >= 0 ? hic->def->defaultQuality : 7500;
    setup->options.clear();
    for (size_t i = 0; i < hic->def->options.size(); ++i) {
        const OptionDef& def = hic->def->options[i];
        const Choice& choice = def.choices[hic->values[i]];
        if (choice.value)
            setup->options.emplace_back(def.encoderOption, choice.value);
    }
    for (const auto& [name, value] : hic->def->fixedOptions)
        setup->options.emplace_back(name, value);
    return true;
}

} // namespace vexo::media
