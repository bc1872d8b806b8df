// The AVIFile interface on libavformat's AVI muxer and libavcodec's encoders.
//
// The muxer needs the frame size before it writes the file header, so the header is written
// when the first frame format is set; the file itself is created at open time, so that an
// unwritable path fails there. Uncompressed frames are stored as bottom-up DIBs exactly as
// handed over; compressed streams hand the encoder the same picture upright by reading the
// bottom-up buffer through a negative line size.
//
// The file is written through our own I/O context on a file descriptor, which claims the
// room for each packet (and for the index the trailer adds) before the muxer sees it. A
// full disk or the file-size limit thus stops a frame before it is half-written, and the
// file can always be completed with the frames before it.
#include "platform/avifile.h"
#include "platform/memory.h"

#include <algorithm>
#include <atomic>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <iterator>
#include <memory>
#include <new>
#include <string>

#include <cerrno>
#include <fcntl.h>
#include <unistd.h>

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavformat/avformat.h>
#include <libavutil/imgutils.h>
#include <libavutil/opt.h>
#include <libavutil/pixdesc.h>
#include <libswscale/swscale.h>
}

namespace vexo {

namespace {

// How the frames of a stream are stored.
struct Compression {
    bool raw = true;
    EncoderSetup setup;
    uint32_t keyEvery = 0;
    uint32_t quality = 0xFFFFFFFFu;
    uint32_t bytesPerSecond = 0;
};

int32_t Align(int32_t value, int32_t to) {
    return (value + to - 1) / to * to;
}

} // namespace

struct AviFile {
    int refs = 1;
    std::string path;
    AVFormatContext* format = nullptr;
    AVStream* stream = nullptr; // the one video stream, once created
    AVISTREAMINFOA info{};
    Compression lastCompression; // for a file completed without frames
    bool headerWritten = false;
    bool broken = false; // the header could not be written: the file is no AVI

    uint64_t serial = 0; // tells this file's frame slots from others'

    // The frame sink, fixed by the first format.
    BITMAPINFOHEADER frameFormat{};
    Compression compression;        // how the frames are stored
    const AVCodec* codec = nullptr; // the encoder's, when compressed
    AVPixelFormat encoderFormat = AV_PIX_FMT_NONE;
    bool independentFrames = false;    // frames may be compressed apart, in any order
    AVCodecContext* encoder = nullptr; // null: uncompressed frames
    SwsContext* scaler = nullptr;      // null: the encoder takes the frame buffer as it is
    AVPixelFormat bufferFormat = AV_PIX_FMT_NONE;
    AVBufferRef* buffer = nullptr; // the frame buffer, a bottom-up DIB
    int32_t bufferStride = 0;
    AVFrame* encoderFrame = nullptr; // the scaler's output
    AVPacket* packet = nullptr;
    int64_t nextPosition = 0;
    bool failed = false; // a write failed; nothing more is written

    // Room claimed on disk ahead of the muxer: every packet and the index the trailer will
    // write. A packet for which no room can be had (disk full, file-size limit) never
    // reaches the muxer, so the file can still be completed with the frames before it.
    int fd = -1;          // the file, written through our own I/O context
    int64_t position = 0; // where the next write goes
    int64_t end = 0;      // the end of what has been written
    bool reserving = true;
    int64_t reservedEnd = 0;
    int64_t packetsWritten = 0;
    int64_t gapFrames = 0; // empty frames the muxer writes before the next packet
};

// A compressor a frame slot has of its own (or shares with its partner).
struct SlotEncoder {
    AVCodecContext* context = nullptr; // null once it failed
    ~SlotEncoder() { avcodec_free_context(&context); }
};

struct AviFrameSlot {
    uint64_t fileSerial = 0;
    BITMAPINFOHEADER frameFormat{};
    bool raw = true;
    AVRational timeBase{1, 25};
    int32_t bufferStride = 0;
    AVPixelFormat bufferFormat = AV_PIX_FMT_NONE;
    AVBufferRef* buffer = nullptr;
    std::shared_ptr<SlotEncoder> encoder; // where frames are independent
    AVPacket* packet = nullptr;           // what that encoder made of the buffer
    bool compressed = false;

    ~AviFrameSlot() {
        av_buffer_unref(&buffer);
        av_packet_free(&packet);
    }
};

struct AviStream {
    int refs = 1;
    AviFile* file = nullptr;     // the file this stream writes into (held)
    AviStream* source = nullptr; // a compressing stream's uncompressed stream (held)
    Compression compression;     // raw for the uncompressed stream
};

namespace {

std::atomic<int> initCount{0};
std::atomic<uint64_t> fileSerials{0};

// The layouts the frame buffer can take. Packed: the channels are byte offsets within a
// pixel of bytesPerPixel bytes. Planar: the channels are plane numbers, one byte a pixel.
struct PixelLayout {
    AVPixelFormat format;
    int planes;
    int bytesPerPixel;
    int red, green, blue, alpha;
};

constexpr PixelLayout kLayouts[] = {
    {AV_PIX_FMT_BGR24, 1, 3, 2, 1, 0, -1}, {AV_PIX_FMT_RGB24, 1, 3, 0, 1, 2, -1},
    {AV_PIX_FMT_BGR0, 1, 4, 2, 1, 0, -1},  {AV_PIX_FMT_RGB0, 1, 4, 0, 1, 2, -1},
    {AV_PIX_FMT_BGRA, 1, 4, 2, 1, 0, 3},   {AV_PIX_FMT_RGBA, 1, 4, 0, 1, 2, 3},
    {AV_PIX_FMT_GBRP, 3, 1, 2, 0, 1, -1},  {AV_PIX_FMT_GBRAP, 4, 1, 2, 0, 1, 3},
};

const PixelLayout* LayoutOf(AVPixelFormat format) {
    for (const PixelLayout& layout : kLayouts)
        if (layout.format == format)
            return &layout;
    return nullptr;
}

bool Supports(const AVPixelFormat* list, AVPixelFormat format) {
    for (; list && *list != AV_PIX_FMT_NONE; ++list)
        if (*list == format)
            return true;
    return false;
}

void FreeSink(AviFile* file) {
    avcodec_free_context(&file->encoder);
    sws_freeContext(file->scaler);
    file->scaler = nullptr;
    av_buffer_unref(&file->buffer);
    av_frame_free(&file->encoderFrame);
    av_packet_free(&file->packet);
}

// The shape of a frame buffer: a bottom-up picture in one of the layouts above.
struct BufferShape {
    AVPixelFormat format = AV_PIX_FMT_NONE;
    int32_t stride = 0;
    int32_t width = 0;
    int32_t height = 0;

