// The game's capture read with libavformat's AVI demuxer and libavcodec's decoders, through
// an I/O context on the growing file. The context cannot seek, so the demuxer reads the file
// once from its start to its end in the order the game wrote it and never looks for the
// index, which the game writes only when it stops.
#include "media/game_capture.h"

#include <optional>
#include <vector>

#include "media/ffmpeg_log.h"
#include "platform/growing_file.h"
#include "platform/log.h"

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavformat/avformat.h>
#include <libavutil/imgutils.h>
#include <libswscale/swscale.h>
}

namespace vexo::media {

namespace {

using platform::LogFailure;

struct FormatCloser {
    void operator()(AVFormatContext* f) const { avformat_close_input(&f); }
};
struct IoFreer {
    void operator()(AVIOContext* io) const {
        av_freep(&io->buffer);
        avio_context_free(&io);
    }
};
struct DecoderFreer {
    void operator()(AVCodecContext* c) const { avcodec_free_context(&c); }
};
struct PacketFreer {
    void operator()(AVPacket* p) const { av_packet_free(&p); }
};
struct FrameFreer {
    void operator()(AVFrame* f) const { av_frame_free(&f); }
};
struct ScalerFreer {
    void operator()(SwsContext* s) const { sws_freeContext(s); }
};

constexpr int kIoBufferSize = 256 * 1024;

} // namespace

struct GameCaptureReader::State {
    std::string path;
    platform::GrowingFile file;
    Waits waits;
    bool release = false;
    bool cancelled = false;
    std::string error;
    std::unique_ptr<AVIOContext, IoFreer> io;
    std::unique_ptr<AVFormatContext, FormatCloser> format;
    int videoIndex = -1;
    int soundIndex = -1;
    std::optional<CaptureSound> sound;
    int soundBlock = 1; // bytes of one sample frame
    std::unique_ptr<AVCodecContext, DecoderFreer> decoder;
    std::unique_ptr<AVPacket, PacketFreer> packet{av_packet_alloc()};
    std::unique_ptr<AVFrame, FrameFreer> frame{av_frame_alloc()};
    std::unique_ptr<SwsContext, ScalerFreer> scaler;
    std::vector<uint8_t> converted; // pictures of other pixel formats, as blue-green-red
    CapturePicture picture;
    const uint8_t* soundData = nullptr;
    int32_t soundBytes = 0;

    // The I/O context's reads: at the present end of the file, wait for the game to write
    // more until it has ended.
    static int Read(void* opaque, uint8_t* data, int size) {
        auto* s = static_cast<State*>(opaque);
        for (;;) {
            long n = s->file.Read(data, static_cast<size_t>(size), &s->error);
            bool ended = false;
            if (n == 0) {
                // At the present end: asked whether the game is done before one more look,
                // so that nothing it wrote before its end is missed.
                ended = !s->waits.writerDone || s->waits.writerDone();
                n = s->file.Read(data, static_cast<size_t>(size), &s->error);
            }
            if (n > 0)
                return static_cast<int>(n);
            if (n < 0)
                return AVERROR(EIO);
            if (ended)
                return AVERROR_EOF;
            if (s->waits.cancelled && s->waits.cancelled()) {
                s->cancelled = true;
                return AVERROR_EXIT;
            }
            if (s->waits.pause)
                s->waits.pause();
        }
    }

    bool OpenDecoder(std::string* why) {
        const AVCodecParameters* par = format->streams[videoIndex]->codecpar;
        const AVCodec* codec = avcodec_find_decoder(par->codec_id);
        if (!codec) {
            *why = std::string("no decoder for ") + avcodec_get_name(par->codec_id);
            return false;
        }
        decoder.reset(avcodec_alloc_context3(codec));
        if (!decoder || avcodec_parameters_to_context(decoder.get(), par) < 0) {
            *why = "out of memory";
            return false;
        }
        decoder->thread_count = 1;
        const int ret = avcodec_open2(decoder.get(), codec, nullptr);
        if (ret < 0) {
            *why = FfmpegErrorText(ret);
            return false;
        }
        return true;
    }

    void FindSound() {
        if (soundIndex < 0)
            return;
        const AVCodecParameters* par = format->streams[soundIndex]->codecpar;
        const int channels = par->ch_layout.nb_channels;
        int bits = 0;
        if (par->codec_id == AV_CODEC_ID_PCM_S16LE)
            bits = 16;
        else if (par->codec_id == AV_CODEC_ID_PCM_U8)
            bits = 8;
        if (bits == 0 || channels < 1 || channels > 8 || par->sample_rate <= 0)
            return; // not sound this program can copy as it is
        sound = CaptureSound{par->sample_rate, channels, bits};
        soundBlock = channels * bits / 8;
    }

