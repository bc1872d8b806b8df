// The sound stream: PCM samples stored unchanged (a stream copy), or compressed (AAC in MP4,
// Opus in Matroska), in the order they are handed over among the frames.
#include <algorithm>
#include <cstring>

#include "media/avifile_internal.h"
#include "media/ffmpeg_log.h"
#include "platform/log.h"

namespace vexo::media {

using platform::LogFailure;

namespace {

bool ValidSoundFormat(const WAVEFORMATEX& f) {
    return f.wFormatTag == WAVE_FORMAT_PCM && f.nChannels >= 1 && f.nChannels <= 8 &&
           (f.wBitsPerSample == 8 || f.wBitsPerSample == 16) && f.nSamplesPerSec >= 1 &&
           f.nSamplesPerSec <= 384000 && f.nBlockAlign == f.nChannels * f.wBitsPerSample / 8 &&
           f.nAvgBytesPerSec == f.nSamplesPerSec * f.nBlockAlign;
}

// Writes whole blocks of sound starting at sample `first`.
int WriteSoundPacket(AviMux& mux, int64_t first, const uint8_t* data, int32_t bytes) {
    const SoundTrack& sound = *mux.sound;
    const int32_t samples = bytes / sound.format.nBlockAlign;
    AVPacket* packet = av_packet_alloc();
    if (!packet)
        return AVERROR(ENOMEM);
    // The muxer copies the bytes out before it returns; the packet need not own them.
    packet->data = const_cast<uint8_t*>(data);
    packet->size = bytes;
    packet->pts = packet->dts = first;
    packet->duration = samples;
    packet->flags |= AV_PKT_FLAG_KEY;
    packet->stream_index = sound.stream->index;
    av_packet_rescale_ts(packet, AVRational{1, static_cast<int>(sound.format.nSamplesPerSec)},
                         sound.stream->time_base);
    const int ret = WritePacket(mux, packet);
    av_packet_free(&packet);
    return ret;
}

// Opens the encoder of the file's compressed sound for PCM of format f, with the converter
// from that PCM to what it takes. Opus takes 48 kHz only; AAC takes the engine's rate.
long OpenSoundEncoder(AviMux& mux, const WAVEFORMATEX& f) {
    const bool opus = mux.kind.sound == SoundCodec::Opus;
    const char* name = opus ? "libopus" : "aac";
    const AVCodec* codec = avcodec_find_encoder_by_name(name);
    if (!codec) {
        LogFailure("sound", std::string("this FFmpeg has no encoder ") + name);
        return AVIERR_NOCOMPRESSOR;
    }
    SoundEncoder encoder;
    encoder.context.reset(avcodec_alloc_context3(codec));
    AVCodecContext* ctx = encoder.context.get();
    if (!ctx)
        return AVIERR_MEMORY;
    const int rate = opus ? 48000 : static_cast<int>(f.nSamplesPerSec);
    ctx->sample_rate = rate;
    ctx->sample_fmt = opus ? AV_SAMPLE_FMT_S16 : AV_SAMPLE_FMT_FLTP;
    av_channel_layout_default(&ctx->ch_layout, f.nChannels);
    ctx->time_base = AVRational{1, rate};
    // Transparent for game sound: 64 kbit/s a channel for AAC, 48 for Opus.
    ctx->bit_rate = static_cast<int64_t>(opus ? 48000 : 64000) * f.nChannels;
    if (mux.format->oformat->flags & AVFMT_GLOBALHEADER)
        ctx->flags |= AV_CODEC_FLAG_GLOBAL_HEADER;
    if (const int ret = avcodec_open2(ctx, codec, nullptr); ret < 0) {
        LogFailure("sound", std::string("cannot open the encoder ") + name + " for " +
                                std::to_string(f.nChannels) + " channels at " +
                                std::to_string(rate) + " Hz: " + FfmpegErrorText(ret));
        return AVIERR_COMPRESSOR;
    }
    AVChannelLayout in;
    av_channel_layout_default(&in, f.nChannels);
    SwrContext* made = nullptr;
    const int set =
        swr_alloc_set_opts2(&made, &ctx->ch_layout, ctx->sample_fmt, rate, &in,
                            f.wBitsPerSample == 8 ? AV_SAMPLE_FMT_U8 : AV_SAMPLE_FMT_S16,
                            static_cast<int>(f.nSamplesPerSec), 0, nullptr);
    av_channel_layout_uninit(&in);
    encoder.resampler.reset(made);
    if (set < 0 || swr_init(made) < 0)
        return AVIERR_MEMORY;
    // Every encoder here announces its frame size; one that takes any size gets 20 ms.
    const int frameSize = ctx->frame_size > 0 ? ctx->frame_size : rate / 50;
    encoder.fifo.reset(av_audio_fifo_alloc(ctx->sample_fmt, f.nChannels, frameSize * 4));
    encoder.frame.reset(av_frame_alloc());
    encoder.packet.reset(av_packet_alloc());
    if (!encoder.fifo || !encoder.frame || !encoder.packet)
        return AVIERR_MEMORY;
    AVFrame* frame = encoder.frame.get();
    frame->format = ctx->sample_fmt;
    frame->sample_rate = rate;
    frame->nb_samples = frameSize;
    if (av_channel_layout_copy(&frame->ch_layout, &ctx->ch_layout) < 0 ||
        av_frame_get_buffer(frame, 0) < 0)
        return AVIERR_MEMORY;
    mux.sound->encoder = std::move(encoder);
    return AVIERR_OK;
}

// Writes the packets the sound encoder has ready. 0 or an AVERROR.
int DrainSound(AviMux& mux) {
    SoundEncoder& encoder = *mux.sound->encoder;
    AVPacket* packet = encoder.packet.get();
    for (;;) {
        int ret = avcodec_receive_packet(encoder.context.get(), packet);
        if (ret == AVERROR(EAGAIN) || ret == AVERROR_EOF)
            return 0;
        if (ret < 0) {
            LogFailure("sound", "the encoder " + std::string(encoder.context->codec->name) +
                                    " made no packet: " + FfmpegErrorText(ret));
            return ret;
        }
        av_packet_rescale_ts(packet, encoder.context->time_base, mux.sound->stream->time_base);
        packet->stream_index = mux.sound->stream->index;
        ret = WritePacket(mux, packet);
        av_packet_unref(packet);
        if (ret < 0)
            return ret;
    }
}

// Hands the encoder whole frames from the gathered samples; at the end (last) what is left
// too. 0 or an AVERROR.
int EncodeGathered(AviMux& mux, bool last) {
    SoundEncoder& encoder = *mux.sound->encoder;
    AVFrame* frame = encoder.frame.get();
    const int frameSize = frame->nb_samples;
    for (;;) {
        const int available = av_audio_fifo_size(encoder.fifo.get());
        if (available == 0 || (available < frameSize && !last))
            return 0;
        if (const int ret = av_frame_make_writable(frame); ret < 0)
            return ret;
        const int take = std::min(available, frameSize);
        if (av_audio_fifo_read(encoder.fifo.get(), reinterpret_cast<void**>(frame->data), take) !=
            take)
            return AVERROR(EIO);
        // The encoders here take a shorter last frame.
        frame->nb_samples = take;
        frame->pts = encoder.nextPts;
        encoder.nextPts += take;
        int ret = avcodec_send_frame(encoder.context.get(), frame);
        frame->nb_samples = frameSize;
        if (ret >= 0)
            ret = DrainSound(mux);
        if (ret < 0)
            return ret;
    }
}

// Converts PCM (null at the end: what the converter still holds) and encodes it.
int EncodeSound(AviMux& mux, const uint8_t* data, int32_t samples) {
    SoundEncoder& encoder = *mux.sound->encoder;
    SwrContext* resampler = encoder.resampler.get();
    const int room = swr_get_out_samples(resampler, data ? samples : 0);
    if (room < 0)
        return room;
    if (room > 0) {
        uint8_t** converted = nullptr;
        const AVCodecContext* ctx = encoder.context.get();
        if (av_samples_alloc_array_and_samples(&converted, nullptr, ctx->ch_layout.nb_channels,
                                               room, ctx->sample_fmt, 0) < 0)
            return AVERROR(ENOMEM);
        const uint8_t* in[] = {data};
        int made = swr_convert(resampler, converted, room, data ? in : nullptr, data ? samples : 0);
        if (made > 0 && av_audio_fifo_write(encoder.fifo.get(), reinterpret_cast<void**>(converted),
                                            made) != made)
            made = AVERROR(ENOMEM);
        av_freep(&converted[0]);
        av_freep(&converted);
        if (made < 0)
            return made;
    }
    return EncodeGathered(mux, false);
}

// Stores sound starting at sample `first`, as it is or through the encoder. 0 or an AVERROR.
int StoreSound(AviMux& mux, int64_t first, const uint8_t* data, int32_t bytes) {
    if (!mux.sound->encoder)
        return WriteSoundPacket(mux, first, data, bytes);
    return EncodeSound(mux, data, bytes / mux.sound->format.nBlockAlign);
}

} // namespace

long CreateSoundStream(AviMux& mux) {
    if (mux.headerWritten || mux.broken || mux.sound)
        return AVIERR_UNSUPPORTED;
    mux.sound.emplace();
    return AVIERR_OK;
}

long SetSoundFormat(AviMux& mux, const void* format, int32_t formatSize) {
    if (!mux.sound || formatSize < 16)
        return AVIERR_BADPARAM;
    WAVEFORMATEX f{};
    std::memcpy(&f, format, std::min<size_t>(static_cast<size_t>(formatSize), sizeof f));
    if (!ValidSoundFormat(f))
        return AVIERR_BADFORMAT;
    SoundTrack& sound = *mux.sound;
    if (mux.headerWritten) {
        // The format is fixed: only the one set before is taken.
        return sound.formatSet && f.nChannels == sound.format.nChannels &&
                       f.nSamplesPerSec == sound.format.nSamplesPerSec &&
                       f.wBitsPerSample == sound.format.wBitsPerSample
                   ? AVIERR_OK
                   : AVIERR_UNSUPPORTED;
    }
    f.cbSize = 0;
    sound.encoder.reset();
    if (mux.kind.sound != SoundCodec::Pcm)
        if (const long opened = OpenSoundEncoder(mux, f); opened != AVIERR_OK) {
            sound.encoder.reset();
            return opened;
        }
    sound.format = f;
    sound.formatSet = true;
    return AVIERR_OK;
}

long WriteSound(AviMux& mux, int32_t start, int32_t samples, const void* data, int32_t bytes,
                int32_t* samplesWritten, int32_t* bytesWritten) {
    if (!mux.sound || !mux.sound->formatSet)
        return AVIERR_BADFORMAT;
    SoundTrack& sound = *mux.sound;
    if (mux.headerWritten && !sound.stream)
        return AVIERR_UNSUPPORTED; // the header went out without this stream
    if (mux.failed || mux.broken)
        return AVIERR_FILEWRITE;
    const int32_t block = sound.format.nBlockAlign;
    if (!data || samples < 0 || bytes != static_cast<int64_t>(samples) * block ||
        start != sound.nextSample)
        return AVIERR_BADPARAM;
    if (bytes > 0) {
        const auto* bytesIn = static_cast<const uint8_t*>(data);
        if (!mux.headerWritten) {
            sound.held.emplace_back(bytesIn, bytesIn + bytes);
        } else if (StoreSound(mux, sound.nextSample, bytesIn, bytes) < 0) {
            mux.failed = true;
            return AVIERR_FILEWRITE;
        }
        sound.nextSample += samples;
    }
    if (samplesWritten)
        *samplesWritten = samples;
    if (bytesWritten)
        *bytesWritten = bytes;
    return AVIERR_OK;
}

bool AddSoundToHeader(AviMux& mux) {
    if (!mux.sound || !mux.sound->formatSet || mux.sound->stream)
        return true;
    SoundTrack& sound = *mux.sound;
    AVStream* st = avformat_new_stream(mux.format.get(), nullptr);
    if (!st)
        return false;
    const WAVEFORMATEX& f = sound.format;
    AVCodecParameters* par = st->codecpar;
    sound.stream = st;
    if (sound.encoder) {
        const AVCodecContext* ctx = sound.encoder->context.get();
        st->time_base = ctx->time_base;
        return avcodec_parameters_from_context(par, ctx) >= 0;
    }
    par->codec_type = AVMEDIA_TYPE_AUDIO;
    par->codec_id = f.wBitsPerSample == 8 ? AV_CODEC_ID_PCM_U8 : AV_CODEC_ID_PCM_S16LE;
    par->sample_rate = static_cast<int>(f.nSamplesPerSec);
    av_channel_layout_default(&par->ch_layout, f.nChannels);
    par->bits_per_coded_sample = f.wBitsPerSample;
    par->block_align = f.nBlockAlign;
    par->bit_rate = static_cast<int64_t>(f.nAvgBytesPerSec) * 8;
    st->time_base = AVRational{1, static_cast<int>(f.nSamplesPerSec)};
    return true;
}

void WriteHeldSound(AviMux& mux) {
    if (!mux.sound || !mux.sound->stream)
        return;
    const std::vector<std::vector<uint8_t>> held = std::move(mux.sound->held);
    mux.sound->held.clear();
    int64_t first = 0; // the sound held is all there was before the header
    for (const std::vector<uint8_t>& bytes : held) {
        if (StoreSound(mux, first, bytes.data(), static_cast<int32_t>(bytes.size())) < 0) {
            mux.failed = true;
            return;
        }
        first += static_cast<int64_t>(bytes.size()) / mux.sound->format.nBlockAlign;
    }
}

void FinishSound(AviMux& mux) {
    if (!mux.sound || !mux.sound->encoder || !mux.sound->stream || mux.failed || mux.broken ||
        !mux.headerWritten)
        return;
    int ret = EncodeSound(mux, nullptr, 0);
    if (ret >= 0)
        ret = EncodeGathered(mux, true);
    if (ret >= 0)
        ret = avcodec_send_frame(mux.sound->encoder->context.get(), nullptr);
    if (ret >= 0)
        ret = DrainSound(mux);
    if (ret < 0)
        mux.failed = true;
}

} // namespace vexo::media
