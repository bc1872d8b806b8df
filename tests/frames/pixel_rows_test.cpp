// Rows converted with wide vector instructions against the conversion written out byte by
// byte: every packed layout, row widths around the 16-pixel blocks, a curve that changes
// every value, and the bytes that must stay as they were.
#include <gtest/gtest.h>

#include <cstdint>
#include <random>
#include <string>
#include <vector>

#include "frames/gamma.h"
#include "frames/pixel_rows.h"

namespace vexo {
namespace {

// What the frame row must hold after converting: the colour bytes through the curve, alpha
// from a four-byte source or 255, every other byte left as it was.
std::vector<uint8_t> Expected(const PackedRowLayout& l, const std::vector<uint8_t>& source,
                              std::vector<uint8_t> row, int width, const uint8_t* curve) {
    for (int x = 0; x < width; ++x) {
        const uint8_t* s = &source[static_cast<size_t>(x) * l.sourceBpp];
        uint8_t* d = &row[static_cast<size_t>(x) * l.step];
        d[l.redAt] = curve[s[l.sourceRedAt]];
        d[l.greenAt] = curve[s[1]];
        d[l.blueAt] = curve[s[2 - l.sourceRedAt]];
        if (l.alphaAt >= 0)
            d[l.alphaAt] = l.sourceBpp == 4 ? s[3] : 255;
    }
    return row;
}

std::string Describe(const PackedRowLayout& l, int width) {
    return "bpp " + std::to_string(l.sourceBpp) + " red at " + std::to_string(l.sourceRedAt) +
           " -> step " + std::to_string(l.step) + " r" + std::to_string(l.redAt) + " g" +
           std::to_string(l.greenAt) + " b" + std::to_string(l.blueAt) + " a" +
           std::to_string(l.alphaAt) + ", width " + std::to_string(width);
}

TEST(PixelRowsTest, WideRowsGiveExactlyWhatTheByteConversionGives) {
    if (!FastPackedRows::Available())
        GTEST_SKIP() << "this processor has no 64-byte byte permutes";
    // A curve that moves every value, including the top and bottom halves of the table.
    std::vector<uint8_t> curve(256);
    for (int v = 0; v < 256; ++v)
        curve[v] = static_cast<uint8_t>(255 - (v * 7 + 3) % 256);
    std::mt19937 random(7);
    std::vector<PackedRowLayout> layouts;
    for (int bpp : {3, 4})
        for (int redAt : {0, 2}) {
            layouts.push_back({bpp, redAt, 3, 2, 1, 0, -1}); // BGR
            layouts.push_back({bpp, redAt, 3, 0, 1, 2, -1}); // RGB
            layouts.push_back({bpp, redAt, 4, 2, 1, 0, -1}); // BGR and a byte left alone
            layouts.push_back({bpp, redAt, 4, 1, 2, 3, -1}); // a byte left alone, RGB
            layouts.push_back({bpp, redAt, 4, 2, 1, 0, 3});  // BGRA
            layouts.push_back({bpp, redAt, 4, 1, 2, 3, 0});  // ARGB
        }
    for (const PackedRowLayout& layout : layouts) {
        const FastPackedRows fast(layout);
        ASSERT_TRUE(fast.Usable()) << Describe(layout, 0);
        for (int width : {1, 2, 5, 15, 16, 17, 31, 32, 33, 47, 64, 100, 640}) {
            std::vector<uint8_t> source(static_cast<size_t>(width) * layout.sourceBpp);
            for (uint8_t& b : source)
                b = static_cast<uint8_t>(random());
            // The row with 64 spare bytes after it, all marked, to see what gets written.
            std::vector<uint8_t> row(static_cast<size_t>(width) * layout.step + 64, 0xA5);
            const std::vector<uint8_t> want = Expected(layout, source, row, width, curve.data());
            fast.Convert(source.data(), row.data(), width, curve.data());
            ASSERT_EQ(row, want) << Describe(layout, width);
        }
    }
    // The program's own curves as well: gamma 1.0 (identity) and a real one.
    const PackedRowLayout bgr0{3, 2, 4, 2, 1, 0, -1};
    const FastPackedRows fast(bgr0);
    for (float g : {1.0f, 1.3f, 0.4f}) {
        std::vector<uint8_t> source(1600 * 3);
        for (size_t i = 0; i < source.size(); ++i)
            source[i] = static_cast<uint8_t>(i * 31 + 5);
        std::vector<uint8_t> row(1600 * 4 + 64, 0);
        const std::vector<uint8_t> want = Expected(bgr0, source, row, 1600, GammaTable(g));
        fast.Convert(source.data(), row.data(), 1600, GammaTable(g));
        ASSERT_EQ(row, want) << "gamma " << g;
    }
}

TEST(PixelRowsTest, LayoutsWithoutEveryByteInItsOwnPlaceAreNotTaken) {
    // Two colours on one byte, a byte past the pixel, planar steps, odd source sizes.
    for (const PackedRowLayout& layout :
         {PackedRowLayout{3, 2, 3, 0, 0, 2, -1}, PackedRowLayout{3, 2, 3, 1, 2, 3, -1},
          PackedRowLayout{3, 2, 4, 2, 1, 0, 2}, PackedRowLayout{3, 2, 1, 0, 0, 0, -1},
          PackedRowLayout{2, 2, 3, 2, 1, 0, -1}, PackedRowLayout{3, 1, 3, 2, 1, 0, -1}})
        EXPECT_FALSE(FastPackedRows(layout).Usable()) << Describe(layout, 0);
}

} // namespace
} // namespace vexo
