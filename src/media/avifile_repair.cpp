// Rewriting a file: an AVI file that was never completed (its writer killed, or its trailer
// lost to a failing disk), a Matroska or MP4 file cut after its last whole cluster or fragment,
// or a complete MP4 file written as fragments. Its packets are read back by libavformat's
// demuxer, which finds them without an index, and copied as they are into a fresh, complete
// file that replaces it.
#include <cerrno>
#include <cstdio>
#include <string>
#include <vector>

#include "media/avifile_internal.h"
#include "media/ffmpeg_log.h"
#include "platform/log.h"

namespace vexo::media {

namespace {

struct CloseInput {
    void operator()(AVFormatContext* input) const { avformat_close_input(&input); }
};

const char* MuxerOf(Container container) {
    return container == Container::Matroska ? "matroska"
           : container == Container::Mp4    ? "mp4"
                                            : "avi";
}

const char* DemuxerOf(Container container) {
    return container == Container::Matroska ? "matroska"
           : container == Container::Mp4    ? "mov"
                                            : "avi";
}

// Copies every whole video and sound packet of `in` into a new file of the container at
// `path`; the video packets copied go to *frames. AVIERR_OK, or AVIERR_FILEWRITE when the copy
// cannot be written.
long CopyPackets(AVFormatContext* in, Container container, const std::string& path, int32_t* frames,
                 const std::vector<std::vector<PacketTiming>>* timings) {
    AVFormatContext* made = nullptr;
    if (avformat_alloc_output_context2(&made, nullptr, MuxerOf(container), path.c_str()) < 0 ||
        !made)
        return AVIERR_MEMORY;
    FormatContextPtr out(made);
    std::vector<int> mapped(in->nb_streams, -1); // the output stream of each input stream
    std::vector<size_t> read(in->nb_streams, 0); // the packets read of each input stream
    for (unsigned i = 0; i < in->nb_streams; ++i) {
        const AVStream* source = in->streams[i];
        const AVMediaType type = source->codecpar->codec_type;
        if (type != AVMEDIA_TYPE_VIDEO && type != AVMEDIA_TYPE_AUDIO)
            continue;
        AVStream* copy = avformat_new_stream(out.get(), nullptr);
        if (!copy || avcodec_parameters_copy(copy->codecpar, source->codecpar) < 0)
            return AVIERR_MEMORY;
        copy->time_base = source->time_base;
        copy->avg_frame_rate = source->avg_frame_rate;
        copy->r_frame_rate = source->r_frame_rate;
        av_dict_copy(&copy->metadata, source->metadata, 0);
        mapped[i] = copy->index;
    }
    int ret = avio_open(&out->pb, path.c_str(), AVIO_FLAG_WRITE);
    if (ret < 0) {
        platform::LogFailure("repair", "cannot create " + path + ": " + FfmpegErrorText(ret));
        return AVIERR_FILEOPEN;
    }
    AVDictionary* options = nullptr;
    if (container == Container::Mp4)
        av_dict_set(&options, "movflags", "+faststart", 0); // the index at the front
    ret = avformat_write_header(out.get(), &options);
    av_dict_free(&options);
    int32_t copied = 0;
    PacketPtr packet(av_packet_alloc());
    if (!packet)
        ret = AVERROR(ENOMEM);
    while (ret >= 0 && av_read_frame(in, packet.get()) >= 0) {
        const int index = packet->stream_index;
        // A chunk cut short where the writer stopped is no whole packet.
        if (mapped[index] >= 0 && !(packet->flags & AV_PKT_FLAG_CORRUPT)) {
            const AVStream* copy = out->streams[mapped[index]];
            // The times the writer gave: AAC's priming samples before the picture, where the
            // new file's edit list has players skip them, and its last frame as long as the
            // sound it holds.
            const auto stream = static_cast<size_t>(index);
            if (timings && stream < timings->size() && read[stream] < (*timings)[stream].size()) {
                const PacketTiming& t = (*timings)[stream][read[stream]];
                packet->pts = t.pts;
                packet->dts = t.dts;
                packet->duration = t.duration;
                packet->flags &= ~AV_PKT_FLAG_DISCARD;
            }
            ++read[stream];
            av_packet_rescale_ts(packet.get(), in->streams[index]->time_base, copy->time_base);
            packet->stream_index = copy->index;
            packet->pos = -1;
            ret = av_write_frame(out.get(), packet.get());
            if (ret >= 0 && copy->codecpar->codec_type == AVMEDIA_TYPE_VIDEO)
                ++copied;
        }
        av_packet_unref(packet.get());
    }
    if (ret >= 0)
        ret = av_write_trailer(out.get());
    if (ret >= 0 && out->pb->error < 0)
        ret = out->pb->error;
    if (avio_closep(&out->pb) < 0 && ret >= 0)
        ret = AVERROR(EIO);
    if (ret < 0) {
        platform::LogFailure("repair", "writing " + path + " failed: " + FfmpegErrorText(ret));
        return AVIERR_FILEWRITE;
    }
    if (frames)
        *frames = copied;
    return AVIERR_OK;
}

} // namespace

long AVIFileRepair(const char* path, int32_t* frames) {
    return RewriteFile(path, Container::Avi, frames);
}

long AVIFileCountFrames(const char* path, int32_t* frames) {
    if (frames)
        *frames = 0;
    AVFormatContext* opened = nullptr;
    if (!path || avformat_open_input(&opened, path, nullptr, nullptr) < 0)
        return AVIERR_FILEOPEN;
    std::unique_ptr<AVFormatContext, CloseInput> in(opened);
    const int video = av_find_best_stream(in.get(), AVMEDIA_TYPE_VIDEO, -1, -1, nullptr, 0);
    if (video < 0)
        return AVIERR_FILEOPEN;
    PacketPtr packet(av_packet_alloc());
    if (!packet)
        return AVIERR_MEMORY;
    int32_t counted = 0;
    while (av_read_frame(in.get(), packet.get()) >= 0) {
        if (packet->stream_index == video && !(packet->flags & AV_PKT_FLAG_CORRUPT))
            ++counted;
        av_packet_unref(packet.get());
    }
    if (frames)
        *frames = counted;
    return AVIERR_OK;
}

long RewriteFile(const char* path, Container container, int32_t* frames,
                 const std::vector<std::vector<PacketTiming>>* timings) {
    if (frames)
        *frames = 0;
    if (!path || !*path)
        return AVIERR_BADPARAM;
    AVFormatContext* opened = nullptr;
    if (const int ret =
            avformat_open_input(&opened, path, av_find_input_format(DemuxerOf(container)), nullptr);
        ret < 0) {
        platform::LogFailure("repair", std::string("cannot read ") + path + " as " +
                                           (container == Container::Avi ? "an " : "a ") +
                                           ContainerName(container) +
                                           " file: " + FfmpegErrorText(ret));
        return AVIERR_FILEOPEN;
    }
    std::unique_ptr<AVFormatContext, CloseInput> in(opened);
    // What the Matroska and MP4 headers say of a stream beyond its codec (VP9's profile and
    // pixel format, say) is known from its first frames.
    if (container != Container::Avi)
        avformat_find_stream_info(in.get(), nullptr);
    const std::string repaired = std::string(path) + ".repairing";
    const long ret = CopyPackets(in.get(), container, repaired, frames, timings);
    in.reset();
    const bool replaced = ret == AVIERR_OK && std::rename(repaired.c_str(), path) == 0;
    if (ret == AVIERR_OK && !replaced)
        platform::LogFailure("repair", "cannot replace " + std::string(path) + " with " + repaired +
                                           ": " + platform::SystemErrorText(errno));
    if (!replaced) {
        std::remove(repaired.c_str());
        if (frames)
            *frames = 0;
        return ret != AVIERR_OK ? ret : AVIERR_FILEWRITE;
    }
    return AVIERR_OK;
}

} // namespace vexo::media