    // The decoded frame as a picture, converted to blue-green-red where it is in another
    // pixel format.
    bool MakePicture() {
        AVFrame* f = frame.get();
        const auto format = static_cast<AVPixelFormat>(f->format);
        picture.width = f->width;
        picture.height = f->height;
        if (format == AV_PIX_FMT_BGR24 || format == AV_PIX_FMT_BGRA || format == AV_PIX_FMT_BGR0) {
            picture.bytesPerPixel = format == AV_PIX_FMT_BGR24 ? 3 : 4;
            picture.bottomRow = f->data[0] + static_cast<ptrdiff_t>(f->height - 1) * f->linesize[0];
            picture.stride = -static_cast<ptrdiff_t>(f->linesize[0]);
            return true;
        }
        scaler.reset(sws_getCachedContext(scaler.release(), f->width, f->height, format, f->width,
                                          f->height, AV_PIX_FMT_BGR24, SWS_BICUBIC, nullptr,
                                          nullptr, nullptr));
        if (!scaler)
            return false;
        const int stride = FFALIGN(f->width * 3, 64);
        converted.resize(static_cast<size_t>(stride) * f->height);
        uint8_t* out[4] = {converted.data(), nullptr, nullptr, nullptr};
        const int outStride[4] = {stride, 0, 0, 0};
        sws_scale(scaler.get(), f->data, f->linesize, 0, f->height, out, outStride);
        picture.bytesPerPixel = 3;
        picture.bottomRow = converted.data() + static_cast<ptrdiff_t>(f->height - 1) * stride;
        picture.stride = -stride;
        return true;
    }
};

GameCaptureReader::GameCaptureReader(std::unique_ptr<State> state) : state_(std::move(state)) {}

GameCaptureReader::~GameCaptureReader() = default;

std::unique_ptr<GameCaptureReader> GameCaptureReader::Open(const std::string& path, Waits waits,
                                                           bool release, std::string* error) {
    LogFfmpegErrors();
    auto fail = [error](const std::string& why) {
        if (why != "cancelled")
            LogFailure("capture", "cannot read the game's recording: " + why);
        if (error)
            *error = why;
        return nullptr;
    };
    auto s = std::make_unique<State>();
    s->path = path;
    s->waits = std::move(waits);
    s->release = release;
    if (!s->packet || !s->frame)
        return fail("out of memory");
    std::string why;
    if (!s->file.Open(path, &why))
        return fail(why);
    auto* buffer = static_cast<uint8_t*>(av_malloc(kIoBufferSize));
    if (!buffer)
        return fail("out of memory");
    s->io.reset(
        avio_alloc_context(buffer, kIoBufferSize, 0, s.get(), &State::Read, nullptr, nullptr));
    if (!s->io) {
        av_free(buffer);
        return fail("out of memory");
    }
    s->io->seekable = 0;
    AVFormatContext* format = avformat_alloc_context();
    if (!format)
        return fail("out of memory");
    format->pb = s->io.get();
    format->flags |= AVFMT_FLAG_CUSTOM_IO;
    const int opened = avformat_open_input(&format, path.c_str(), av_find_input_format("avi"),
                                           nullptr); // frees format when it fails
    if (opened < 0)
        return fail(s->cancelled ? "cancelled" : path + ": " + FfmpegErrorText(opened));
    s->format.reset(format);
    for (unsigned i = 0; i < format->nb_streams; ++i) {
        const AVMediaType type = format->streams[i]->codecpar->codec_type;
        if (type == AVMEDIA_TYPE_VIDEO && s->videoIndex < 0)
            s->videoIndex = static_cast<int>(i);
        else if (type == AVMEDIA_TYPE_AUDIO && s->soundIndex < 0)
            s->soundIndex = static_cast<int>(i);
    }
    if (s->videoIndex < 0)
        return fail(path + ": no video stream");
    if (!s->OpenDecoder(&why))
        return fail(path + ": " + why);
    s->FindSound();
    return std::unique_ptr<GameCaptureReader>(new GameCaptureReader(std::move(s)));
}

const CaptureSound* GameCaptureReader::Sound() const {
    return state_->sound ? &*state_->sound : nullptr;
}

GameCaptureReader::Item GameCaptureReader::Next() {
    State& s = *state_;
    AVPacket* packet = s.packet.get();
    for (;;) {
        av_packet_unref(packet);
        const int ret = av_read_frame(s.format.get(), packet);
        // What has been read is in memory now: its blocks on disk are no longer needed.
        if (s.release)
            s.file.Release(s.file.Position());
        if (ret == AVERROR_EOF)
            return Item::End;
        if (ret < 0) {
            if (s.cancelled)
                return Item::Cancelled;
            s.error = s.error.empty() ? FfmpegErrorText(ret) : s.error;
            LogFailure("capture", "reading the game's recording " + s.path + " failed: " + s.error);
            return Item::Error;
        }
        if (packet->stream_index == s.videoIndex) {
            // A frame the decoder refuses (the piece of a frame a crashed game left at the
            // end of its file) is no picture and is passed over.
            if (avcodec_send_packet(s.decoder.get(), packet) < 0 ||
                avcodec_receive_frame(s.decoder.get(), s.frame.get()) < 0 || !s.MakePicture())
                continue;
            return Item::Picture;
        }
        if (packet->stream_index == s.soundIndex && s.sound) {
            s.soundData = packet->data;
            s.soundBytes = packet->size - packet->size % s.soundBlock;
            if (s.soundBytes > 0)
                return Item::Sound;
        }
    }
}

const CapturePicture& GameCaptureReader::Picture() const {
    return state_->picture;
}

const uint8_t* GameCaptureReader::SoundData() const {
    return state_->soundData;
}

int32_t GameCaptureReader::SoundBytes() const {
    return state_->soundBytes;
}

const std::string& GameCaptureReader::ErrorText() const {
    return state_->error;
}

} // namespace vexo::media
