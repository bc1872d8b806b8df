// The AVIFile interface on libavformat's AVI muxer and libavcodec's encoders.
//
// The muxer needs the frame format before it can write the file header, so the file is
// created when it is opened (an unwritable path fails there) and the header is written
// when the stream's first format arrives. Releasing the last reference to the file writes
// its index and closes it, also after a failed write, so every frame written before stays
// readable.
#include <unistd.h>

#include <atomic>
#include <cstring>
#include <string>

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavformat/avformat.h>
#include <libavutil/frame.h>
#include <libavutil/log.h>
#include <libswscale/swscale.h>
}

#include "platform/avifile.h"
#include "platform/compressors.h"

namespace vexo {

struct AviFileObject {
    int refs = 1;
    AVFormatContext* muxer = nullptr; // its output is open from AVIFileOpenA on
    std::string path;
    bool hasStream = false;
    bool headerWritten = false;
    bool failed = false; // a write failed; nothing more is written but the index
};

struct AviStreamObject {
    int refs = 1;
    AVISTREAMINFOA info{};
    bool hasFormat = false;
    BITMAPINFOHEADER format{};

    // The file's own stream (uncompressed DIBs).
    AviFileObject* file = nullptr;
    AVStream* avStream = nullptr;
    AVPacket* packet = nullptr;