    size_t PlaneSize() const { return static_cast<size_t>(stride) * height; }
    size_t Size() const { return PlaneSize() * LayoutOf(format)->planes; }
};

BufferShape ShapeOf(const AviFile* file) {
    return BufferShape{file->bufferFormat, file->bufferStride, file->frameFormat.biWidth,
                       file->frameFormat.biHeight};
}

// A frame buffer as the writer sees it: each channel's bottom row and the step between
// pixels.
AviFrameBuffer Describe(const BufferShape& shape, uint8_t* data) {
    const PixelLayout* layout = LayoutOf(shape.format);
    AviFrameBuffer frame{};
    frame.width = shape.width;
    frame.height = shape.height;
    frame.stride = shape.stride;
    auto at = [&](int channel) -> uint8_t* {
        if (channel < 0)
            return nullptr;
        return layout->planes == 1 ? data + channel : data + channel * shape.PlaneSize();
    };
    frame.red = at(layout->red);
    frame.green = at(layout->green);
    frame.blue = at(layout->blue);
    frame.alpha = at(layout->alpha);
    frame.pixelStep = layout->bytesPerPixel;
    frame.data = data;
    frame.size = static_cast<int32_t>(shape.Size());
    return frame;
}

AviFrameBuffer Describe(const AviFile* file) {
    return Describe(ShapeOf(file), file->buffer->data);
}

// Makes sure a frame buffer may be written: an encoder may still hold the last frame.
bool EnsureBuffer(AVBufferRef** buffer, const BufferShape& shape) {
    if (*buffer && av_buffer_is_writable(*buffer))
        return true;
    av_buffer_unref(buffer);
    *buffer = av_buffer_allocz(shape.Size());
    return *buffer != nullptr;
}

bool EnsureBuffer(AviFile* file) {
    return EnsureBuffer(&file->buffer, ShapeOf(file));
}

// Writes one packet and hands it to the file at once, so that a failing write (disk full,
// file-size limit) shows on the frame that caused it instead of going unnoticed in the
// output buffer.
int WritePacket(AviFile* file, AVPacket* packet) {
    if (file->reserving) {
        // The chunk with its header and padding, the empty chunks of a gap, and for every
        // packet so far its index entries (idx1, and the OpenDML ix00 past 1 GB), with
        // headroom for the index headers and a new RIFF list.
        const int64_t target = avio_tell(file->format->pb) + packet->size + 16 +
                               16 * file->gapFrames + 24 * (file->packetsWritten + 1) + 8192;
        if (target > file->reservedEnd) {
            const int err =
                ::posix_fallocate(file->fd, file->reservedEnd, target - file->reservedEnd);
            if (err == ENOSPC || err == EFBIG || err == EDQUOT)
                return AVERROR(err);
            if (err == 0) {
                file->reservedEnd = target;
            } else {
                file->reserving = false; // this file system cannot claim room
                                         // ahead: write as it comes
            }
        }
    }
    file->gapFrames = 0;
    ++file->packetsWritten;
    int ret = av_write_frame(file->format, packet);
    if (ret >= 0) {
        avio_flush(file->format->pb);
        if (file->format->pb->error < 0)
            ret = file->format->pb->error;
    }
    return ret;
}

// Writes the packets the encoder has ready (all of them when draining).
long DrainEncoder(AviFile* file, int32_t* bytesWritten) {
    for (;;) {
        int ret = avcodec_receive_packet(file->encoder, file->packet);
        if (ret == AVERROR(EAGAIN) || ret == AVERROR_EOF)
            return AVIERR_OK;
        if (ret < 0)
            return AVIERR_COMPRESSOR;
        av_packet_rescale_ts(file->packet, file->encoder->time_base, file->stream->time_base);
        file->packet->stream_index = file->stream->index;
        const int size = file->packet->size;
        ret = WritePacket(file, file->packet);
        av_packet_unref(file->packet);
        if (ret < 0)
            return AVIERR_FILEWRITE;
        if (bytesWritten)
            *bytesWritten += size;
    }
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
    // Quality 0..10000; anything else is the compressor's default, taken as 7500.
    const int quality = c.quality <= 10000 ? static_cast<int>(c.quality) : 7500;
    if (setup.encoder == "libx264") {
        // crf 51 (worst) .. 10 (best; below that the files grow without a visible gain and
        // turn lossless in a profile few players read).
        const int crf = 51 - (quality * 41 + 5000) / 10000;
        av_dict_set_int(options, "crf", crf, 0);
    } else {
        // A fixed quantiser 31 (worst) .. 2 (best).
        const int q = 31 - (quality * 29 + 5000) / 10000;
        ctx->flags |= AV_CODEC_FLAG_QSCALE;
        ctx->global_quality = FF_QP2LAMBDA * q;
    }
}

// The frames' time base: one frame per tick.
AVRational FrameTimeBase(const AviFile* file) {
    return AVRational{static_cast<int>(file->info.dwScale), static_cast<int>(file->info.dwRate)};
}

// Opens an encoder for the file's frames as its compression says. The stream's own encoder
// splits a frame into slices on every core where the encoder can; frame threads are not
// used: they hold frames back, so a failing write would show on a later frame than the one
// it belongs to.
long OpenEncoderWith(const AviFile* file, bool sliceThreads, int slices, AVCodecContext** encoder) {
    const AVCodec* codec = file->codec;
    const Compression& c = file->compression;
    const AVRational timeBase = FrameTimeBase(file);
    AVCodecContext* ctx = avcodec_alloc_context3(codec);
    *encoder = ctx;
    if (!ctx)
        return AVIERR_MEMORY;
    ctx->width = file->frameFormat.biWidth;
    ctx->height = file->frameFormat.biHeight;
    ctx->pix_fmt = file->encoderFormat;
    ctx->time_base = timeBase;
    ctx->framerate = av_inv_q(timeBase);
    ctx->sample_aspect_ratio = AVRational{1, 1};
    ctx->max_b_frames = 0; // AVI has no room for reordered frames
    if (ctx->pix_fmt == AV_PIX_FMT_YUVJ420P || ctx->pix_fmt == AV_PIX_FMT_YUVJ422P ||
        ctx->pix_fmt == AV_PIX_FMT_YUVJ444P)
        ctx->color_range = AVCOL_RANGE_JPEG;
    if (file->format->oformat->flags & AVFMT_GLOBALHEADER)
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
    } else {
        ctx->thread_count = 1;
    }
    const int ret = avcodec_open2(ctx, codec, &options);
    av_dict_free(&options);
    return ret < 0 ? AVIERR_COMPRESSOR : AVIERR_OK;
}

long OpenEncoder(const AviFile* file, bool sliceThreads, AVCodecContext** encoder) {
    // FFV1 left to choose its slices makes a single slice up to 720x576, which one core
    // encodes, and four (2x2) above. Where the user left the choice to it, it gets four at
    // every size: every core works on each frame, and the slice-capable version it then
    // writes compresses a little better. Frames too small for four slices get the encoder's
    // own choice (it is asked again without them should four not do).
    const Compression& c = file->compression;
    const bool slicesChosen =
        std::any_of(c.setup.options.begin(), c.setup.options.end(),
                    [](const auto& option) { return option.first == "slices"; });
    const AVPixFmtDescriptor* format = av_pix_fmt_desc_get(file->encoderFormat);
    const bool roomForFour =
        format && AV_CEIL_RSHIFT(file->frameFormat.biWidth, format->log2_chroma_w) >= 2 &&
        AV_CEIL_RSHIFT(std::abs(file->frameFormat.biHeight), format->log2_chroma_h) >= 2;
    if (c.setup.encoder == "ffv1" && !slicesChosen && roomForFour) {
        if (OpenEncoderWith(file, sliceThreads, 4, encoder) == AVIERR_OK)
            return AVIERR_OK;
        avcodec_free_context(encoder);
    }
    return OpenEncoderWith(file, sliceThreads, 0, encoder);
}

// Whether the encoder's frames may be compressed by separate encoders, in any order: the
// intra-only lossless encoders that carry nothing from one frame to the next. (Huffyuv's
// per-frame tables adapt from frame to frame, and so do two-pass statistics.)
bool IndependentFrames(const AVCodecContext* ctx) {
    static const char* const kStateless[] = {"huffyuv", "ffvhuff", "utvideo", "magicyuv"};
    const bool stateless =
        std::any_of(std::begin(kStateless), std::end(kStateless),
                    [&](const char* name) { return std::strcmp(ctx->codec->name, name) == 0; });
    if (!stateless || (ctx->flags & (AV_CODEC_FLAG_PASS1 | AV_CODEC_FLAG_PASS2)))
        return false;
    int64_t context = 0;
    if (av_opt_get_int(ctx->priv_data, "context", 0, &context) >= 0 && context != 0)
        return false;
    return true;
}

// Fixes the stream by its first frame format and writes the file header.
long ConfigureSink(AviFile* file, const BITMAPINFOHEADER& bih, const Compression& c) {
    const int bpp = bih.biBitCount / 8;
    const int width = bih.biWidth;
    const int height = bih.biHeight;
    const AVPixelFormat native = bpp == 3 ? AV_PIX_FMT_BGR24 : AV_PIX_FMT_BGRA;
    const AVRational timeBase = FrameTimeBase(file);
    AVCodecParameters* par = file->stream->codecpar;
    file->frameFormat = bih;
    file->compression = c;
    file->packet = av_packet_alloc();
    if (!file->packet)
        return AVIERR_MEMORY;

    if (c.raw) {
        file->bufferFormat = native;
        file->bufferStride = Align(width * bpp, 4); // DIB rows are whole multiples of 4 bytes
        par->codec_type = AVMEDIA_TYPE_VIDEO;
        par->codec_id = AV_CODEC_ID_RAWVIDEO;
        par->codec_tag = 0;
        par->format = native;
        par->width = width;
        par->height = height;
        par->bits_per_coded_sample = bpp * 8;
    } else {
        const AVCodec* codec = avcodec_find_encoder_by_name(c.setup.encoder.c_str());
        if (!codec)
            return AVIERR_NOCOMPRESSOR;
        const AVPixelFormat* formats = codec->pix_fmts;
        AVPixelFormat encoderFormat = AV_PIX_FMT_NONE;
        const AVPixelFormat preferred = c.setup.preferredFormat.empty()
                                            ? AV_PIX_FMT_NONE
                                            : av_get_pix_fmt(c.setup.preferredFormat.c_str());
        if (preferred != AV_PIX_FMT_NONE && Supports(formats, preferred)) {
            encoderFormat = preferred;
        } else {
            // Frames the encoder takes as they are need no conversion at all.
            static constexpr AVPixelFormat direct24[] = {
                AV_PIX_FMT_BGR24, AV_PIX_FMT_RGB24, AV_PIX_FMT_BGR0, AV_PIX_FMT_RGB0,
                AV_PIX_FMT_GBRP,  AV_PIX_FMT_BGRA,  AV_PIX_FMT_RGBA, AV_PIX_FMT_GBRAP};
            static constexpr AVPixelFormat direct32[] = {AV_PIX_FMT_BGRA, AV_PIX_FMT_RGBA,
                                                         AV_PIX_FMT_GBRAP};
            if (bpp == 3) {
                for (AVPixelFormat f : direct24)
                    if (encoderFormat == AV_PIX_FMT_NONE && Supports(formats, f))
                        encoderFormat = f;
            } else {
                for (AVPixelFormat f : direct32)
                    if (encoderFormat == AV_PIX_FMT_NONE && Supports(formats, f))
                        encoderFormat = f;
            }
            if (encoderFormat == AV_PIX_FMT_NONE && formats)
                encoderFormat =
                    avcodec_find_best_pix_fmt_of_list(formats, native, bpp == 4, nullptr);
        }
        if (encoderFormat == AV_PIX_FMT_NONE)
            return AVIERR_BADFORMAT;
        file->bufferFormat = LayoutOf(encoderFormat) ? encoderFormat : native;
        const PixelLayout* layout = LayoutOf(file->bufferFormat);
        file->bufferStride = Align(width * layout->bytesPerPixel, 64);

        file->codec = codec;
        file->encoderFormat = encoderFormat;
        const long opened = OpenEncoder(file, true, &file->encoder);
        if (opened != AVIERR_OK)
            return opened;
        // A scaler's output is not a buffer a frame slot fills.
        file->independentFrames =
            IndependentFrames(file->encoder) && encoderFormat == file->bufferFormat;
        if (avcodec_parameters_from_context(par, file->encoder) < 0)
            return AVIERR_MEMORY;

        if (encoderFormat != file->bufferFormat) {
            file->scaler =
                sws_getContext(width, height, file->bufferFormat, width, height, encoderFormat,
                               SWS_BICUBIC | SWS_ACCURATE_RND, nullptr, nullptr, nullptr);
            file->encoderFrame = av_frame_alloc();
            if (!file->scaler || !file->encoderFrame)
                return AVIERR_MEMORY;
            file->encoderFrame->format = encoderFormat;
            file->encoderFrame->width = width;
            file->encoderFrame->height = height;
            if (av_frame_get_buffer(file->encoderFrame, 0) < 0)
                return AVIERR_MEMORY;
        }
    }
    file->stream->time_base = timeBase;
    file->stream->avg_frame_rate = av_inv_q(timeBase);
    file->stream->r_frame_rate = av_inv_q(timeBase);

    AVDictionary* muxerOptions = nullptr;
    av_dict_set(&muxerOptions, "flipped_raw_rgb", "1", 0); // DIBs are stored bottom-up
    const int ret = avformat_write_header(file->format, &muxerOptions);
    av_dict_free(&muxerOptions);
    if (ret < 0) {
        file->broken = true;
        return AVIERR_FILEWRITE;
    }
    file->headerWritten = true;
    return AVIERR_OK;
}

bool ValidFormat(const BITMAPINFOHEADER& bih) {
    // Frames stay below 1 GB, so every size computed from them fits in 32 bits.
    return bih.biSize >= 40 && bih.biWidth > 0 && bih.biHeight > 0 && bih.biWidth <= 65535 &&
           bih.biHeight <= 65535 &&
           static_cast<int64_t>(bih.biWidth + 64) * bih.biHeight * 4 <= (int64_t{1} << 30) &&
           (bih.biBitCount == 24 || bih.biBitCount == 32) && bih.biCompression == BI_RGB;
}

// Completes the file: a file without frames gets the header of its stream rectangle, then
// the encoder is drained and the index written. A file that never became an AVI is removed.
void FinishFile(AviFile* file) {
    if (file->stream && !file->headerWritten && !file->broken) {
        BITMAPINFOHEADER bih{};
        bih.biSize = 40;
        bih.biWidth = file->info.rcFrame.right - file->info.rcFrame.left;
        bih.biHeight = file->info.rcFrame.bottom - file->info.rcFrame.top;
        if (bih.biWidth <= 0 || bih.biHeight <= 0) {
            bih.biWidth = 640;
            bih.biHeight = 480;
        }
        bih.biPlanes = 1;
        bih.biBitCount = 24;
        bih.biSizeImage = static_cast<uint32_t>(bih.biWidth * 3 * bih.biHeight);
        if (ConfigureSink(file, bih, file->lastCompression) != AVIERR_OK)
            file->broken = true;
    }
    if (file->headerWritten) {
        if (file->encoder && !file->failed) {
            if (avcodec_send_frame(file->encoder, nullptr) >= 0)
                DrainEncoder(file, nullptr);
        }
        av_write_trailer(file->format);
    }
    FreeSink(file);
    if (file->format) {
        if (file->format->pb) {
            avio_flush(file->format->pb);
            av_freep(&file->format->pb->buffer);
            avio_context_free(&file->format->pb);
        }
        avformat_free_context(file->format);
        file->format = nullptr;
    }
    if (file->fd >= 0) {
        // The room claimed beyond the last byte written goes again.
        if (::ftruncate(file->fd, file->end) != 0) {
            // The file stays readable, only with zero bytes after its end.
        }
        ::close(file->fd);
        file->fd = -1;
    }
    if (!file->headerWritten)
        std::remove(file->path.c_str());
}

// Copies a DIB handed over by the caller into the frame buffer.
void CopyIntoBuffer(AviFile* file, const uint8_t* src, int32_t srcStride) {
    const AviFrameBuffer frame = Describe(file);
    const int srcBpp = file->frameFormat.biBitCount / 8;
    for (int y = 0; y < frame.height; ++y) {
        const uint8_t* s = src + static_cast<size_t>(y) * srcStride;
        const size_t row = static_cast<size_t>(y) * frame.stride;
        if (file->bufferFormat == (srcBpp == 3 ? AV_PIX_FMT_BGR24 : AV_PIX_FMT_BGRA)) {
            std::memcpy(frame.data + row, s, static_cast<size_t>(frame.width) * srcBpp);
            continue;
        }
        size_t at = row;
        for (int x = 0; x < frame.width; ++x, s += srcBpp, at += frame.pixelStep) {
            frame.blue[at] = s[0];
            frame.green[at] = s[1];
            frame.red[at] = s[2];
            if (frame.alpha)
                frame.alpha[at] = srcBpp == 4 ? s[3] : 255;
        }
    }
}

// Writes a packet made apart from the stream's encoder (an uncompressed frame or one a
// frame slot compressed) at position.
long WriteMadePacket(AviFile* file, AVPacket* pkt, AVRational timeBase, int64_t position,
                     int32_t* bytesWritten) {
    pkt->pts = pkt->dts = position;
    pkt->duration = 1;
    pkt->flags |= AV_PKT_FLAG_KEY;
    pkt->stream_index = file->stream->index;
    av_packet_rescale_ts(pkt, timeBase, file->stream->time_base);
    const int size = pkt->size;
    const int ret = WritePacket(file, pkt);
    av_packet_unref(pkt);
    if (ret < 0)
        return AVIERR_FILEWRITE;
    if (bytesWritten)
        *bytesWritten += size;
    return AVIERR_OK;
}

// The picture in a bottom-up frame buffer as an encoder takes it, upright: starting at the
// top line (the buffer's last row) and stepping backwards through the rows. Null when out
// of memory.
AVFrame* UprightFrame(AVBufferRef* buffer, const BufferShape& shape) {
    AVFrame* input = av_frame_alloc();
    if (!input)
        return nullptr;
    input->format = shape.format;
    input->width = shape.width;
    input->height = shape.height;
    const size_t lastRow = static_cast<size_t>(shape.height - 1) * shape.stride;
    for (int p = 0; p < LayoutOf(shape.format)->planes; ++p) {
        input->data[p] = buffer->data + p * shape.PlaneSize() + lastRow;
        input->linesize[p] = -shape.stride;
    }
    input->buf[0] = av_buffer_ref(buffer);
    if (!input->buf[0])
        av_frame_free(&input);
    return input;
}

// Writes the frame in buffer (the stream's frame buffer or a frame slot's) at position.
long WriteBuffer(AviFile* file, AVBufferRef* buffer, int64_t position, int32_t* bytesWritten) {
    const int height = file->frameFormat.biHeight;
    if (!file->encoder) {
        AVPacket* pkt = file->packet;
        pkt->buf = av_buffer_ref(buffer);
        if (!pkt->buf)
            return AVIERR_MEMORY;
        pkt->data = buffer->data;
        pkt->size = file->bufferStride * height;
        return WriteMadePacket(file, pkt, FrameTimeBase(file), position, bytesWritten);
    }

    AVFrame* frame = nullptr;
    AVFrame* input = UprightFrame(buffer, ShapeOf(file));
    if (!input)
        return AVIERR_MEMORY;
    if (file->scaler) {
        if (av_frame_make_writable(file->encoderFrame) < 0) {
            av_frame_free(&input);
            return AVIERR_MEMORY;
        }
        sws_scale(file->scaler, input->data, input->linesize, 0, height, file->encoderFrame->data,
                  file->encoderFrame->linesize);
        av_frame_free(&input);
        frame = file->encoderFrame;
    } else {
        frame = input;
    }
    frame->pts = position;
    frame->pict_type = AV_PICTURE_TYPE_NONE;
    // A fixed quantiser is taken from each frame.
    frame->quality =
        (file->encoder->flags & AV_CODEC_FLAG_QSCALE) ? file->encoder->global_quality : 0;
    const int ret = avcodec_send_frame(file->encoder, frame);
    if (frame == input)
        av_frame_free(&input);
    if (ret < 0)
        return AVIERR_COMPRESSOR;
    return DrainEncoder(file, bytesWritten);
}

// Whether the file takes frames now, its format set and no write failed: AVIERR_OK, or why
// not.
long TakesFrames(const AviFile* file) {
    if (!file->headerWritten)
        return AVIERR_BADFORMAT;
    return file->failed ? AVIERR_FILEWRITE : AVIERR_OK;
}

// The same for a stream handed in by a caller.
long TakesFrames(PAVISTREAM stream) {
    return stream && stream->file ? TakesFrames(stream->file) : AVIERR_BADPARAM;
}

// Whether a frame may be written at position start: AVIERR_OK, or why not.
long CanWriteAt(const AviFile* file, int32_t start) {
    if (const long taken = TakesFrames(file); taken != AVIERR_OK)
        return taken;
    if (start < file->nextPosition)
        return AVIERR_BADPARAM; // positions only grow
    return AVIERR_OK;
}

// Records how writing the frame at start went: a failure stops every later write, a
// success moves the next position on. Returns ret.
long Written(AviFile* file, int32_t start, long ret) {
    if (ret != AVIERR_OK)
        file->failed = true;
    else
        file->nextPosition = static_cast<int64_t>(start) + 1;
    return ret;
}

void ReleaseFile(AviFile* file) {
    if (--file->refs > 0)
        return;
    FinishFile(file);
    delete file;
}

// The I/O context's writes and seeks, on the file descriptor.
int WriteToFile(void* opaque, uint8_t* data, int size) {
    auto* file = static_cast<AviFile*>(opaque);
    int done = 0;
    while (done < size) {
        const ssize_t n = ::pwrite(file->fd, data + done, static_cast<size_t>(size - done),
                                   file->position + done);
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            return AVERROR(n < 0 ? errno : EIO);
        done += static_cast<int>(n);
    }
    file->position += done;
    file->end = std::max(file->end, file->position);
    return done;
}

int64_t SeekInFile(void* opaque, int64_t offset, int whence) {
    auto* file = static_cast<AviFile*>(opaque);
    switch (whence & ~AVSEEK_FORCE) {
    case AVSEEK_SIZE:
        return file->end;
    case SEEK_SET:
        break;
    case SEEK_CUR:
        offset += file->position;
        break;
    case SEEK_END:
        offset += file->end;
        break;
    default:
        return AVERROR(EINVAL);
    }
    if (offset < 0)
        return AVERROR(EINVAL);
    file->position = offset;
    return offset;
}

} // namespace

