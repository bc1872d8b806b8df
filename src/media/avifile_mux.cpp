// The file being written, on libavformat's AVI, Matroska and MP4 muxers and libavcodec's
// encoders: its header, its frames and its completion.
//
// The muxer needs the frame size before it writes the file header, so the header is written
// when the first frame format is set; the file itself is created at open time, so that an
// unwritable path fails there. Uncompressed frames are stored as bottom-up DIBs exactly as
// handed over; compressed streams hand the encoder the same picture upright by reading the
// bottom-up buffer through a negative line size.
//
// The file is written through an AviOutput, which claims the room for each packet (and for
// the index the trailer adds) before the muxer sees it.
#include <cstdio>

#include "media/avifile_internal.h"
#include "media/ffmpeg_log.h"
#include "platform/log.h"

extern "C" {
#include <libavutil/pixdesc.h>
}

namespace vexo::media {

using platform::LogFailure;

int WritePacket(AviMux& mux, AVPacket* packet) {
    // The chunk with its header and padding, the empty chunks of a gap, and for every packet
    // so far its index entries (idx1, and the OpenDML ix00 past 1 GB), with headroom for the
    // index headers and a new RIFF list.
    // Matroska's and MP4's packets wait in the cluster or fragment, which takes some bytes
    // of its own for each.
    AVIOContext* pb = mux.format->pb;
    const int size = packet->size;
    const int64_t room = avio_tell(pb) + mux.pendingBytes + size + 16 + 16 * mux.gapFrames +
                         24 * (mux.packetsWritten + 1) + 8192;
    if (const int refused = mux.output.Reserve(room))
        return refused;
    mux.gapFrames = 0;
    ++mux.packetsWritten;
    if (mux.kind.container == Container::Mp4) {
        const auto stream = static_cast<size_t>(packet->stream_index);
        if (mux.timings.size() <= stream)
            mux.timings.resize(stream + 1);
        mux.timings[stream].push_back({packet->pts, packet->dts, packet->duration});
    }
    int ret = av_write_frame(mux.format.get(), packet);
    if (ret >= 0 && mux.GathersPackets()) {
        mux.pendingBytes += size + 64;
    } else if (ret >= 0) {
        avio_flush(pb);
        if (pb->error < 0)
            ret = pb->error;
        else
            mux.completeEnd = mux.output.End();
    }
    return ret;
}

int WriteOut(AviMux& mux) {
    if (!mux.GathersPackets() || mux.pendingBytes == 0)
        return 0;
    AVIOContext* pb = mux.format->pb;
    int ret = av_write_frame(mux.format.get(), nullptr); // ends the cluster or fragment
    if (ret >= 0) {
        avio_flush(pb);
        if (pb->error < 0)
            ret = pb->error;
        else
            mux.completeEnd = mux.output.End();
    }
    mux.pendingBytes = 0;
    return ret < 0 ? ret : 0;
}

namespace {

// Writes the packets the encoder has ready (all of them when draining).
long DrainEncoder(AviMux& mux, int32_t* bytesWritten) {
    AVPacket* packet = mux.packet.get();
    for (;;) {
        int ret = avcodec_receive_packet(mux.encoder.get(), packet);
        if (ret == AVERROR(EAGAIN) || ret == AVERROR_EOF)
            return AVIERR_OK;
        if (ret < 0) {
            LogFailure("avi", "the encoder " + std::string(mux.codec->name) +
                                  " made no frame: " + FfmpegErrorText(ret));
            return AVIERR_COMPRESSOR;
        }
        av_packet_rescale_ts(packet, mux.encoder->time_base, mux.stream->time_base);
        packet->stream_index = mux.stream->index;
        const int size = packet->size;
        ret = WritePacket(mux, packet);
        av_packet_unref(packet);
        if (ret < 0)
            return AVIERR_FILEWRITE;
        if (bytesWritten)
            *bytesWritten += size;
    }
}

// Sets up the encoder (and the scaler to its pixel format) of a compressed stream.
long ConfigureEncoder(AviMux& mux, int bpp, AVPixelFormat native) {
    const Compression& c = mux.compression;
    const int width = mux.frameFormat.biWidth;
    const int height = mux.frameFormat.biHeight;
    const AVCodec* codec = avcodec_find_encoder_by_name(c.setup.encoder.c_str());
    if (!codec) {
        LogFailure("avi", "this FFmpeg has no encoder " + c.setup.encoder);
        return AVIERR_NOCOMPRESSOR;
    }
    const AVPixelFormat encoderFormat = ChooseEncoderFormat(codec, c.setup, bpp);
    if (encoderFormat == AV_PIX_FMT_NONE) {
        LogFailure("avi", "the encoder " + c.setup.encoder + " takes no picture format");
        return AVIERR_BADFORMAT;
    }
    mux.bufferFormat = LayoutOf(encoderFormat) ? encoderFormat : native;
    mux.bufferStride = Align(width * LayoutOf(mux.bufferFormat)->bytesPerPixel, 64);

    mux.codec = codec;
    mux.encoderFormat = encoderFormat;
    int error = 0;
    if (const long opened = OpenEncoder(mux, true, mux.encoder, &error); opened != AVIERR_OK) {
        LogFailure("avi", "cannot open the encoder " + c.setup.encoder + " for " +
                              std::to_string(width) + "x" + std::to_string(height) + " " +
                              av_get_pix_fmt_name(encoderFormat) +
                              " frames: " + (error ? FfmpegErrorText(error) : "out of memory"));
        return opened;
    }
    // A scaler's output is not a buffer a frame slot fills.
    mux.independentFrames =
        IndependentFrames(mux.encoder.get(), c.setup) && encoderFormat == mux.bufferFormat;
    if (avcodec_parameters_from_context(mux.stream->codecpar, mux.encoder.get()) < 0)
        return AVIERR_MEMORY;
    // H.265 in MP4 under the name Apple's players ask for (its parameter sets in the header).
    if (mux.kind.container == Container::Mp4 && codec->id == AV_CODEC_ID_HEVC)
        mux.stream->codecpar->codec_tag = MKTAG('h', 'v', 'c', '1');
    if (encoderFormat == mux.bufferFormat)
        return AVIERR_OK;
    return MakeConverter(width, height, mux.bufferFormat, encoderFormat, mux.scaler,
                         mux.encoderFrame)
               ? AVIERR_OK
               : AVIERR_MEMORY;
}

} // namespace

// Fixes the stream by its first frame format and writes the file header.
long ConfigureSink(AviMux& mux, const BITMAPINFOHEADER& bih, const Compression& c) {
    const int bpp = bih.biBitCount / 8;
    const AVPixelFormat native = bpp == 3 ? AV_PIX_FMT_BGR24 : AV_PIX_FMT_BGRA;
    const AVRational timeBase = mux.FrameTimeBase();
    mux.frameFormat = bih;
    mux.compression = c;
    mux.packet.reset(av_packet_alloc());
    if (!mux.packet)
        return AVIERR_MEMORY;

    if (c.raw) {
        AVCodecParameters* par = mux.stream->codecpar;
        mux.bufferFormat = native;
        mux.bufferStride = Align(bih.biWidth * bpp, 4); // DIB rows are whole multiples of 4 bytes
        par->codec_type = AVMEDIA_TYPE_VIDEO;
        par->codec_id = AV_CODEC_ID_RAWVIDEO;
        par->codec_tag = 0;
        par->format = native;
        par->width = bih.biWidth;
        par->height = bih.biHeight;
        par->bits_per_coded_sample = bpp * 8;
    } else if (const long configured = ConfigureEncoder(mux, bpp, native);
               configured != AVIERR_OK) {
        return configured;
    }
    mux.stream->time_base = timeBase;
    mux.stream->avg_frame_rate = av_inv_q(timeBase);
    mux.stream->r_frame_rate = av_inv_q(timeBase);
    if (!AddSoundToHeader(mux))
        return AVIERR_MEMORY;

    AVDictionary* muxerOptions = nullptr;
    if (mux.kind.container == Container::Avi)
        av_dict_set(&muxerOptions, "flipped_raw_rgb", "1", 0); // DIBs are stored bottom-up
    // MP4 is written as fragments, each written out when the program says (after every
    // frame), behind a header that holds no index: what was written is playable whatever
    // becomes of the writer. The completed file is rewritten as an ordinary one.
    if (mux.kind.container == Container::Mp4)
        av_dict_set(&muxerOptions, "movflags", "frag_custom+empty_moov+default_base_moof", 0);
    const int ret = avformat_write_header(mux.format.get(), &muxerOptions);
    av_dict_free(&muxerOptions);
    avio_flush(mux.format->pb);
    if (ret < 0 || mux.format->pb->error < 0) {
        LogFailure("avi", "cannot write the header of " + mux.path + ": " +
                              FfmpegErrorText(ret < 0 ? ret : mux.format->pb->error));
        mux.broken = true;
        return AVIERR_FILEWRITE;
    }
    mux.headerWritten = true;
    mux.completeEnd = mux.output.End();
    WriteHeldSound(mux);
    return AVIERR_OK;
}

// Forgets a sink that could not be configured: nothing reached the file yet, so a later
// format (or the completion of the file) configures afresh.
void ForgetSink(AviMux& mux) {
    mux.encoder.reset();
    mux.scaler.reset();
    mux.buffer.reset();
    mux.encoderFrame.reset();
    mux.packet.reset();
    mux.frameFormat = BITMAPINFOHEADER{};
    AVCodecParameters* fresh = avcodec_parameters_alloc();
    if (fresh) {
        avcodec_parameters_copy(mux.stream->codecpar, fresh);
        avcodec_parameters_free(&fresh);
    }
}

namespace {

// Completes the file: a file without frames gets the header of its stream rectangle, then
// the encoders are drained and the index written. A file that never became an AVI is removed.
// After a failed write (a failing disk, not a full one: room for every packet and the index
// is claimed ahead) the output skips every later write, the index included: the file is
// then cut after its last whole packet (cluster, fragment) and rewritten complete. A complete
// MP4 file is rewritten with its index at the front.
void FinishFile(AviMux& mux) {
    if (mux.stream && !mux.headerWritten && !mux.broken) {
        BITMAPINFOHEADER bih{};
        bih.biSize = 40;
        bih.biWidth = mux.info.rcFrame.right - mux.info.rcFrame.left;
        bih.biHeight = mux.info.rcFrame.bottom - mux.info.rcFrame.top;
        if (bih.biWidth <= 0 || bih.biHeight <= 0) {
            bih.biWidth = 640;
            bih.biHeight = 480;
        }
        bih.biPlanes = 1;
        bih.biBitCount = 24;
        bih.biSizeImage = static_cast<uint32_t>(bih.biWidth * 3 * bih.biHeight);
        if (ConfigureSink(mux, bih, mux.lastCompression) != AVIERR_OK)
            mux.broken = true;
    }
    if (mux.headerWritten) {
        if (mux.encoder && !mux.failed) {
            if (avcodec_send_frame(mux.encoder.get(), nullptr) >= 0)
                DrainEncoder(mux, nullptr);
        }
        FinishSound(mux);
        if (!mux.failed && WriteOut(mux) < 0)
            mux.failed = true;
        av_write_trailer(mux.format.get());
    }
    bool unfinished = false;
    if (mux.format && mux.format->pb) {
        avio_flush(mux.format->pb);
        unfinished = mux.headerWritten && mux.format->pb->error < 0;
    }
    mux.encoder.reset();
    mux.scaler.reset();
    mux.buffer.reset();
    mux.encoderFrame.reset();
    mux.packet.reset();
    mux.format.reset();
    if (unfinished) {
        mux.output.CloseAt(mux.completeEnd);
        RewriteFile(mux.path.c_str(), mux.kind.container, nullptr, &mux.timings);
    }
    mux.output.Close();
    if (!mux.headerWritten)
        std::remove(mux.path.c_str());
    else if (!unfinished && mux.kind.container == Container::Mp4)
        RewriteFile(mux.path.c_str(), Container::Mp4, nullptr, &mux.timings);
}

} // namespace

AviMux::~AviMux() {
    FinishFile(*this);
}

long TakesFrames(const AviMux& mux) {
    if (!mux.headerWritten)
        return AVIERR_BADFORMAT;
    return mux.failed ? AVIERR_FILEWRITE : AVIERR_OK;
}

long TakesFrames(PAVISTREAM stream) {
    return stream && stream->mux && !stream->sound ? TakesFrames(*stream->mux) : AVIERR_BADPARAM;
}

long CanWriteAt(const AviMux& mux, int32_t start) {
    if (const long taken = TakesFrames(mux); taken != AVIERR_OK)
        return taken;
    if (start < mux.nextPosition)
        return AVIERR_BADPARAM; // positions only grow
    return AVIERR_OK;
}

long Written(AviMux& mux, int32_t start, long ret) {
    if (ret == AVIERR_OK && WriteOut(mux) < 0)
        ret = AVIERR_FILEWRITE;
    if (ret != AVIERR_OK)
        mux.failed = true;
    else
        mux.nextPosition = static_cast<int64_t>(start) + 1;
    return ret;
}

long WriteMadePacket(AviMux& mux, AVPacket* pkt, AVRational timeBase, int64_t position,
                     int32_t* bytesWritten) {
    pkt->pts = pkt->dts = position;
    pkt->duration = 1;
    pkt->flags |= AV_PKT_FLAG_KEY;
    pkt->stream_index = mux.stream->index;
    av_packet_rescale_ts(pkt, timeBase, mux.stream->time_base);
    const int size = pkt->size;
    const int ret = WritePacket(mux, pkt);
    av_packet_unref(pkt);
    if (ret < 0)
        return AVIERR_FILEWRITE;
    if (bytesWritten)
        *bytesWritten += size;
    return AVIERR_OK;
}

long WriteBuffer(AviMux& mux, AVBufferRef* buffer, int64_t position, int32_t* bytesWritten) {
    if (!mux.encoder) {
        AVPacket* pkt = mux.packet.get();
        pkt->buf = av_buffer_ref(buffer);
        if (!pkt->buf)
            return AVIERR_MEMORY;
        pkt->data = buffer->data;
        pkt->size = mux.bufferStride * mux.frameFormat.biHeight;
        return WriteMadePacket(mux, pkt, mux.FrameTimeBase(), position, bytesWritten);
    }

    FramePtr input = UprightFrame(buffer, mux.Shape());
    if (!input)
        return AVIERR_MEMORY;
    AVFrame* frame = input.get();
    if (mux.scaler) {
        if (!ScaleFrame(mux.scaler.get(), *input, mux.encoderFrame.get()))
            return AVIERR_MEMORY;
        input.reset();
        frame = mux.encoderFrame.get();
    }
    return EncodeFrame(mux, frame, position, bytesWritten);
}

bool MakeConverter(int width, int height, AVPixelFormat from, AVPixelFormat to, ScalerPtr& scaler,
                   FramePtr& output) {
    scaler.reset(sws_getContext(width, height, from, width, height, to,
                                SWS_BICUBIC | SWS_ACCURATE_RND, nullptr, nullptr, nullptr));
    output.reset(av_frame_alloc());
    if (!scaler || !output)
        return false;
    output->format = to;
    output->width = width;
    output->height = height;
    return av_frame_get_buffer(output.get(), 0) >= 0;
}

bool ScaleFrame(SwsContext* scaler, const AVFrame& input, AVFrame* output) {
    // The encoder may still hold the frame before: a new buffer then.
    if (av_frame_make_writable(output) < 0)
        return false;
    sws_scale(scaler, input.data, input.linesize, 0, input.height, output->data, output->linesize);
    return true;
}

long EncodeFrame(AviMux& mux, AVFrame* frame, int64_t position, int32_t* bytesWritten) {
    frame->pts = position;
    frame->pict_type = AV_PICTURE_TYPE_NONE;
    // A fixed quantiser is taken from each frame.
    frame->quality = (mux.encoder->flags & AV_CODEC_FLAG_QSCALE) ? mux.encoder->global_quality : 0;
    const int ret = avcodec_send_frame(mux.encoder.get(), frame);
    if (ret < 0) {
        LogFailure("avi", "the encoder " + std::string(mux.codec->name) + " refused frame " +
                              std::to_string(position) + ": " + FfmpegErrorText(ret));
        return AVIERR_COMPRESSOR;
    }
    return DrainEncoder(mux, bytesWritten);
}

} // namespace vexo::media