    // A compressing stream over source.
    AviStreamObject* source = nullptr;
    AVICOMPRESSOPTIONS options{};
    HIC hic = nullptr; // null: frames pass to the source uncompressed
    AVCodecContext* encoder = nullptr;
    SwsContext* scaler = nullptr;
    AVFrame* input = nullptr;     // wraps the caller's DIB, upright
    AVFrame* converted = nullptr; // in the encoder's pixel format, when it differs
};

namespace {

std::atomic<int> gInitCount{0};

int RowStride(const BITMAPINFOHEADER& f) {
    return ((f.biWidth * (f.biBitCount / 8)) + 3) & ~3;
}

AVPixelFormat DibPixelFormat(const BITMAPINFOHEADER& f) {
    return f.biBitCount == 32 ? AV_PIX_FMT_BGRA : AV_PIX_FMT_BGR24;
}

// A format this stand-in takes: an uncompressed 24- or 32-bit DIB of a sane size.
bool ReadFormat(const void* data, long size, BITMAPINFOHEADER& out) {
    if (!data || size < static_cast<long>(sizeof(BITMAPINFOHEADER)))
        return false;
    std::memcpy(&out, data, sizeof out);
    return out.biSize >= 40 && out.biCompression == BI_RGB &&
           (out.biBitCount == 24 || out.biBitCount == 32) && out.biWidth > 0 && out.biHeight > 0 &&
           out.biWidth <= 16384 && out.biHeight <= 16384;
}

bool SameFormat(const BITMAPINFOHEADER& a, const BITMAPINFOHEADER& b) {
    return a.biWidth == b.biWidth && a.biHeight == b.biHeight && a.biBitCount == b.biBitCount &&
           a.biCompression == b.biCompression;
}

AVRational StreamRate(const AVISTREAMINFOA& info) {
    return AVRational{static_cast<int>(info.dwScale), static_cast<int>(info.dwRate)};
}

// Writes the file header once the stream's parameters are set.
long WriteHeader(AviFileObject* file) {
    if (file->headerWritten)
        return AVIERR_OK;
    AVDictionary* options = nullptr;
    av_dict_set(&options, "flipped_raw_rgb", "1", 0); // DIBs stay bottom-up, height positive
    const int ret = avformat_write_header(file->muxer, &options);
    av_dict_free(&options);
    if (ret < 0) {
        file->failed = true;
        return AVIERR_FILEWRITE;
    }
    file->headerWritten = true;
    return AVIERR_OK;
}

// Gives the file's stream its parameters and writes the header.
long SetStreamParameters(AviStreamObject* raw, const AVCodecParameters* parameters) {
    AviFileObject* file = raw->file;
    if (file->failed || file->headerWritten)
        return AVIERR_BADFORMAT;
    if (avcodec_parameters_copy(raw->avStream->codecpar, parameters) < 0)
        return AVIERR_MEMORY;
    const long ret = WriteHeader(file);
    return ret == AVIERR_OK ? AVIERR_OK : AVIERR_BADFORMAT;
}

long SetRawFormat(AviStreamObject* raw, const BITMAPINFOHEADER& format) {
    AVCodecParameters* par = avcodec_parameters_alloc();
    if (!par)
        return AVIERR_MEMORY;
    par->codec_type = AVMEDIA_TYPE_VIDEO;
    par->codec_id = AV_CODEC_ID_RAWVIDEO;
    par->codec_tag = 0; // BI_RGB
    par->format = DibPixelFormat(format);
    par->width = format.biWidth;
    par->height = format.biHeight;
    par->bits_per_coded_sample = format.biBitCount;
    const long ret = SetStreamParameters(raw, par);
    avcodec_parameters_free(&par);
    return ret;
}

long WritePacket(AviStreamObject* raw, AVPacket* packet) {
    AviFileObject* file = raw->file;
    if (file->failed || !file->headerWritten)
        return AVIERR_FILEWRITE;
    packet->stream_index = raw->avStream->index;
    if (av_write_frame(file->muxer, packet) < 0) {
        file->failed = true;
        return AVIERR_FILEWRITE;
    }
    return AVIERR_OK;
}

// Sends a frame (or null: the end) to the encoder and writes what comes out.
long Encode(AviStreamObject* s, AVFrame* frame, long* bytesWritten) {
    AviStreamObject* raw = s->source;
    if (avcodec_send_frame(s->encoder, frame) < 0)
        return AVIERR_COMPRESSOR;
    AVPacket* packet = raw->packet;
    for (;;) {
        const int ret = avcodec_receive_packet(s->encoder, packet);
        if (ret == AVERROR(EAGAIN) || ret == AVERROR_EOF)
            return AVIERR_OK;
        if (ret < 0)
            return AVIERR_COMPRESSOR;
        av_packet_rescale_ts(packet, s->encoder->time_base, raw->avStream->time_base);
        const int size = packet->size;
        const long written = WritePacket(raw, packet);
        av_packet_unref(packet);
        if (written != AVIERR_OK)
            return written;
        if (bytesWritten)
            *bytesWritten += size;
    }
}

void FreeEncoder(AviStreamObject* s) {
    avcodec_free_context(&s->encoder);
    sws_freeContext(s->scaler);
    s->scaler = nullptr;
    av_frame_free(&s->input);
    av_frame_free(&s->converted);
}

long OpenEncoder(AviStreamObject* s, const BITMAPINFOHEADER& format) {
    const AVICOMPRESSOPTIONS& o = s->options;
    EncoderRequest request;
    request.width = format.biWidth;
    request.height = format.biHeight;
    request.sourceFormat = DibPixelFormat(format);
    request.fps = static_cast<int>(s->info.dwRate / (s->info.dwScale ? s->info.dwScale : 1));
    request.quality = static_cast<int32_t>(o.dwQuality);
    if (o.dwFlags & AVICOMPRESSF_KEYFRAMES)
        request.keyFrameEvery = static_cast<int32_t>(o.dwKeyFrameEvery);
    if (o.dwFlags & AVICOMPRESSF_DATARATE)
        request.bytesPerSecond = static_cast<int32_t>(o.dwBytesPerSecond);
    if (request.fps <= 0)
        return AVIERR_BADFORMAT;

    AVCodecContext* encoder = nullptr;
    if (OpenCompressorEncoder(s->hic, request, &encoder) < 0)
        return AVIERR_BADFORMAT;
    s->encoder = encoder;
    s->input = av_frame_alloc();
    if (!s->input)
        return AVIERR_MEMORY;
    if (encoder->pix_fmt != request.sourceFormat) {
        s->scaler = sws_getContext(
            format.biWidth, format.biHeight, static_cast<AVPixelFormat>(request.sourceFormat),
            format.biWidth, format.biHeight, encoder->pix_fmt,
            SWS_BICUBIC | SWS_ACCURATE_RND | SWS_FULL_CHR_H_INT | SWS_FULL_CHR_H_INP, nullptr,
            nullptr, nullptr);
        s->converted = av_frame_alloc();
        if (!s->scaler || !s->converted)
            return AVIERR_MEMORY;
        s->converted->format = encoder->pix_fmt;
        s->converted->width = format.biWidth;
        s->converted->height = format.biHeight;
        if (av_frame_get_buffer(s->converted, 0) < 0)
            return AVIERR_MEMORY;
    }
    AVCodecParameters* par = avcodec_parameters_alloc();
    if (!par)
        return AVIERR_MEMORY;
    long ret = avcodec_parameters_from_context(par, encoder) < 0 ? AVIERR_MEMORY : AVIERR_OK;
    if (ret == AVIERR_OK)
        ret = SetStreamParameters(s->source, par);
    avcodec_parameters_free(&par);
    return ret;
}

long SetCompressedFormat(AviStreamObject* s, const BITMAPINFOHEADER& format) {
    const long ret = OpenEncoder(s, format);
    if (ret != AVIERR_OK)
        FreeEncoder(s); // a later format starts afresh
    return ret;
}

long SetFormat(AviStreamObject* s, const BITMAPINFOHEADER& format) {
    if (s->hasFormat)
        return SameFormat(s->format, format) ? AVIERR_OK : AVIERR_BADFORMAT;
    long ret;
    if (s->file) {
        ret = SetRawFormat(s, format);
    } else if (!s->hic) {
        ret = SetFormat(s->source, format);
    } else {
        ret = SetCompressedFormat(s, format);
    }
    if (ret == AVIERR_OK) {
        s->hasFormat = true;
        s->format = format;
    }
    return ret;
}

long WriteFrame(AviStreamObject* s, long start, const void* buffer, long size, uint32_t flags,
                long* bytesWritten) {
    if (!s->hasFormat)
        return AVIERR_BADFORMAT;
    const BITMAPINFOHEADER& f = s->format;
    const long stride = RowStride(f);
    if (!buffer || size != stride * f.biHeight)
        return AVIERR_BADPARAM;
    if (s->file) {
        AVPacket* packet = s->packet;
        av_packet_unref(packet);
        // The DIB is stored as it is; the muxer writes it out before returning.
        packet->data = static_cast<uint8_t*>(const_cast<void*>(buffer));
        packet->size = static_cast<int>(size);
        packet->pts = packet->dts =
            av_rescale_q(start, StreamRate(s->info), s->avStream->time_base);
        packet->duration = av_rescale_q(1, StreamRate(s->info), s->avStream->time_base);
        packet->flags = AV_PKT_FLAG_KEY;
        const long ret = WritePacket(s, packet);
        packet->data = nullptr;
        packet->size = 0;
        if (ret == AVIERR_OK && bytesWritten)
            *bytesWritten = size;
        return ret;
    }
    if (!s->hic)
        return WriteFrame(s->source, start, buffer, size, flags, bytesWritten);

    if (s->source->file->failed)
        return AVIERR_FILEWRITE;
    // The DIB's last row is the picture's top line: a negative line size reads it upright.
    AVFrame* in = s->input;
    in->format = DibPixelFormat(f);
    in->width = f.biWidth;
    in->height = f.biHeight;
    in->data[0] = static_cast<uint8_t*>(const_cast<void*>(buffer)) + (f.biHeight - 1) * stride;
    in->linesize[0] = static_cast<int>(-stride);
    AVFrame* frame = in;
    if (s->scaler) {
        if (av_frame_make_writable(s->converted) < 0)
            return AVIERR_MEMORY;
        sws_scale(s->scaler, in->data, in->linesize, 0, f.biHeight, s->converted->data,
                  s->converted->linesize);
        frame = s->converted;
    }
    frame->pts = start;
    // Encoders that work at a fixed quantiser read it from each frame.
    frame->quality = s->encoder->global_quality;
    if (bytesWritten)
        *bytesWritten = 0;
    return Encode(s, frame, bytesWritten);
}

// The frame rectangle of the stream as a 24-bit format: what an empty file declares.
BITMAPINFOHEADER DefaultFormat(const AVISTREAMINFOA& info) {
    BITMAPINFOHEADER f{};
    f.biSize = 40;
    f.biWidth = info.rcFrame.right - info.rcFrame.left;
    f.biHeight = info.rcFrame.bottom - info.rcFrame.top;
    f.biPlanes = 1;
    f.biBitCount = 24;
    f.biCompression = BI_RGB;
    return f;
}

void FinishFile(AviFileObject* file) {
    if (file->headerWritten) {
        av_write_trailer(file->muxer);
    }
    avio_closep(&file->muxer->pb);
    if (!file->headerWritten) {
        // Without a header the file is no AVI at all; leave nothing half-written behind.
        ::unlink(file->path.c_str());
    }
    avformat_free_context(file->muxer);
    delete file;
}

void ReleaseFile(AviFileObject* file) {
    if (--file->refs == 0)
        FinishFile(file);
}

} // namespace

void AVIFileInit() {
    ++gInitCount;
}

void AVIFileExit() {
    int count = gInitCount.load();
    while (count > 0 && !gInitCount.compare_exchange_weak(count, count - 1)) {
    }
}

long AVIFileOpenA(PAVIFILE* file, const char* fileName, unsigned mode, const void* handler) {
    (void)handler;
    if (!file)
        return AVIERR_BADPARAM;
    *file = nullptr;
    if (!fileName || !*fileName || !(mode & OF_WRITE) || !(mode & OF_CREATE))
        return AVIERR_BADPARAM;
    AVFormatContext* muxer = nullptr;
    if (avformat_alloc_output_context2(&muxer, nullptr, "avi", fileName) < 0 || !muxer)
        return AVIERR_MEMORY;
    if (avio_open(&muxer->pb, fileName, AVIO_FLAG_WRITE) < 0) {
        avformat_free_context(muxer);
        return AVIERR_FILEOPEN;
    }
    *file = new AviFileObject{1, muxer, fileName};
    return AVIERR_OK;
}

long AVIFileCreateStreamA(PAVIFILE file, PAVISTREAM* stream, const AVISTREAMINFOA* info) {
    if (!stream)
        return AVIERR_BADPARAM;
    *stream = nullptr;
    if (!file || !info || info->fccType != streamtypeVIDEO || info->dwRate == 0 ||
        info->dwScale == 0 || info->dwRate > INT32_MAX || info->dwScale > INT32_MAX)
        return AVIERR_BADPARAM;
    if (file->hasStream)
        return AVIERR_UNSUPPORTED; // one video stream per file
    AVStream* st = avformat_new_stream(file->muxer, nullptr);
    AVPacket* packet = av_packet_alloc();
    if (!st || !packet) {
        av_packet_free(&packet);
        return AVIERR_MEMORY;
    }
    const AVRational rate = StreamRate(*info);
    st->time_base = rate;
    st->avg_frame_rate = av_inv_q(rate);
    st->r_frame_rate = av_inv_q(rate);
    char name[sizeof info->szName + 1] = {};
    std::memcpy(name, info->szName, sizeof info->szName);
    if (name[0])
        av_dict_set(&st->metadata, "title", name, 0);

    auto* s = new AviStreamObject;
    s->info = *info;
    s->file = file;
    s->avStream = st;
    s->packet = packet;
    file->hasStream = true;
    ++file->refs;
    *stream = s;
    return AVIERR_OK;
}

long AVIMakeCompressedStream(PAVISTREAM* compressed, PAVISTREAM source,
                             const AVICOMPRESSOPTIONS* options, const void* handler) {
    (void)handler;
    if (!compressed)
        return AVIERR_BADPARAM;
    *compressed = nullptr;
    if (!source || !source->file || !options)
        return AVIERR_BADPARAM;
    HIC hic = nullptr;
    if (!IsUncompressedHandler(options->fccHandler)) {
        hic = ICOpen(ICTYPE_VIDEO, options->fccHandler, ICMODE_COMPRESS);
        if (!hic)
            return AVIERR_NOCOMPRESSOR;
        if (options->lpParms && options->cbParms > 0 &&
            ICSendMessage(hic, ICM_SETSTATE, options->lpParms, options->cbParms) < 0) {
            ICClose(hic);
            return AVIERR_COMPRESSOR;
        }
    }
    auto* s = new AviStreamObject;
    s->info = source->info;
    s->source = source;
    s->options = *options;
    s->options.lpParms = nullptr; // taken by the compressor above; not kept
    s->options.cbParms = 0;
    s->hic = hic;
    ++source->refs;
    *compressed = s;
    return AVIERR_OK;
}

long AVIStreamSetFormat(PAVISTREAM stream, long position, const void* format, long size) {
    (void)position;
    BITMAPINFOHEADER f;
    if (!stream || !ReadFormat(format, size, f))
        return AVIERR_BADFORMAT;
    return SetFormat(stream, f);
}

long AVIStreamWrite(PAVISTREAM stream, long start, long samples, const void* buffer, long size,
                    uint32_t flags, long* samplesWritten, long* bytesWritten) {
    if (samplesWritten)
        *samplesWritten = 0;
    if (bytesWritten)
        *bytesWritten = 0;
    if (!stream || start < 0 || samples != 1)
        return AVIERR_BADPARAM;
    const long ret = WriteFrame(stream, start, buffer, size, flags, bytesWritten);
    if (ret == AVIERR_OK && samplesWritten)
        *samplesWritten = 1;
    return ret;
}

unsigned long AVIStreamRelease(PAVISTREAM stream) {
    if (!stream)
        return 0;
    if (--stream->refs > 0)
        return static_cast<unsigned long>(stream->refs);
    if (stream->file) {
        AviFileObject* file = stream->file;
        // A stream that never got a format still makes a valid (empty) file: the frame
        // rectangle it was created with, uncompressed.
        if (!stream->hasFormat && !file->headerWritten && !file->failed) {
            const BITMAPINFOHEADER f = DefaultFormat(stream->info);
            if (f.biWidth > 0 && f.biHeight > 0)
                SetRawFormat(stream, f);
        }
        av_packet_free(&stream->packet);
        delete stream;
        ReleaseFile(file);
        return 0;
    }
    AviStreamObject* source = stream->source;
    if (stream->hic) {
        // An empty file still declares the chosen compressor, at the stream's rectangle.
        if (!stream->hasFormat && !source->hasFormat && !source->file->headerWritten &&
            !source->file->failed) {
            const BITMAPINFOHEADER f = DefaultFormat(stream->info);
            if (f.biWidth > 0 && f.biHeight > 0)
                SetFormat(stream, f);
        }
        if (stream->encoder && source->file->headerWritten && !source->file->failed)
            Encode(stream, nullptr, nullptr); // the frames the encoder still holds
    }
    FreeEncoder(stream);
    ICClose(stream->hic);
    delete stream;
    AVIStreamRelease(source);
    return 0;
}

unsigned long AVIFileRelease(PAVIFILE file) {
    if (!file)
        return 0;
    const int left = file->refs - 1;
    ReleaseFile(file);
    return static_cast<unsigned long>(left);
}

} // namespace vexo