void AVIFileInit() {
    if (initCount.fetch_add(1) == 0)
        av_log_set_level(AV_LOG_ERROR);
}

void AVIFileExit() {
    int count = initCount.load();
    while (count > 0 && !initCount.compare_exchange_weak(count, count - 1)) {
    }
}

long AVIFileOpen(PAVIFILE* file, const char* name, unsigned mode) {
    if (!file)
        return AVIERR_BADPARAM;
    *file = nullptr;
    if (!name || !*name || !(mode & OF_CREATE) || !(mode & OF_WRITE))
        return AVIERR_BADPARAM;
    AVFormatContext* format = nullptr;
    if (avformat_alloc_output_context2(&format, nullptr, "avi", nullptr) < 0 || !format)
        return AVIERR_MEMORY;
    const int fd = ::open(name, O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0666);
    if (fd < 0) {
        avformat_free_context(format);
        return AVIERR_FILEOPEN;
    }
    auto* f = new AviFile;
    f->path = name;
    f->serial = ++fileSerials;
    f->format = format;
    f->fd = fd;
    constexpr int kBufferSize = 1 << 16;
    auto* buffer = static_cast<unsigned char*>(av_malloc(kBufferSize));
    format->pb =
        buffer ? avio_alloc_context(buffer, kBufferSize, 1, f, nullptr, WriteToFile, SeekInFile)
               : nullptr;
    if (!format->pb) {
        av_free(buffer);
        ReleaseFile(f);
        return AVIERR_MEMORY;
    }
    // Frame data goes to the file as it is, not copied through the buffer piece by piece;
    // the muxer's small writes (chunk headers, index entries) are still gathered.
    format->pb->direct = 1;
    *file = f;
    return AVIERR_OK;
}

