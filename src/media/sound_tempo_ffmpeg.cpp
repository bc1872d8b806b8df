// The tempo change as a libavfilter graph: abuffer, rubberband, aformat (back to the input's
// sample format), abuffersink. Numbers reach the filters as numbers (av_opt_set_double), not
// as text that FFmpeg would read under the user's locale.
#include "media/sound_tempo.h"

#include <algorithm>
#include <charconv>
#include <cmath>
#include <cstring>

#include "media/avfilter_api.h"
#include "media/ffmpeg_log.h"

extern "C" {
#include <libavutil/channel_layout.h>
#include <libavutil/frame.h>
#include <libavutil/opt.h>
#include <libavutil/samplefmt.h>
}

namespace vexo::media {

namespace {

struct FrameFreer {
    void operator()(AVFrame* frame) const { av_frame_free(&frame); }
};

// One filter graph and the sound it has been given.
class Filter {
public:
    Filter() = default;
    Filter(const Filter&) = delete;
    Filter& operator=(const Filter&) = delete;
    ~Filter() {
        if (graph_)
            api_->graphFree(&graph_);
        av_channel_layout_uninit(&layout_);
    }

    bool Make(const CaptureSound& format, double tempo, std::string* why) {
        format_ = format;
        block_ = format.channels * format.bitsPerSample / 8;
        sampleFormat_ = format.bitsPerSample == 8 ? AV_SAMPLE_FMT_U8 : AV_SAMPLE_FMT_S16;
        av_channel_layout_default(&layout_, format.channels);
        std::string error;
        api_ = AvFilter(&error);
        if (!api_) {
            *why = "FFmpeg's filter library cannot be loaded (" + error + ")";
            return false;
        }
        const AVFilter* stretch = api_->getByName("rubberband");
        if (!stretch) {
            *why = "this FFmpeg has no rubberband filter";
            return false;
        }
        graph_ = api_->graphAlloc();
        if (!graph_ || !frame_) {
            *why = "out of memory";
            return false;
        }
        graph_->nb_threads = 1;
        AVFilterGraph* g = graph_;
        source_ = api_->graphAllocFilter(g, api_->getByName("abuffer"), "in");
        AVFilterContext* stretcher = api_->graphAllocFilter(g, stretch, "tempo");
        AVFilterContext* back = api_->graphAllocFilter(g, api_->getByName("aformat"), "back");
        sink_ = api_->graphAllocFilter(g, api_->getByName("abuffersink"), "out");
        if (!source_ || !stretcher || !back || !sink_) {
            *why = "out of memory";
            return false;
        }
        char layoutName[64] = {};
        av_channel_layout_describe(&layout_, layoutName, sizeof layoutName);
        const AVRational timeBase{1, format.samplesPerSecond};
        // Short windows keep the attacks (shots, steps) where they were: with the standard
        // ones the start of a sound is smeared out over a frame or more when it is slowed down.
        int ret = 0;
        auto step = [&](int result) {
            if (ret >= 0)
                ret = result;
        };
        step(av_opt_set_int(source_, "sample_rate", format.samplesPerSecond,
                            AV_OPT_SEARCH_CHILDREN));
        step(av_opt_set_sample_fmt(source_, "sample_fmt", sampleFormat_, AV_OPT_SEARCH_CHILDREN));
        step(av_opt_set_q(source_, "time_base", timeBase, AV_OPT_SEARCH_CHILDREN));
        step(av_opt_set(source_, "channel_layout", layoutName, AV_OPT_SEARCH_CHILDREN));
        step(api_->initStr(source_, nullptr));
        step(av_opt_set_double(stretcher, "tempo", tempo, AV_OPT_SEARCH_CHILDREN));
        step(av_opt_set(stretcher, "window", "short", AV_OPT_SEARCH_CHILDREN));
        step(api_->initStr(stretcher, nullptr));
        step(av_opt_set(back, "sample_fmts", av_get_sample_fmt_name(sampleFormat_),
                        AV_OPT_SEARCH_CHILDREN));
        step(av_opt_set(back, "channel_layouts", layoutName, AV_OPT_SEARCH_CHILDREN));
        step(av_opt_set(back, "sample_rates", std::to_string(format.samplesPerSecond).c_str(),
                        AV_OPT_SEARCH_CHILDREN));
        step(api_->initStr(back, nullptr));
        step(api_->initStr(sink_, nullptr));
        step(api_->link(source_, 0, stretcher, 0));
        step(api_->link(stretcher, 0, back, 0));
        step(api_->link(back, 0, sink_, 0));
        step(api_->graphConfig(g, nullptr));
        if (ret < 0) {
            *why = "the rubberband filter cannot be set up: " + FfmpegErrorText(ret);
            return false;
        }
        return true;
    }

