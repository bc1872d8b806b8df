// The compression manager on libavcodec: a fixed table of the encoders that fit an AVI
// file, each with its own options; the ones built into this machine's libavcodec are
// offered.
#include "media/vfw.h"

#include "media/compressor_table.h"

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

namespace {

// The compressors this machine offers whose files are among the containers of the mask.
std::vector<CompressorInfo> CompressorsIn(unsigned containers) {
    std::vector<CompressorInfo> result;
    for (const CodecDef& def : Codecs()) {
        // Uncompressed frames need no encoder: they are always offered.
        if ((!ICIsUncompressed(def.fourcc) && !Available(def)) || !(def.containers & containers))
            continue;
        result.push_back({def.fourcc, def.name, def.quality, def.keyFrames, def.dataRate,
                          !def.options.empty(), def.defaultQuality});
    }
    return result;
}

} // namespace

std::vector<CompressorInfo> ICEnumerateCompressors(Container container) {
    return CompressorsIn(1u << static_cast<int>(container));
}

std::vector<CompressorInfo> ICEnumerateAllCompressors() {
    return CompressorsIn(~0u);
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