long AVIFileCreateStream(PAVIFILE file, PAVISTREAM* stream, const AVISTREAMINFOA* info) {
    if (!stream)
        return AVIERR_BADPARAM;
    *stream = nullptr;
    if (!file || !info || info->fccType != streamtypeVIDEO || info->dwScale == 0 ||
        info->dwRate == 0 || info->dwScale > INT32_MAX || info->dwRate > INT32_MAX)
        return AVIERR_BADPARAM;
    if (file->stream)
        return AVIERR_UNSUPPORTED; // one video stream per file
    AVStream* st = avformat_new_stream(file->format, nullptr);
    if (!st)
        return AVIERR_MEMORY;
    file->stream = st;
    file->info = *info;
    if (info->szName[0]) {
        const std::string title(info->szName, strnlen(info->szName, sizeof info->szName));
        av_dict_set(&st->metadata, "title", title.c_str(), 0);
    }
    auto* s = new AviStream;
    s->file = file;
    ++file->refs;
    *stream = s;
    return AVIERR_OK;
}

long AVIMakeCompressedStream(PAVISTREAM* compressed, PAVISTREAM source,
                             const AVICOMPRESSOPTIONS* options) {
    if (!compressed)
        return AVIERR_BADPARAM;
    *compressed = nullptr;
    if (!source || !options || !source->file)
        return AVIERR_BADPARAM;
    Compression c;
    c.keyEvery = options->dwKeyFrameEvery;
    c.quality = options->dwQuality;
    c.bytesPerSecond = options->dwBytesPerSecond;
    if (!ICIsUncompressed(options->fccHandler)) {
        HIC hic = ICOpen(ICTYPE_VIDEO, options->fccHandler, ICMODE_COMPRESS);
        if (!hic)
            return AVIERR_NOCOMPRESSOR;
        if (options->lpParms && options->cbParms > 0 &&
            ICSendMessage(hic, ICM_SETSTATE, options->lpParms,
                          static_cast<long>(options->cbParms)) < 0) {
            ICClose(hic);
            return AVIERR_BADPARAM;
        }
        c.raw = false;
        ICGetEncoderSetup(hic, &c.setup);
        ICClose(hic);
    }
    auto* s = new AviStream;
    s->file = source->file;
    s->source = source;
    s->compression = c;
    ++source->refs;
    source->file->lastCompression = c;
    *compressed = s;
    return AVIERR_OK;
}

