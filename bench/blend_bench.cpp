// Motion blur's blend alone: eight 24-bit pictures (blue, green, red) averaged into one, ours
// (with the widest vectors this processor has, and with SSE2 only) against FFmpeg's libavfilter
// doing the same with tmix=frames=8 and select, in its own threads as the ffmpeg tool runs it.
// Each of the eight pictures is a separate buffer, as sub-frames arrive one after another.
#include <benchmark/benchmark.h>

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <string>
#include <vector>

extern "C" {
#include <libavfilter/avfilter.h>
#include <libavfilter/buffersink.h>
#include <libavfilter/buffersrc.h>
#include <libavutil/frame.h>
}

#include "frames/blend.h"

namespace {

constexpr int kSubFrames = 8;

std::vector<std::vector<uint8_t>> Pictures(int width, int height) {
    std::vector<std::vector<uint8_t>> pictures(kSubFrames);
    uint32_t seed = 12345;
    for (auto& p : pictures) {
        p.resize(static_cast<size_t>(width) * height * 3);
        for (auto& byte : p) {
            seed = seed * 1664525u + 1013904223u;
            byte = static_cast<uint8_t>(seed >> 24);
        }
    }
    return pictures;
}

void Ours(benchmark::State& state, vexo::FrameBlender::Vectors vectors) {
    const int width = static_cast<int>(state.range(0));
    const int height = static_cast<int>(state.range(1));
    const auto pictures = Pictures(width, height);
    vexo::FrameBlender blender(kSubFrames, vectors);
    for (auto _ : state) {
        for (const auto& p : pictures)
            if (blender.Add({p.data(), width * 3, width, height, 3}) ==
                vexo::FrameBlender::Step::Blended)
                benchmark::DoNotOptimize(blender.Blended().bottomRow);
        benchmark::ClobberMemory();
    }
    state.SetItemsProcessed(state.iterations() * kSubFrames);
}

// buffer -> tmix -> select -> buffersink
struct Graph {
    AVFilterGraph* graph = avfilter_graph_alloc();
    AVFilterContext* source = nullptr;
    AVFilterContext* sink = nullptr;
    ~Graph() { avfilter_graph_free(&graph); }

    bool Build(int width, int height) {
        char args[128];
        std::snprintf(args, sizeof args, "video_size=%dx%d:pix_fmt=%d:time_base=1/25", width,
                      height, static_cast<int>(AV_PIX_FMT_BGR24));
        AVFilterContext *tmix = nullptr, *select = nullptr;
        const std::string every = "eq(mod(n\\," + std::to_string(kSubFrames) + ")\\," +
                                  std::to_string(kSubFrames - 1) + ")";
        return graph &&
               avfilter_graph_create_filter(&source, avfilter_get_by_name("buffer"), "in", args,
                                            nullptr, graph) >= 0 &&
               avfilter_graph_create_filter(&tmix, avfilter_get_by_name("tmix"), "tmix",
                                            ("frames=" + std::to_string(kSubFrames)).c_str(),
                                            nullptr, graph) >= 0 &&
               avfilter_graph_create_filter(&select, avfilter_get_by_name("select"), "select",
                                            every.c_str(), nullptr, graph) >= 0 &&
               avfilter_graph_create_filter(&sink, avfilter_get_by_name("buffersink"), "out",
                                            nullptr, nullptr, graph) >= 0 &&
               avfilter_link(source, 0, tmix, 0) >= 0 && avfilter_link(tmix, 0, select, 0) >= 0 &&
               avfilter_link(select, 0, sink, 0) >= 0 && avfilter_graph_config(graph, nullptr) >= 0;
    }
};

void Ffmpeg(benchmark::State& state) {
    const int width = static_cast<int>(state.range(0));
    const int height = static_cast<int>(state.range(1));
    const auto pictures = Pictures(width, height);
    Graph g;
    if (!g.Build(width, height)) {
        state.SkipWithError("libavfilter could not build tmix and select");
        return;
    }
    std::vector<AVFrame*> frames;
    for (const auto& p : pictures) {
        AVFrame* f = av_frame_alloc();
        f->format = AV_PIX_FMT_BGR24;
        f->width = width;
        f->height = height;
        if (av_frame_get_buffer(f, 0) < 0) {
            state.SkipWithError("no memory for FFmpeg's frames");
            return;
        }
        for (int y = 0; y < height; ++y)
            std::copy_n(&p[static_cast<size_t>(y) * width * 3], width * 3,
                        f->data[0] + static_cast<ptrdiff_t>(y) * f->linesize[0]);
        frames.push_back(f);
    }
    AVFrame* out = av_frame_alloc();
    int64_t pts = 0;
    for (auto _ : state) {
        for (AVFrame* f : frames) {
            f->pts = pts++;
            if (av_buffersrc_add_frame_flags(g.source, f, AV_BUFFERSRC_FLAG_KEEP_REF) < 0) {
                state.SkipWithError("libavfilter refused a frame");
                break;
            }
            while (av_buffersink_get_frame(g.sink, out) >= 0) {
                benchmark::DoNotOptimize(out->data[0]);
                av_frame_unref(out);
            }
        }
    }
    state.SetItemsProcessed(state.iterations() * kSubFrames);
    av_frame_free(&out);
    for (AVFrame* f : frames)
        av_frame_free(&f);
}

BENCHMARK_CAPTURE(Ours, widest, vexo::FrameBlender::Vectors::Widest)
    ->Args({640, 480})
    ->Args({1600, 1200})
    ->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(Ours, sse2, vexo::FrameBlender::Vectors::Baseline)
    ->Args({640, 480})
    ->Args({1600, 1200})
    ->Unit(benchmark::kMillisecond);
BENCHMARK(Ffmpeg)
    ->Args({640, 480})
    ->Args({1600, 1200})
    ->Unit(benchmark::kMillisecond)
    ->UseRealTime(); // its work is done in its threads

} // namespace

BENCHMARK_MAIN();
