// The gamma curve: every byte for every value of the gamma list against the formula written
// out here independently, the known sample values, and the cached tables.
#include <gtest/gtest.h>

#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <thread>
#include <vector>

#include "frames/gamma.h"

namespace vexo {
namespace {

// The curve exactly as defined: float exponent, double arithmetic, truncation, clamping.
int Reference(int v, float g) {
    if (g == 1.0f)
        return v;
    float e = 1.8f - g;
    if (e < 0.1)
        e = 0.1f;
    if (e > 5.0)
        e = 5.0f;
    double x = (v + 0.5) * 0.003913894324853229;
    double y = std::pow(x, static_cast<double>(e));
    int r = static_cast<int>(y * 255 + 0.5);
    if (r < 0)
        r = 0;
    if (r > 255)
        r = 255;
    return r;
}

// The 51 items of the gamma list, each the float of its decimal text "0.0" .. "5.0".
std::vector<float> ListValues() {
    std::vector<float> values;
    for (int i = 0; i <= 50; ++i) {
        char text[8];
        std::snprintf(text, sizeof text, "%d.%d", i / 10, i % 10);
        values.push_back(static_cast<float>(std::strtod(text, nullptr)));
    }
    return values;
}

TEST(GammaTest, EveryListValueMatchesTheFormulaForEveryByte) {
    for (float g : ListValues()) {
        const uint8_t* table = GammaTable(g);
        ASSERT_NE(table, nullptr);
        for (int v = 0; v < 256; ++v) {
            const int expected = Reference(v, g);
            ASSERT_EQ(table[v], expected) << "g=" << g << " v=" << v;
            // Each channel goes through the same curve; the fourth byte is never touched.
            unsigned char pixel[4] = {static_cast<unsigned char>(v),
                                      static_cast<unsigned char>(255 - v),
                                      static_cast<unsigned char>(v / 2), 77};
            ApplyGamma(pixel, g);
            ASSERT_EQ(pixel[0], expected) << "g=" << g << " v=" << v;
            ASSERT_EQ(pixel[1], Reference(255 - v, g)) << "g=" << g << " v=" << v;
            ASSERT_EQ(pixel[2], Reference(v / 2, g)) << "g=" << g << " v=" << v;
            ASSERT_EQ(pixel[3], 77);
        }
    }
}

TEST(GammaTest, KnownValues) {
    struct Sample {
        float g;
        int in, out;
    };
    const Sample samples[] = {
        {0.0f, 0, 0},     {0.0f, 16, 2},    {0.0f, 64, 21},   {0.0f, 128, 74},  {0.0f, 192, 153},
        {0.0f, 255, 255}, {0.8f, 1, 1},     {0.8f, 128, 128}, {0.8f, 254, 254}, {0.8f, 255, 255},
        {1.2f, 0, 6},     {1.2f, 128, 169}, {1.2f, 254, 254},
    };
    for (const Sample& s : samples) {
        unsigned char pixel[3] = {static_cast<unsigned char>(s.in),
                                  static_cast<unsigned char>(s.in),
                                  static_cast<unsigned char>(s.in)};
        ApplyGamma(pixel, s.g);
        EXPECT_EQ(pixel[0], s.out) << "g=" << s.g << " v=" << s.in;
        EXPECT_EQ(GammaTable(s.g)[s.in], s.out) << "g=" << s.g << " v=" << s.in;
    }
    // From 1.7 upwards the exponent stays at its lower limit: identical curves.
    for (float g : {1.7f, 2.0f, 5.0f}) {
        const uint8_t* table = GammaTable(g);
        EXPECT_EQ(table[0], 137);
        EXPECT_EQ(table[1], 153);
        EXPECT_EQ(table[128], 238);
        EXPECT_EQ(table[255], 255);
        for (int v = 0; v < 256; ++v)
            ASSERT_EQ(table[v], GammaTable(1.7f)[v]) << g;
    }
    // 1.0 changes nothing; 255 always stays 255; far outside the list the exponent is
    // clamped to 5.0 (g = -4) and the result stays a byte.
    for (int v = 0; v < 256; ++v)
        ASSERT_EQ(GammaTable(1.0f)[v], v);
    for (float g : {-10.0f, -4.0f, 0.3f, 1.0f, 3.3f, 100.0f})
        EXPECT_EQ(GammaTable(g)[255], 255) << g;
    EXPECT_EQ(GammaTable(-4.0f)[128], Reference(128, -4.0f));
    EXPECT_EQ(GammaTable(-4.0f)[128], GammaTable(-30.0f)[128]);
}

TEST(GammaTest, TablesAreSharedAndSafeAcrossThreads) {
    EXPECT_EQ(GammaTable(0.5f), GammaTable(0.5f));
    EXPECT_NE(GammaTable(0.5f), GammaTable(0.6f));

    const std::vector<float> values = ListValues();
    std::vector<std::thread> threads;
    std::vector<int> mismatches(4, 0);
    for (int t = 0; t < 4; ++t) {
        threads.emplace_back([&, t] {
            for (int round = 0; round < 3; ++round)
                for (size_t i = 0; i < values.size(); ++i) {
                    const float g = values[(i * 7 + t) % values.size()] + 0.01f * round;
                    const uint8_t* table = GammaTable(g);
                    for (int v = 0; v < 256; v += 17)
                        if (table[v] != Reference(v, g))
                            ++mismatches[t];
                }
        });
    }
    for (auto& thread : threads)
        thread.join();
    for (int t = 0; t < 4; ++t)
        EXPECT_EQ(mismatches[t], 0) << "thread " << t;
}

TEST(GammaTest, NotANumberGivesBytesNotGarbage) {
    const float nan = std::nanf("");
    const uint8_t* table = GammaTable(nan);
    unsigned char pixel[3] = {10, 128, 255};
    ApplyGamma(pixel, nan);
    EXPECT_EQ(pixel[0], table[10]);
    EXPECT_EQ(pixel[1], table[128]);
    EXPECT_EQ(pixel[2], table[255]);
}

} // namespace
} // namespace vexo