long AVIStreamSetFormat(PAVISTREAM stream, int32_t /*position*/, const void* format,
                        int32_t formatSize) {
    if (!stream || !stream->file || !format || formatSize < 40)
        return AVIERR_BADPARAM;
    AviFile* file = stream->file;
    BITMAPINFOHEADER bih;
    std::memcpy(&bih, format, sizeof bih);
    if (!ValidFormat(bih))
        return AVIERR_BADFORMAT;
    if (file->headerWritten) {
        // The format is fixed: the same frame size and depth every time.
        const BITMAPINFOHEADER& set = file->frameFormat;
        return bih.biWidth == set.biWidth && bih.biHeight == set.biHeight &&
                       bih.biBitCount == set.biBitCount
                   ? AVIERR_OK
                   : AVIERR_UNSUPPORTED;
    }
    if (file->broken || file->failed)
        return AVIERR_FILEWRITE;
    const long ret = ConfigureSink(file, bih, stream->compression);
    if (ret == AVIERR_OK) {
        // Compressed frames, one made and freed for every frame, are mostly smaller than a
        // whole picture: kept for reuse rather than faulted in afresh each time.
        platform::KeepBlocksSmallerThan(static_cast<unsigned long>(bih.biWidth) *
                                        static_cast<unsigned long>(std::abs(bih.biHeight)) * 3);
    }
    if (ret != AVIERR_OK && !file->broken) {
        // Nothing reached the file yet: start over cleanly, so that a later format (or the
        // completion of the file) configures afresh.
        FreeSink(file);
        file->frameFormat = BITMAPINFOHEADER{};
        AVCodecParameters* fresh = avcodec_parameters_alloc();
        if (fresh) {
            avcodec_parameters_copy(file->stream->codecpar, fresh);
            avcodec_parameters_free(&fresh);
        }
    }
    return ret;
}

