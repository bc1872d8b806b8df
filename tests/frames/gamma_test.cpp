#include <gtest/gtest.h>

#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <thread>
#include <vector>

#include "frames/gamma.h"

namespace vexo {
namespace {

// The curve written out once more, step by step, to hold the program's version to.
int Reference(int v, float g) {
    if (g == 1.0f)
        return v;
    float e = 1.8f - g;
    if (static_cast<double>(e) < 0.1)
        e = 0.1f;
    if (static_cast<double>(e) > 5.0)
        e = 5.0f;
    const double x = (static_cast<double>(v) + 0.5) * (1.0 / 255.5);
    const double y = std::pow(x, static_cast<double>(e));
    int r = static_cast<int>(y * 255.0 + 0.5);
    return r < 0 ? 0 : (r > 255 ? 255 : r);
}

// The 51 values of the gamma list, each parsed from its text like the list item.
std::vector<float> ListValues() {
    std::vector<float> values;
    for (int i = 0; i <= 50; ++i) {
        char text[8];
        std::snprintf(text, sizeof text, "%d.%d", i / 10, i % 10);
        values.push_back(static_cast<float>(std::strtod(text, nullptr)));
    }
    return values;
}

TEST(GammaTest, FormulaAndTableAgreeForEveryListValueAndByte) {
    for (float g : ListValues()) {
        const uint8_t* table = GammaTable(g);
        ASSERT_NE(table, nullptr);
        for (int v = 0; v < 256; ++v) {
            const unsigned char b = static_cast<unsigned char>(v);
            unsigned char pixel[4] = {b, b, b, 77};
            ApplyGamma(pixel, g);
            const int expected = Reference(v, g);
            ASSERT_EQ(pixel[0], expected) << "g=" << g << " v=" << v;
            ASSERT_EQ(pixel[1], expected);
            ASSERT_EQ(pixel[2], expected);
            ASSERT_EQ(pixel[3], 77) << "a fourth byte is never touched";
            ASSERT_EQ(table[v], expected) << "g=" << g << " v=" << v;
        }
    }
}

TEST(GammaTest, KnownValues) {
    auto curve = [](float g, unsigned char v) {
        unsigned char pixel[3] = {v, v, v};
        ApplyGamma(pixel, g);
        return static_cast<int>(pixel[0]);
    };
    for (int v = 0; v < 256; ++v)
        EXPECT_EQ(curve(1.0f, static_cast<unsigned char>(v)), v);

    EXPECT_EQ(curve(0.0f, 0), 0);
    EXPECT_EQ(curve(0.0f, 16), 2);
    EXPECT_EQ(curve(0.0f, 64), 21);
    EXPECT_EQ(curve(0.0f, 128), 74);
    EXPECT_EQ(curve(0.0f, 192), 153);
    EXPECT_EQ(curve(0.0f, 255), 255);

    EXPECT_EQ(curve(0.8f, 1), 1);
    EXPECT_EQ(curve(0.8f, 128), 128);
    EXPECT_EQ(curve(0.8f, 254), 254);
    EXPECT_EQ(curve(0.8f, 255), 255);

    EXPECT_EQ(curve(1.2f, 0), 6);
    EXPECT_EQ(curve(1.2f, 128), 169);
    EXPECT_EQ(curve(1.2f, 254), 254);

    for (float g : {1.7f, 2.0f, 5.0f}) {
        EXPECT_EQ(curve(g, 0), 137) << g;
        EXPECT_EQ(curve(g, 1), 153) << g;
        EXPECT_EQ(curve(g, 128), 238) << g;
        EXPECT_EQ(curve(g, 255), 255) << g;
    }
    for (float g : ListValues())
        EXPECT_EQ(curve(g, 255), 255) << g;
    // Far outside the list the exponent stops at 5.0; a NaN gives black, not garbage.
    EXPECT_EQ(curve(-10.0f, 128), Reference(128, -3.2f));
    EXPECT_EQ(curve(std::nanf(""), 128), 0);
}

TEST(GammaTest, TablesAreSharedAcrossThreads) {
    // Several threads asking for the same new values get the same tables, and the same
    // content as one thread alone would.
    const std::vector<float> values = {0.35f, 1.15f, 2.45f};
    std::vector<std::vector<const uint8_t*>> seen(4);
    std::vector<std::thread> threads;
    for (auto& mine : seen)
        threads.emplace_back([&values, &mine] {
            for (float g : values)
                mine.push_back(GammaTable(g));
        });
    for (auto& t : threads)
        t.join();
    for (size_t i = 0; i < values.size(); ++i) {
        for (const auto& mine : seen)
            EXPECT_EQ(mine[i], seen[0][i]);
        for (int v = 0; v < 256; ++v)
            ASSERT_EQ(seen[0][i][v], Reference(v, values[i]));
    }
}

} // namespace
} // namespace vexo
