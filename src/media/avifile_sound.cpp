// The sound stream: PCM samples stored unchanged (a stream copy), in the order they are
// handed over among the frames.
#include <algorithm>
#include <cstring>

#include "media/avifile_internal.h"

namespace vexo::media {

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
        } else if (WriteSoundPacket(mux, sound.nextSample, bytesIn, bytes) < 0) {
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
    par->codec_type = AVMEDIA_TYPE_AUDIO;
    par->codec_id = f.wBitsPerSample == 8 ? AV_CODEC_ID_PCM_U8 : AV_CODEC_ID_PCM_S16LE;
    par->sample_rate = static_cast<int>(f.nSamplesPerSec);
    av_channel_layout_default(&par->ch_layout, f.nChannels);
    par->bits_per_coded_sample = f.wBitsPerSample;
    par->block_align = f.nBlockAlign;
    par->bit_rate = static_cast<int64_t>(f.nAvgBytesPerSec) * 8;
    st->time_base = AVRational{1, static_cast<int>(f.nSamplesPerSec)};
    sound.stream = st;
    return true;
}

void WriteHeldSound(AviMux& mux) {
    if (!mux.sound || !mux.sound->stream)
        return;
    const std::vector<std::vector<uint8_t>> held = std::move(mux.sound->held);
    mux.sound->held.clear();
    int64_t first = 0; // the sound held is all there was before the header
    for (const std::vector<uint8_t>& bytes : held) {
        if (WriteSoundPacket(mux, first, bytes.data(), static_cast<int32_t>(bytes.size())) < 0) {
            mux.failed = true;
            return;
        }
        first += static_cast<int64_t>(bytes.size()) / mux.sound->format.nBlockAlign;
    }
}

} // namespace vexo::media