long AVIStreamGetFrameBuffer(PAVISTREAM stream, AviFrameBuffer* frame) {
    if (!frame)
        return AVIERR_BADPARAM;
    if (const long taken = TakesFrames(stream); taken != AVIERR_OK)
        return taken;
    AviFile* file = stream->file;
    if (!EnsureBuffer(file))
        return AVIERR_MEMORY;
    *frame = Describe(file);
    return AVIERR_OK;
}

long AVIStreamWrite(PAVISTREAM stream, int32_t start, int32_t samples, const void* buffer,
                    int32_t bufferSize, uint32_t /*flags*/, int32_t* samplesWritten,
                    int32_t* bytesWritten) {
    if (samplesWritten)
        *samplesWritten = 0;
    if (bytesWritten)
        *bytesWritten = 0;
    if (!stream || !stream->file || !buffer || samples != 1 || start < 0)
        return AVIERR_BADPARAM;
    AviFile* file = stream->file;
    if (const long refused = CanWriteAt(file, start))
        return refused;
    const BITMAPINFOHEADER& bih = file->frameFormat;
    if (!file->buffer || buffer != file->buffer->data) {
        const int32_t packed = bih.biWidth * (bih.biBitCount / 8);
        const int64_t packedSize = static_cast<int64_t>(packed) * bih.biHeight;
        const int64_t paddedSize = static_cast<int64_t>(Align(packed, 4)) * bih.biHeight;
        int32_t stride;
        if (bufferSize == paddedSize)
            stride = Align(packed, 4);
        else if (bufferSize == packedSize)
            stride = packed;
        else
            return AVIERR_BADPARAM;
        if (!EnsureBuffer(file))
            return AVIERR_MEMORY;
        CopyIntoBuffer(file, static_cast<const uint8_t*>(buffer), stride);
    }
    int32_t written = 0;
    file->gapFrames = start - file->nextPosition;
    if (const long ret = Written(file, start, WriteBuffer(file, file->buffer, start, &written)))
        return ret;
    if (samplesWritten)
        *samplesWritten = 1;
    if (bytesWritten)
        *bytesWritten = written;
    return AVIERR_OK;
}

