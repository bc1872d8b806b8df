// Encoder setup: the libavcodec encoder behind a compressed stream, opened with the pixel
// format, quality, key-frame interval, data rate and options the compressor's choice says.
#include <algorithm>
#include <cstdlib>

#include "media/avifile_internal.h"

extern "C" {
#include <libavutil/opt.h>
#include <libavutil/pixdesc.h>
}

namespace vexo::media {

namespace {

bool Supports(const AVPixelFormat* list, AVPixelFormat format) {
    for (; list && *list != AV_PIX_FMT_NONE; ++list)
        if (*list == format)
            return true;
    return false;
}

void ApplyQuality(AVCodecContext* ctx, AVDictionary** options, const Compression& c) {
    const EncoderSetup& setup = c.setup;
    if (setup.hasKeyFrames && c.keyEvery > 0)
        ctx->gop_size = static_cast<int>(std::min<uint32_t>(c.keyEvery, 100000));
    const bool byRate = setup.hasDataRate && c.bytesPerSecond > 0;
    if (byRate) {
        // Held to within a second's worth of data, so that the rate is met on short clips
        // too (the encoders' default tolerance is several megabits).
        ctx->bit_rate = static_cast<int64_t>(c.bytesPerSecond) * 8;
        ctx->bit_rate_tolerance = static_cast<int>(std::min<int64_t>(ctx->bit_rate, INT32_MAX));
    }
    if (!setup.hasQuality || byRate)
        return;
    // Quality 0..10000; anything else is the compressor's default.
    const int quality = c.quality <= 10000 ? static_cast<int>(c.quality) : setup.defaultQuality;
    const int value =
        setup.qualityWorst - (quality * (setup.qualityWorst - setup.qualityBest) + 5000) / 10000;
    if (!setup.qualityOption.empty()) {
        // Constant quality: no rate to aim at besides (a rate would make libvpx and libaom
        // hold the quality to it).
        ctx->bit_rate = 0;
        av_dict_set_int(options, setup.qualityOption.c_str(), value, 0);
    } else {
        ctx->flags |= AV_CODEC_FLAG_QSCALE;
        ctx->global_quality = FF_QP2LAMBDA * value;
    }
}

// Frame threads are not used: they hold frames back, so a failing write would show on a
// later frame than the one it belongs to.
long OpenEncoderWith(const AviMux& mux, bool sliceThreads, int slices, CodecContextPtr& encoder,
                     int* error) {
    const AVCodec* codec = mux.codec;
    const Compression& c = mux.compression;
    const AVRational timeBase = mux.FrameTimeBase();
    encoder.reset(avcodec_alloc_context3(codec));
    AVCodecContext* ctx = encoder.get();
    if (!ctx)
        return AVIERR_MEMORY;
    ctx->width = mux.frameFormat.biWidth;
    ctx->height = mux.frameFormat.biHeight;
    ctx->pix_fmt = mux.encoderFormat;
    ctx->time_base = timeBase;
    ctx->framerate = av_inv_q(timeBase);
    ctx->sample_aspect_ratio = AVRational{1, 1};
    // No reordered frames: AVI has no room for them, and an encoder that reorders holds
    // frames back.
    ctx->max_b_frames = 0;
    if (ctx->pix_fmt == AV_PIX_FMT_YUVJ420P || ctx->pix_fmt == AV_PIX_FMT_YUVJ422P ||
        ctx->pix_fmt == AV_PIX_FMT_YUVJ444P)
        ctx->color_range = AVCOL_RANGE_JPEG;
    if (mux.format->oformat->flags & AVFMT_GLOBALHEADER)
        ctx->flags |= AV_CODEC_FLAG_GLOBAL_HEADER;
    AVDictionary* options = nullptr;
    for (const auto& [name, value] : c.setup.options)
        av_dict_set(&options, name.c_str(), value.c_str(), 0);
    ApplyQuality(ctx, &options, c);
    if (slices > 0)
        ctx->slices = slices;
    if (sliceThreads && (codec->capabilities & AV_CODEC_CAP_SLICE_THREADS)) {
        ctx->thread_count = 0; // as many as there are cores
        ctx->thread_type = FF_THREAD_SLICE;
    } else if (sliceThreads && c.setup.ownThreads) {
        ctx->thread_count = 0; // the encoder's own threads, as many as there are cores
    } else {
        ctx->thread_count = 1;
    }
    const int ret = avcodec_open2(ctx, codec, &options);
    av_dict_free(&options);
    if (ret < 0 && error)
        *error = ret;
    return ret < 0 ? AVIERR_COMPRESSOR : AVIERR_OK;
}

} // namespace

AVPixelFormat ChooseEncoderFormat(const AVCodec* codec, const EncoderSetup& setup, int bpp) {
    const AVPixelFormat* formats = codec->pix_fmts;
    const AVPixelFormat preferred = setup.preferredFormat.empty()
                                        ? AV_PIX_FMT_NONE
                                        : av_get_pix_fmt(setup.preferredFormat.c_str());
    if (preferred != AV_PIX_FMT_NONE && Supports(formats, preferred))
        return preferred;
    // Frames the encoder takes as they are need no conversion at all.
    static constexpr AVPixelFormat direct24[] = {
        AV_PIX_FMT_BGR24, AV_PIX_FMT_RGB24, AV_PIX_FMT_BGR0, AV_PIX_FMT_RGB0,
        AV_PIX_FMT_GBRP,  AV_PIX_FMT_BGRA,  AV_PIX_FMT_RGBA, AV_PIX_FMT_GBRAP};
    static constexpr AVPixelFormat direct32[] = {AV_PIX_FMT_BGRA, AV_PIX_FMT_RGBA,
                                                 AV_PIX_FMT_GBRAP};
    if (bpp == 3) {
        for (AVPixelFormat f : direct24)
            if (Supports(formats, f))
                return f;
    } else {
        for (AVPixelFormat f : direct32)
            if (Supports(formats, f))
                return f;
    }
    if (!formats)
        return AV_PIX_FMT_NONE;
    const AVPixelFormat native = bpp == 3 ? AV_PIX_FMT_BGR24 : AV_PIX_FMT_BGRA;
    return avcodec_find_best_pix_fmt_of_list(formats, native, bpp == 4, nullptr);
}

long OpenEncoder(const AviMux& mux, bool sliceThreads, CodecContextPtr& encoder, int* error) {
    // Where the user left the slices to the encoder and the compressor has a number of its
    // own, frames large enough to split both ways get that number (the encoder is asked
    // again without it should it not do).
    const EncoderSetup& setup = mux.compression.setup;
    const bool slicesChosen =
        std::any_of(setup.options.begin(), setup.options.end(),
                    [](const auto& option) { return option.first == "slices"; });
    const AVPixFmtDescriptor* format = av_pix_fmt_desc_get(mux.encoderFormat);
    const bool splits =
        format && AV_CEIL_RSHIFT(mux.frameFormat.biWidth, format->log2_chroma_w) >= 2 &&
        AV_CEIL_RSHIFT(std::abs(mux.frameFormat.biHeight), format->log2_chroma_h) >= 2;
    if (setup.defaultSlices > 0 && !slicesChosen && splits) {
        if (OpenEncoderWith(mux, sliceThreads, setup.defaultSlices, encoder, nullptr) == AVIERR_OK)
            return AVIERR_OK;
        encoder.reset();
    }
    return OpenEncoderWith(mux, sliceThreads, 0, encoder, error);
}

bool IndependentFrames(const AVCodecContext* encoder, const EncoderSetup& setup) {
    // Tables that adapt from frame to frame (an encoder's "context" option, two-pass
    // statistics) tie each frame to the ones before.
    if (!setup.independentFrames || (encoder->flags & (AV_CODEC_FLAG_PASS1 | AV_CODEC_FLAG_PASS2)))
        return false;
    int64_t context = 0;
    if (av_opt_get_int(encoder->priv_data, "context", 0, &context) >= 0 && context != 0)
        return false;
    return true;
}

} // namespace vexo::media
