// The compression manager on libavcodec: a table of the compressors this program offers,
// each a libavcodec encoder with its own options, opened by four-character code.
#include <cctype>
#include <cstring>
#include <string>
#include <utility>
#include <vector>

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavutil/dict.h>
#include <libavutil/opt.h>
#include <libavutil/pixdesc.h>
}

#include "platform/compressors.h"
#include "platform/vfw.h"

namespace vexo {

namespace {

struct OptionSpec {
    const char* key;
    const char* label;
    const char* avOption;                                     // the encoder option it sets
    std::vector<std::pair<const char*, const char*>> choices; // label, option value
    int defaultIndex;
};

struct CompressorSpec {
    FOURCC fourcc; // the code offered and stored
    const char* name;
    const char* encoder;
    std::vector<FOURCC> aliases; // further codes the same compressor answers to
    bool quality;
    bool keyFrames;
    bool dataRate;
    bool usesCrf;              // quality goes to x264's constant rate factor
    AVPixelFormat fixedFormat; // AV_PIX_FMT_NONE: the closest format the encoder takes
    std::vector<OptionSpec> options;
};

// The median predictor works on YUV only; frames here stay RGB, so it is not offered.
const std::vector<std::pair<const char*, const char*>> kHuffyuvPredictions = {{"Left", "left"},
                                                                              {"Plane", "plane"}};

const std::vector<CompressorSpec>& Specs() {
    static const std::vector<CompressorSpec> specs = {
        {MakeFourCC('H', 'F', 'Y', 'U'),
         "Huffyuv lossless",
         "huffyuv",
         {},
         false,
         false,
         false,
         false,
         AV_PIX_FMT_NONE,
         {{"pred", "Prediction", "pred", kHuffyuvPredictions, 0}}},
        {MakeFourCC('F', 'F', 'V', 'H'),
         "Huffyuv FFmpeg variant lossless",
         "ffvhuff",
         {},
         false,
         false,
         false,
         false,
         AV_PIX_FMT_NONE,
         {{"pred", "Prediction", "pred", kHuffyuvPredictions, 0},
          {"context", "Per-frame tables", "context", {{"Off", "0"}, {"On", "1"}}, 0}}},
        {MakeFourCC('F', 'F', 'V', '1'),
         "FFV1 lossless",
         "ffv1",
         {},
         false,
         true,
         false,
         false,
         AV_PIX_FMT_NONE,
         {{"coder",
           "Coder",
           "coder",
           {{"Golomb-Rice", "rice"},
            {"Range, default table", "range_def"},
            {"Range, custom table", "range_tab"}},
           0},
          {"context", "Context model", "context", {{"Small", "0"}, {"Large", "1"}}, 0},
          {"slices", "Slices", "slices", {{"Automatic", "0"}, {"4", "4"}, {"16", "16"}}, 0}}},
        {MakeFourCC('U', 'L', 'R', 'G'),
         "Ut Video lossless",
         "utvideo",
         {MakeFourCC('U', 'L', 'R', 'A'), MakeFourCC('U', 'L', 'Y', '0'),
          MakeFourCC('U', 'L', 'Y', '2'), MakeFourCC('U', 'L', 'Y', '4')},
         false,
         false,
         false,
         false,
         AV_PIX_FMT_NONE,
         {{"pred",
           "Prediction",
           "pred",
           {{"None", "none"}, {"Left", "left"}, {"Gradient", "gradient"}, {"Median", "median"}},
           1}}},
        {MakeFourCC('M', '8', 'R', 'G'),
         "MagicYUV lossless",
         "magicyuv",
         {MakeFourCC('M', 'A', 'G', 'Y'), MakeFourCC('M', '8', 'R', 'A')},
         false,
         false,
         false,
         false,
         AV_PIX_FMT_NONE,
         {{"pred",
           "Prediction",
           "pred",
           {{"Left", "left"}, {"Gradient", "gradient"}, {"Median", "median"}},
           0}}},
        {MakeFourCC('M', 'J', 'P', 'G'),
         "Motion JPEG",
         "mjpeg",
         {},
         true,
         false,
         true,
         false,
         AV_PIX_FMT_YUVJ420P,
         {}},
        {MakeFourCC('F', 'M', 'P', '4'),
         "MPEG-4 Part 2",
         "mpeg4",
         {MakeFourCC('X', 'V', 'I', 'D'), MakeFourCC('D', 'I', 'V', 'X'),
          MakeFourCC('D', 'X', '5', '0'), MakeFourCC('M', 'P', '4', 'V')},
         true,
         true,
         true,
         false,
         AV_PIX_FMT_YUV420P,
         {}},
        {MakeFourCC('H', '2', '6', '4'),
         "H.264 (x264)",
         "libx264",
         {MakeFourCC('X', '2', '6', '4'), MakeFourCC('A', 'V', 'C', '1')},
         true,
         true,
         true,
         true,
         AV_PIX_FMT_YUV420P,
         {{"preset",
           "Preset",
           "preset",
           {{"Ultra fast", "ultrafast"},
            {"Super fast", "superfast"},
            {"Very fast", "veryfast"},
            {"Faster", "faster"},
            {"Fast", "fast"},
            {"Medium", "medium"},
            {"Slow", "slow"},
            {"Slower", "slower"},
            {"Very slow", "veryslow"}},
           5},
          {"tune",
           "Tune",
           "tune",
           {{"None", ""},
            {"Film", "film"},
            {"Animation", "animation"},
            {"Grain", "grain"},
            {"Still image", "stillimage"},
            {"Fast decode", "fastdecode"},
            {"Zero latency", "zerolatency"}},
           0}}},
    };
    return specs;
}

FOURCC UpperCode(FOURCC code) {
    FOURCC result = 0;
    for (int i = 0; i < 4; ++i) {
        auto c = static_cast<unsigned char>((code >> (8 * i)) & 0xFF);
        result |= static_cast<FOURCC>(std::toupper(c)) << (8 * i);
    }
    return result;
}

const CompressorSpec* FindSpec(FOURCC code) {
    const FOURCC wanted = UpperCode(code);
    for (const auto& spec : Specs()) {
        if (UpperCode(spec.fourcc) == wanted)
            return &spec;
        for (FOURCC alias : spec.aliases)
            if (UpperCode(alias) == wanted)
                return &spec;
    }
    return nullptr;
}

bool EncoderPresent(const CompressorSpec& spec) {
    return avcodec_find_encoder_by_name(spec.encoder) != nullptr;
}

// The private state: a magic, a version, the compressor's code, then each option as its
// key and the index of its value.
constexpr unsigned char kStateMagic[4] = {'V', 'X', 'C', 'S'};
constexpr unsigned char kStateVersion = 1;

std::vector<unsigned char> SerialiseState(const Compressor& c);

} // namespace

struct Compressor {
    const CompressorSpec* spec;
    std::vector<int> values; // one per option of spec
};

namespace {

std::vector<unsigned char> SerialiseState(const Compressor& c) {
    std::vector<unsigned char> out(kStateMagic, kStateMagic + 4);
    out.push_back(kStateVersion);
    for (int i = 0; i < 4; ++i)
        out.push_back(static_cast<unsigned char>((c.spec->fourcc >> (8 * i)) & 0xFF));
    out.push_back(static_cast<unsigned char>(c.spec->options.size()));
    for (size_t i = 0; i < c.spec->options.size(); ++i) {
        const std::string key = c.spec->options[i].key;
        out.push_back(static_cast<unsigned char>(key.size()));
        out.insert(out.end(), key.begin(), key.end());
        out.push_back(static_cast<unsigned char>(c.values[i]));
    }
    return out;
}

// Parses a state into option values; false (and nothing changed) for anything that is not
// a complete, well-formed state of this compressor.
bool ParseState(const Compressor& c, const unsigned char* data, long size, std::vector<int>& values,
                long& used) {
    long pos = 0;
    auto take = [&](long n) { return pos + n <= size; };
    if (!take(10) || std::memcmp(data, kStateMagic, 4) != 0 || data[4] != kStateVersion)
        return false;
    FOURCC code = 0;
    for (int i = 0; i < 4; ++i)
        code |= static_cast<FOURCC>(data[5 + i]) << (8 * i);
    if (code != c.spec->fourcc)
        return false;
    const int count = data[9];
    pos = 10;
    values = c.values;
    for (int n = 0; n < count; ++n) {
        if (!take(1))
            return false;
        const int keyLength = data[pos++];
        if (!take(keyLength + 1))
            return false;
        const std::string key(reinterpret_cast<const char*>(data + pos), keyLength);
        pos += keyLength;
        const int value = data[pos++];
        bool known = false;
        for (size_t i = 0; i < c.spec->options.size(); ++i) {
            if (key == c.spec->options[i].key) {
                if (value >= static_cast<int>(c.spec->options[i].choices.size()))
                    return false;
                values[i] = value;
                known = true;
            }
        }
        if (!known)
            return false;
    }
    used = pos;
    return true;
}

} // namespace

std::string FourCCToString(FOURCC code) {
    std::string text;
    for (int i = 0; i < 4; ++i) {
        auto c = static_cast<unsigned char>((code >> (8 * i)) & 0xFF);
        text += std::isprint(c) ? static_cast<char>(c) : '.';
    }
    return text;
}

bool IsUncompressedHandler(FOURCC code) {
    return code == kDefaultFourCC || code == FOURCC_DIB || code == 0;
}

HIC ICOpen(FOURCC fccType, FOURCC fccHandler, unsigned mode) {
    (void)mode;
    if ((fccType != ICTYPE_VIDEO && fccType != 0) || IsUncompressedHandler(fccHandler))
        return nullptr;
    const CompressorSpec* spec = FindSpec(fccHandler);
    if (!spec || !EncoderPresent(*spec))
        return nullptr;
    auto* c = new Compressor{spec, {}};
    for (const auto& option : spec->options)
        c->values.push_back(option.defaultIndex);
    return c;
}

void ICClose(HIC hic) {
    delete hic;
}

long ICSendMessage(HIC hic, unsigned message, void* buffer, long size) {
    if (!hic)
        return 0;
    if (message == ICM_GETSTATE) {
        if (hic->spec->options.empty())
            return 0;
        const std::vector<unsigned char> state = SerialiseState(*hic);
        const long needed = static_cast<long>(state.size());
        if (!buffer)
            return needed;
        if (size < needed)
            return -1;
        std::memcpy(buffer, state.data(), state.size());
        return needed;
    }
    if (message == ICM_SETSTATE) {
        if (hic->spec->options.empty())
            return (buffer && size > 0) ? -1 : 0;
        if (!buffer || size <= 0)
            return -1;
        std::vector<int> values;
        long used = 0;
        if (!ParseState(*hic, static_cast<const unsigned char*>(buffer), size, values, used))
            return -1;
        hic->values = std::move(values);
        return used;
    }
    return -1;
}

void ICCompressorFree(COMPVARS* vars) {
    if (!vars || !(vars->dwFlags & ICMF_COMPVARS_VALID))
        return;
    ICClose(vars->hic);
    vars->hic = nullptr;
    vars->dwFlags &= ~ICMF_COMPVARS_VALID;
}

std::vector<CompressorOption> ICGetOptions(HIC hic) {
    std::vector<CompressorOption> options;
    if (!hic)
        return options;
    for (size_t i = 0; i < hic->spec->options.size(); ++i) {
        const OptionSpec& spec = hic->spec->options[i];
        CompressorOption option{spec.key, spec.label, {}, hic->values[i]};
        for (const auto& choice : spec.choices)
            option.choices.emplace_back(choice.first);
        options.push_back(std::move(option));
    }
    return options;
}

bool ICSetOption(HIC hic, const std::string& key, int value) {
    if (!hic)
        return false;
    for (size_t i = 0; i < hic->spec->options.size(); ++i) {
        const OptionSpec& spec = hic->spec->options[i];
        if (key == spec.key) {
            if (value < 0 || value >= static_cast<int>(spec.choices.size()))
                return false;
            hic->values[i] = value;
            return true;
        }
    }
    return false;
}

std::vector<CompressorInfo> ICEnumerateCompressors() {
    std::vector<CompressorInfo> list;
    list.push_back({kDefaultFourCC, "Full Frames (Uncompressed)", false, false, false, false});
    for (const auto& spec : Specs()) {
        if (EncoderPresent(spec))
            list.push_back({spec.fourcc, spec.name, spec.quality, spec.keyFrames, spec.dataRate,
                            !spec.options.empty()});
    }
    return list;
}

int OpenCompressorEncoder(HIC hic, const EncoderRequest& request, AVCodecContext** encoder) {
    *encoder = nullptr;
    if (!hic)
        return AVERROR(EINVAL);
    const CompressorSpec& spec = *hic->spec;
    const AVCodec* codec = avcodec_find_encoder_by_name(spec.encoder);
    if (!codec)
        return AVERROR_ENCODER_NOT_FOUND;
    if (request.width <= 0 || request.height <= 0 || request.fps <= 0)
        return AVERROR(EINVAL);

    const auto source = static_cast<AVPixelFormat>(request.sourceFormat);
    AVPixelFormat format = spec.fixedFormat;
    if (format == AV_PIX_FMT_NONE) {
        const AVPixFmtDescriptor* desc = av_pix_fmt_desc_get(source);
        const bool alpha = desc && (desc->flags & AV_PIX_FMT_FLAG_ALPHA);
        format = codec->pix_fmts
                     ? avcodec_find_best_pix_fmt_of_list(codec->pix_fmts, source, alpha, nullptr)
                     : source;
    }
    if (format == AV_PIX_FMT_NONE)
        return AVERROR(EINVAL);

    AVCodecContext* ctx = avcodec_alloc_context3(codec);
    if (!ctx)
        return AVERROR(ENOMEM);
    ctx->width = request.width;
    ctx->height = request.height;
    ctx->pix_fmt = format;
    ctx->time_base = AVRational{1, request.fps};
    ctx->framerate = AVRational{request.fps, 1};
    // AVI stores no presentation times, so frames leave the encoder in display order.
    ctx->max_b_frames = 0;
    if (spec.keyFrames && request.keyFrameEvery > 0)
        ctx->gop_size = request.keyFrameEvery;

    AVDictionary* options = nullptr;
    if (spec.dataRate && request.bytesPerSecond > 0) {
        ctx->bit_rate = static_cast<int64_t>(request.bytesPerSecond) * 8;
    } else if (spec.quality && request.quality >= 0 && request.quality <= 10000) {
        if (spec.usesCrf) {
            // 10000 gives the best lossy setting; crf 0 would switch to a lossless profile
            // that few players decode.
            const int crf = 1 + (10000 - request.quality) * 50 / 10000;
            av_dict_set_int(&options, "crf", crf, 0);
        } else {
            const int q = 31 - request.quality * 30 / 10000; // 10000 gives 1, 0 gives 31
            ctx->flags |= AV_CODEC_FLAG_QSCALE;
            ctx->global_quality = FF_QP2LAMBDA * q;
        }
    }
    for (size_t i = 0; i < spec.options.size(); ++i) {
        const char* value = spec.options[i].choices[hic->values[i]].second;
        if (*value)
            av_dict_set(&options, spec.options[i].avOption, value, 0);
    }

    int ret = avcodec_open2(ctx, codec, &options);
    if (ret >= 0 && av_dict_count(options) > 0)
        ret = AVERROR_OPTION_NOT_FOUND; // an option the encoder did not take
    av_dict_free(&options);
    if (ret < 0) {
        avcodec_free_context(&ctx);
        return ret;
    }
    *encoder = ctx;
    return 0;
}

} // namespace vexo