namespace {

BufferShape ShapeOf(const AviFrameSlot* slot) {
    return BufferShape{slot->bufferFormat, slot->bufferStride, slot->frameFormat.biWidth,
                       slot->frameFormat.biHeight};
}

} // namespace

long AVIStreamCreateFrameSlot(PAVISTREAM stream, bool compress, const AviFrameSlot* partner,
                              AviFrameSlot** slot) {
    if (!slot)
        return AVIERR_BADPARAM;
    *slot = nullptr;
    if (const long taken = TakesFrames(stream); taken != AVIERR_OK)
        return taken;
    AviFile* file = stream->file;
    auto* made = new (std::nothrow) AviFrameSlot;
    if (!made)
        return AVIERR_MEMORY;
    made->fileSerial = file->serial;
    made->frameFormat = file->frameFormat;
    made->raw = !file->encoder;
    made->timeBase = FrameTimeBase(file);
    made->bufferStride = file->bufferStride;
    made->bufferFormat = file->bufferFormat;
    if (compress && file->independentFrames && (made->packet = av_packet_alloc())) {
        if (partner && partner->fileSerial == file->serial && partner->encoder) {
            made->encoder = partner->encoder;
        } else {
            // An encoder of its own, taken only if it makes the very stream header the
            // file has, so that its frames are the stream's frames.
            auto encoder = std::make_shared<SlotEncoder>();
            AVCodecContext*& ctx = encoder->context;
            if (OpenEncoder(file, false, &ctx) == AVIERR_OK &&
                ctx->extradata_size == file->encoder->extradata_size &&
                (ctx->extradata_size == 0 ||
                 std::memcmp(ctx->extradata, file->encoder->extradata,
                             static_cast<size_t>(ctx->extradata_size)) == 0))
                made->encoder = std::move(encoder);
        }
    }
    *slot = made;
    return AVIERR_OK;
}

