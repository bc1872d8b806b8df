// The blend against FFmpeg's own on the same noisy screenshots, and how pictures form groups.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <random>
#include <string>
#include <vector>

#include "frames/blend.h"
#include "frames/tga.h"
#include "support/temp_dir.h"
#include "support/tga_file.h"

namespace vexo {
namespace {

using test::TempDir;

// count uncompressed TGA screenshots (bottom-up, as the game writes them) of random bytes,
// their bottom row all 255 and the next one all 0; returns their pixel data in file order.
std::vector<std::string> WriteShots(const TempDir& dir, int count, int width, int height, int bpp) {
    std::mt19937 random(static_cast<unsigned>(count * 10 + bpp));
    std::vector<std::string> pixels;
    const size_t row = size_t(width) * bpp;
    for (int n = 0; n < count; ++n) {
        std::string data(row * height, '\0');
        for (size_t i = 0; i < data.size(); ++i)
            data[i] = static_cast<char>(i < row ? 255 : i < 2 * row ? 0 : random() & 255);
        std::string header(18, '\0');
        header[2] = 2;
        header[12] = static_cast<char>(width & 255);
        header[13] = static_cast<char>(width >> 8);
        header[14] = static_cast<char>(height);
        header[16] = static_cast<char>(bpp * 8);
        header[17] = static_cast<char>(bpp == 4 ? 8 : 0);
        char name[32];
        std::snprintf(name, sizeof name, "shot%04d.tga", n);
        test::WriteFile(dir / name, header + data);
        pixels.push_back(data);
    }
    return pixels;
}

// Our finished picture with its rows from the top down, as FFmpeg gives them.
std::string TopDown(const media::CapturePicture& p) {
    std::string rows;
    for (int32_t y = p.height - 1; y >= 0; --y)
        rows.append(reinterpret_cast<const char*>(p.bottomRow + y * p.stride),
                    size_t(p.width) * p.bytesPerPixel);
    return rows;
}

// FFmpeg's blend of the same files is the same bytes, K = 2 and 8, 24- and 32-bit screenshots
// (FFmpeg reads them as bgr24 and bgra, the byte order of the files): fed by file bands with
// the widest vectors, and as whole top-down pictures with the baseline ones. The count is not a
// multiple of K: the group cut short gives nothing, in FFmpeg as here.
TEST(Blend, EqualsFfmpegTmixEveryKthFrame) {
    const int width = 83; // rows of 249 and 332 bytes: whole vectors and a rest
    const int height = 6;
    for (int bpp : {3, 4})
        for (int k : {2, 8}) {
            SCOPED_TRACE("bytes per pixel " + std::to_string(bpp) + ", K " + std::to_string(k));
            TempDir dir;
            const int count = 2 * k + 3;
            const std::vector<std::string> shots = WriteShots(dir, count, width, height, bpp);
            const std::string theirs =
                test::Capture("ffmpeg -v error -nostdin -i '" + dir.path() +
                              "/shot%04d.tga' -vf \"tmix=frames=" + std::to_string(k) +
                              ",select='eq(mod(n\\," + std::to_string(k) + ")\\," +
                              std::to_string(k - 1) + ")'\" -fps_mode passthrough -pix_fmt " +
                              (bpp == 3 ? "bgr24" : "bgra") + " -f rawvideo - 2>/dev/null");
            const size_t size = shots[0].size();
            ASSERT_EQ(theirs.size(), size * (count / k));

            FrameBlender bands(k);
            FrameBlender pictures(k, FrameBlender::Vectors::Baseline);
            std::vector<std::string> fromBands, fromPictures;
            const ptrdiff_t row = ptrdiff_t(width) * bpp;
            for (int n = 0; n < count; ++n) {
                char name[32];
                std::snprintf(name, sizeof name, "/shot%04d.tga", n);
                TgaBandReader reader;
                ASSERT_TRUE(reader.Open((dir.path() + name).c_str()));
                ASSERT_TRUE(bands.BeginPicture(reader.Width, reader.Height, reader.BytesPerPixel));
                int32_t rows = 0;
                for (int32_t done = 0; const unsigned char* band = reader.Next(&rows);
                     done += rows) {
                    // the upper rows of the band first
                    const int32_t lower = rows / 2;
                    bands.AddRows(done + lower, rows - lower, band + lower * row, row);
                    bands.AddRows(done, lower, band, row);
                }
                if (bands.EndPicture() == FrameBlender::Step::Blended)
                    fromBands.push_back(TopDown(bands.Blended()));

                std::string topDown;
                for (int y = height - 1; y >= 0; --y)
                    topDown.append(shots[n], y * row, row);
                const media::CapturePicture picture{
                    reinterpret_cast<const uint8_t*>(topDown.data()) + (height - 1) * row, -row,
                    width, height, bpp};
                if (pictures.Add(picture) == FrameBlender::Step::Blended)
                    fromPictures.push_back(TopDown(pictures.Blended()));
            }
            EXPECT_EQ(bands.Pending(), count % k);
            ASSERT_EQ(fromBands.size(), size_t(count / k));
            ASSERT_EQ(fromPictures.size(), size_t(count / k));
            for (size_t i = 0; i < fromBands.size(); ++i) {
                EXPECT_TRUE(fromBands[i] == theirs.substr(i * size, size)) << "frame " << i;
                EXPECT_TRUE(fromPictures[i] == theirs.substr(i * size, size)) << "frame " << i;
            }
        }
}

media::CapturePicture Solid(std::vector<uint8_t>& bytes, int width, int height, uint8_t v) {
    bytes.assign(size_t(width) * height * 4, v);
    return {bytes.data(), width * 4, width, height, 4};
}

// A new size starts a new group; a picture given in part drops its group; the largest K does
// not overflow the sum; one sub-frame hands the picture back as it is.
TEST(Blend, GroupsAndEdges) {
    std::vector<uint8_t> a, b;
    FrameBlender four(4);
    for (uint8_t v : {200, 200, 200})
        EXPECT_EQ(four.Add(Solid(a, 40, 3, v)), FrameBlender::Step::Taken);
    for (uint8_t v : {10, 11, 12})
        EXPECT_EQ(four.Add(Solid(b, 41, 3, v)), FrameBlender::Step::Taken);
    ASSERT_EQ(four.Add(Solid(b, 41, 3, 13)), FrameBlender::Step::Blended);
    const media::CapturePicture& p = four.Blended();
    EXPECT_EQ(p.width, 41);
    EXPECT_EQ(std::string(reinterpret_cast<const char*>(p.bottomRow), 41 * 3 * 4),
              std::string(41 * 3 * 4, 12)); // 46 / 4 = 11.5, to the even 12

    EXPECT_EQ(four.Add(Solid(b, 41, 3, 1)), FrameBlender::Step::Taken);
    ASSERT_TRUE(four.BeginPicture(41, 3, 4));
    four.AddRows(0, 2, b.data(), 41 * 4);
    EXPECT_EQ(four.EndPicture(), FrameBlender::Step::Refused);
    EXPECT_EQ(four.Pending(), 0);
    EXPECT_EQ(four.Add(Solid(b, 41, 3, 1)), FrameBlender::Step::Taken);
    EXPECT_EQ(four.Add(media::CapturePicture{b.data(), 41 * 2, 41, 3, 2}),
              FrameBlender::Step::Refused);
    EXPECT_EQ(four.Pending(), 0);

    FrameBlender most(256);
    FrameBlender::Step last = FrameBlender::Step::Refused;
    for (int n = 0; n < 256; ++n)
        last = most.Add(Solid(a, 33, 2, 255));
    ASSERT_EQ(last, FrameBlender::Step::Blended);
    const uint8_t* out = most.Blended().bottomRow;
    EXPECT_TRUE(std::all_of(out, out + 33 * 2 * 4, [](uint8_t v) { return v == 255; }));

    FrameBlender one(1);
    const media::CapturePicture given = Solid(a, 5, 5, 7);
    ASSERT_EQ(one.Add(given), FrameBlender::Step::Blended);
    EXPECT_EQ(one.Blended().bottomRow, given.bottomRow);
}

} // namespace
} // namespace vexo
