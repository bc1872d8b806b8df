// The gamma curve: every byte for every value of the gamma list against the formula written
// out here independently, the known sample values, and the cached tables.
#include <gtest/gtest.h>

#include <cmath>
#include <cstdlib>
#include <string>
#include <thread>
#include <vector>

#include "frames/gamma.h"

namespace vexo {
namespace {

// The curve as defined: float exponent, double arithmetic, truncation, clamping.
int Reference(int v, float g) {
    if (g == 1.0f)
        return v;
    float e = 1.8f - g;
    e = e < 0.1 ? 0.1f : e > 5.0 ? 5.0f : e;
    int r = static_cast<int>(std::pow((v + 0.5) * 0.003913894324853229, double(e)) * 255 + 0.5);
    return r < 0 ? 0 : r > 255 ? 255 : r;
}

// The 51 items of the gamma list, each the float of its decimal text "0.0" .. "5.0".
std::vector<float> ListValues() {
    std::vector<float> values;
    for (int i = 0; i <= 50; ++i)
        values.push_back(float(
            std::strtod((std::to_string(i / 10) + "." + std::to_string(i % 10)).c_str(), nullptr)));
    return values;
}

TEST(GammaTest, EveryListValueMatchesTheFormulaForEveryByte) {
    for (float g : ListValues()) {
        const uint8_t* table = GammaTable(g);
        for (int v = 0; v < 256; ++v) {
            ASSERT_EQ(table[v], Reference(v, g)) << "g=" << g << " v=" << v;
            // Each channel goes through the same curve; a fourth byte is never touched.
            unsigned char px[4] = {uint8_t(v), uint8_t(255 - v), uint8_t(v / 2), 77};
            ApplyGamma(px, g);
            ASSERT_EQ(px[0], Reference(v, g)) << "g=" << g << " v=" << v;
            ASSERT_EQ(px[1], Reference(255 - v, g)) << "g=" << g << " v=" << v;
            ASSERT_EQ(px[2], Reference(v / 2, g)) << "g=" << g << " v=" << v;
            ASSERT_EQ(px[3], 77);
        }
    }
}

TEST(GammaTest, KnownValuesAndSharedTables) {
    struct Sample {
        float g;
        int in, out;
    } samples[] = {{0.0f, 0, 0},     {0.0f, 16, 2},    {0.0f, 64, 21},   {0.0f, 128, 74},
                   {0.0f, 192, 153}, {0.0f, 255, 255}, {0.8f, 1, 1},     {0.8f, 128, 128},
                   {0.8f, 254, 254}, {1.2f, 0, 6},     {1.2f, 128, 169}, {1.2f, 254, 254},
                   {1.7f, 0, 137},   {2.0f, 1, 153},   {5.0f, 128, 238}, {5.0f, 255, 255},
                   {1.0f, 77, 77},   {-10.f, 255, 255}};
    for (const Sample& s : samples)
        EXPECT_EQ(GammaTable(s.g)[s.in], s.out) << "g=" << s.g << " v=" << s.in;
    // From 1.7 upwards, and from -3.2 downwards, the exponent stays at its limit.
    for (int v = 0; v < 256; ++v) {
        ASSERT_EQ(GammaTable(5.0f)[v], GammaTable(1.7f)[v]);
        ASSERT_EQ(GammaTable(-30.f)[v], GammaTable(-4.0f)[v]);
    }

    EXPECT_EQ(GammaTable(0.5f), GammaTable(0.5f));
    // The worker threads ask for tables while others are being built.
    std::vector<std::thread> threads;
    std::vector<int> mismatches(4, 0);
    for (int t = 0; t < 4; ++t)
        threads.emplace_back([&, t] {
            for (int i = 0; i < 200; ++i) {
                const float g = 0.013f * float((i * 7 + t) % 200);
                if (GammaTable(g)[100] != Reference(100, g))
                    ++mismatches[t];
            }
        });
    for (auto& thread : threads)
        thread.join();
    EXPECT_EQ(mismatches, std::vector<int>(4, 0));
}

} // namespace
} // namespace vexo