long AVIFrameSlotGetBuffer(AviFrameSlot* slot, AviFrameBuffer* frame) {
    if (!slot || !frame)
        return AVIERR_BADPARAM;
    slot->compressed = false;
    if (slot->packet)
        av_packet_unref(slot->packet);
    if (!EnsureBuffer(&slot->buffer, ShapeOf(slot)))
        return AVIERR_MEMORY;
    *frame = Describe(ShapeOf(slot), slot->buffer->data);
    return AVIERR_OK;
}

long AVIFrameSlotCompress(AviFrameSlot* slot) {
    if (!slot || !slot->buffer)
        return AVIERR_BADPARAM;
    AVCodecContext* encoder = slot->encoder ? slot->encoder->context : nullptr;
    if (!encoder || slot->compressed)
        return AVIERR_OK;
    AVFrame* input = UprightFrame(slot->buffer, ShapeOf(slot));
    if (!input)
        return AVIERR_MEMORY;
    input->pts = 0;
    input->pict_type = AV_PICTURE_TYPE_NONE;
    input->quality = (encoder->flags & AV_CODEC_FLAG_QSCALE) ? encoder->global_quality : 0;
    int ret = avcodec_send_frame(encoder, input);
    av_frame_free(&input);
    if (ret >= 0)
        ret = avcodec_receive_packet(encoder, slot->packet);
    if (ret < 0) {
        // The frame goes through the stream's own encoder instead; this encoder, whatever
        // it may still hold, is not used again.
        av_packet_unref(slot->packet);
        avcodec_free_context(&slot->encoder->context);
        return ret == AVERROR(EAGAIN) ? AVIERR_OK : AVIERR_COMPRESSOR;
    }
    slot->compressed = true;
    return AVIERR_OK;
}

bool AVIFrameSlotCompressesApart(const AviFrameSlot* slot) {
    return slot && (slot->raw || (slot->encoder && slot->encoder->context));
}

bool AVIFrameSlotComplete(const AviFrameSlot* slot) {
    return slot && slot->buffer && (slot->raw || slot->compressed);
}

long AVIStreamWriteFrameSlot(PAVISTREAM stream, int32_t start, AviFrameSlot* slot,
                             int32_t* bytesWritten) {
    if (bytesWritten)
        *bytesWritten = 0;
    if (!stream || !stream->file || !slot || !slot->buffer || start < 0)
        return AVIERR_BADPARAM;
    AviFile* file = stream->file;
    if (const long refused = CanWriteAt(file, start))
        return refused;
    if (slot->fileSerial != file->serial)
        return AVIERR_BADPARAM; // made for another file
    int32_t written = 0;
    file->gapFrames = start - file->nextPosition;
    const bool compressed = slot->compressed;
    slot->compressed = false;
    if (const long ret = Written(
            file, start,
            compressed ? WriteMadePacket(file, slot->packet, slot->timeBase, start, &written)
                       : WriteBuffer(file, slot->buffer, start, &written)))
        return ret;
    if (bytesWritten)
        *bytesWritten = written;
    return AVIERR_OK;
}

void AVIFrameSlotRelease(AviFrameSlot* slot) {
    delete slot;
}

unsigned long AVIStreamRelease(PAVISTREAM stream) {
    if (!stream)
        return 0;
    if (--stream->refs > 0)
        return static_cast<unsigned long>(stream->refs);
    if (stream->source)
        AVIStreamRelease(stream->source);
    else
        ReleaseFile(stream->file);
    delete stream;
    return 0;
}

unsigned long AVIFileRelease(PAVIFILE file) {
    if (!file)
        return 0;
    const int left = file->refs - 1;
    ReleaseFile(file);
    return static_cast<unsigned long>(left > 0 ? left : 0);
}

} // namespace vexo