    // Feeds `samples` sample frames and appends to *out what comes out. The filter is
    // never told that the sound has ended: it would take no more then, and what it holds
    // back is brought out with silence instead.
    bool Push(const uint8_t* data, int32_t samples, std::vector<uint8_t>* out, std::string* why) {
        AVFrame* f = frame_.get();
        int ret = 0;
        if (samples > 0) {
            av_frame_unref(f);
            f->format = sampleFormat_;
            f->sample_rate = format_.samplesPerSecond;
            f->nb_samples = samples;
            f->pts = pts_;
            ret = av_channel_layout_copy(&f->ch_layout, &layout_);
            if (ret >= 0)
                ret = av_frame_get_buffer(f, 0);
            if (ret >= 0) {
                std::memcpy(f->data[0], data, static_cast<size_t>(samples) * block_);
                pts_ += samples;
                ret = api_->buffersrcAddFrameFlags(source_, f, 0); // takes the frame's data
            }
        }
        while (ret >= 0) {
            ret = api_->buffersinkGetFrame(sink_, f);
            if (ret >= 0) {
                const uint8_t* made = f->data[0];
                out->insert(out->end(), made, made + static_cast<size_t>(f->nb_samples) * block_);
                av_frame_unref(f);
            }
        }
        if (ret == AVERROR(EAGAIN) || ret == AVERROR_EOF)
            return true;
        *why = "the rubberband filter failed: " + FfmpegErrorText(ret);
        return false;
    }

private:
    CaptureSound format_{};
    int32_t block_ = 1;
    AVSampleFormat sampleFormat_ = AV_SAMPLE_FMT_S16;
    AVChannelLayout layout_{};
    const AvFilterApi* api_ = nullptr;
    AVFilterGraph* graph_ = nullptr;
    AVFilterContext* source_ = nullptr;
    AVFilterContext* sink_ = nullptr;
    std::unique_ptr<AVFrame, FrameFreer> frame_{av_frame_alloc()};
    int64_t pts_ = 0;
};

// The filter starts on this much silence, and so does its twin.
int64_t Primer(const CaptureSound& format) {
    return std::max(format.samplesPerSecond / 2, 4096);
}

// Where the sound after the primer starts coming out of the filter: a burst of noise after
// the primer goes through a twin of the filter, and the first sample where it comes out
// (reaching a third of its peak) is found. The filter works in blocks of its own whatever
// the sound, so the filter given the same primer brings its sound out at the same place.
bool MeasureStart(const CaptureSound& format, double tempo, int64_t* start, std::string* why) {
    Filter twin;
    if (!twin.Make(format, tempo, why))
        return false;
    const int32_t rate = format.samplesPerSecond;
    const int32_t block = format.channels * format.bitsPerSample / 8;
    const int64_t before = Primer(format);
    const int64_t burst = std::max<int64_t>(rate / 20, std::llround(rate * 0.05 * tempo));
    const int64_t after = std::max(rate / 2, 4096); // for what the filter holds back
    std::vector<uint8_t> trial(static_cast<size_t>((before + burst + after) * block),
                               SilenceByte(format.bitsPerSample));
    uint32_t seed = 12345;
    for (int64_t i = before; i < before + burst; ++i) {
        seed = seed * 1103515245u + 12345u;
        const int value = static_cast<int>((seed >> 8) % 32001) - 16000; // about half scale
        for (int32_t c = 0; c < format.channels; ++c) {
            uint8_t* at = trial.data() + i * block + c * (format.bitsPerSample / 8);
            if (format.bitsPerSample == 8) {
                at[0] = static_cast<uint8_t>(128 + value / 256);
            } else {
                at[0] = static_cast<uint8_t>(value & 0xFF);
                at[1] = static_cast<uint8_t>((value >> 8) & 0xFF);
            }
        }
    }
    std::vector<uint8_t> made;
    const int64_t total = before + burst + after;
    for (int64_t at = 0; at < total; at += 4096) {
        const auto n = static_cast<int32_t>(std::min<int64_t>(4096, total - at));
        if (!twin.Push(trial.data() + at * block, n, &made, why))
            return false;
    }
    // The first channel's amplitudes.
    const size_t count = made.size() / block;
    auto amplitude = [&](size_t i) {
        const uint8_t* s = made.data() + i * block;
        return format.bitsPerSample == 8 ? std::abs((s[0] - 128) * 256)
                                         : std::abs(static_cast<int16_t>(s[0] | (s[1] << 8)));
    };
    int peak = 0;
    for (size_t i = 0; i < count; ++i)
        peak = std::max(peak, amplitude(i));
    if (peak < 1000) {
        *why = "the rubberband filter gave back no sound";
        return false;
    }
    size_t first = 0;
    while (amplitude(first) * 3 < peak)
        ++first;
    *start = static_cast<int64_t>(first);
    return true;
}

} // namespace

struct SoundTempo::State {
    Filter filter;
    int32_t block = 1;
    int64_t skip = 0; // output samples still to drop: the primer's and the filter's delay
};

SoundTempo::SoundTempo(std::unique_ptr<State> state) : state_(std::move(state)) {}

SoundTempo::~SoundTempo() = default;

std::unique_ptr<SoundTempo> SoundTempo::Create(const CaptureSound& format, double tempo,
                                               std::string* why) {
    LogFfmpegErrors();
    std::string ignored;
    if (!why)
        why = &ignored;
    if (!(tempo >= kSlowest && tempo <= kFastest)) {
        char text[32] = "?";
        std::to_chars(text, text + sizeof text - 1, tempo);
        *why = std::string("the tempo ") + text + " is outside what the filter takes";
        return nullptr;
    }
    if (format.samplesPerSecond <= 0 || format.channels < 1 ||
        (format.bitsPerSample != 8 && format.bitsPerSample != 16)) {
        *why = "the sound's format is not one the filter takes";
        return nullptr;
    }
    auto state = std::make_unique<State>();
    state->block = format.channels * format.bitsPerSample / 8;
    if (!MeasureStart(format, tempo, &state->skip, why) || !state->filter.Make(format, tempo, why))
        return nullptr;
    auto tempoFilter = std::unique_ptr<SoundTempo>(new SoundTempo(std::move(state)));
    const std::vector<uint8_t> primer(
        static_cast<size_t>(Primer(format) * tempoFilter->state_->block),
        SilenceByte(format.bitsPerSample));
    std::vector<uint8_t> made;
    if (!tempoFilter->Push(primer.data(), static_cast<int32_t>(primer.size()), &made, why))
        return nullptr;
    if (!made.empty()) {
        *why = "the rubberband filter gave back more than it had";
        return nullptr;
    }
    return tempoFilter;
}

bool SoundTempo::Push(const uint8_t* data, int32_t bytes, std::vector<uint8_t>* out,
                      std::string* why) {
    State& s = *state_;
    std::string ignored;
    if (!why)
        why = &ignored;
    const size_t start = out->size();
    if (!s.filter.Push(data, bytes / s.block, out, why))
        return false;
    if (s.skip > 0) {
        const int64_t drop =
            std::min<int64_t>(s.skip, static_cast<int64_t>(out->size() - start) / s.block);
        out->erase(out->begin() + static_cast<ptrdiff_t>(start),
                   out->begin() + static_cast<ptrdiff_t>(start + drop * s.block));
        s.skip -= drop;
    }
    return true;
}

} // namespace vexo::media
