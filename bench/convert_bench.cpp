// The conversion step alone: one 1600x1200 screenshot's rows (blue, green, red as the TGA file
// has them) into a frame of four-byte pixels (what Huffyuv and FFV1 take), ours with the gamma
// curve against FFmpeg's swscale doing the same byte order change without one.
#include <benchmark/benchmark.h>

#include <cstdint>
#include <vector>

extern "C" {
#include <libswscale/swscale.h>
}

#include "frames/gamma.h"
#include "frames/pixel_rows.h"

namespace {

constexpr int kWidth = 1600;
constexpr int kHeight = 1200;

std::vector<uint8_t> Screenshot() {
    std::vector<uint8_t> pixels(static_cast<size_t>(kWidth) * kHeight * 3);
    for (size_t i = 0; i < pixels.size(); ++i)
        pixels[i] = static_cast<uint8_t>(i * 7 + i / 4800);
    return pixels;
}

void Ours(benchmark::State& state, float gamma) {
    const vexo::FastPackedRows rows(vexo::PackedRowLayout{3, 2, 4, 2, 1, 0, -1});
    if (!rows.Usable()) {
        state.SkipWithError("this processor has no 64-byte byte permutes");
        return;
    }
    const std::vector<uint8_t> source = Screenshot();
    std::vector<uint8_t> frame(static_cast<size_t>(kWidth) * kHeight * 4);
    const uint8_t* curve = vexo::GammaTable(gamma);
    for (auto _ : state) {
        for (int y = 0; y < kHeight; ++y)
            rows.Convert(&source[static_cast<size_t>(y) * kWidth * 3],
                         &frame[static_cast<size_t>(y) * kWidth * 4], kWidth, curve);
        benchmark::DoNotOptimize(frame.data());
        benchmark::ClobberMemory();
    }
    state.SetBytesProcessed(state.iterations() * static_cast<int64_t>(source.size()));
}

void Swscale(benchmark::State& state) {
    SwsContext* sws = sws_getContext(kWidth, kHeight, AV_PIX_FMT_BGR24, kWidth, kHeight,
                                     AV_PIX_FMT_BGR0, SWS_POINT, nullptr, nullptr, nullptr);
    if (!sws) {
        state.SkipWithError("swscale has no such conversion");
        return;
    }
    const std::vector<uint8_t> source = Screenshot();
    std::vector<uint8_t> frame(static_cast<size_t>(kWidth) * kHeight * 4);
    const uint8_t* in[1] = {source.data()};
    const int inStride[1] = {kWidth * 3};
    uint8_t* out[1] = {frame.data()};
    const int outStride[1] = {kWidth * 4};
    for (auto _ : state) {
        sws_scale(sws, in, inStride, 0, kHeight, out, outStride);
        benchmark::DoNotOptimize(frame.data());
        benchmark::ClobberMemory();
    }
    state.SetBytesProcessed(state.iterations() * static_cast<int64_t>(source.size()));
    sws_freeContext(sws);
}

BENCHMARK_CAPTURE(Ours, gamma_1_0, 1.0f)->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(Ours, gamma_1_2, 1.2f)->Unit(benchmark::kMillisecond);
BENCHMARK(Swscale)->Unit(benchmark::kMillisecond);

} // namespace

BENCHMARK_MAIN();
