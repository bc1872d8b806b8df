// Screenshots of every depth the game writes, read from disk and written through the AVI
// writer; FFmpeg must decode exactly the expected picture, upright.
#include <gtest/gtest.h>

#include <cstdio>

#include "avi_support.h"
#include "frames/avi_file.h"
#include "media/vfw.h"
#include "support/temp_dir.h"

namespace vexo {

using media::ICMF_COMPVARS_VALID, media::ICMODE_COMPRESS, media::ICOpen, media::ICTYPE_VIDEO,
    media::MakeFourCC, media::kCompVarsSize;
namespace {

// A 6 x 4 picture, bottom-left origin: pixel (x, row) of the stored rows.
uint8_t Channel(int x, int row, int c) {
    return static_cast<uint8_t>(x * 40 + row * 9 + c * 70);
}

std::string Header(int type, int bits) {
    std::string h(18, '\0');
    h[2] = static_cast<char>(type);
    h[12] = 6;
    h[14] = 4;
    h[16] = static_cast<char>(bits);
    return h;
}

// The file's bytes and the RGB picture (top line first) a decoder should show.
struct Screenshot {
    std::string file;
    std::string upright;
};

Screenshot Make(int bits, bool rle) {
    Screenshot s;
    s.file = Header(rle ? 10 : 2, bits);
    std::string rows[4];
    for (int row = 0; row < 4; ++row) {
        for (int x = 0; x < 6; ++x) {
            uint8_t r = Channel(x, row, 0), g = Channel(x, row, 1), b = Channel(x, row, 2);
            if (bits == 16) {
                r &= 0xF8, g &= 0xF8, b &= 0xF8;
                const uint16_t v = static_cast<uint16_t>((r >> 3) << 10 | (g >> 3) << 5 | (b >> 3));
                if (rle)
                    s.file += '\0'; // a raw packet of one pixel
                s.file += static_cast<char>(v & 255);
                s.file += static_cast<char>(v >> 8);
            } else {
                if (rle)
                    s.file += '\0';
                s.file += static_cast<char>(b);
                s.file += static_cast<char>(g);
                s.file += static_cast<char>(r);
                if (bits == 32)
                    s.file += static_cast<char>(255);
            }
            rows[row] += static_cast<char>(r);
            rows[row] += static_cast<char>(g);
            rows[row] += static_cast<char>(b);
        }
    }
    for (int row = 3; row >= 0; --row)
        s.upright += rows[row];
    return s;
}

TEST(ScreenshotPipeline, EveryDepthComesOutExactlyAndUpright) {
    test::TempDir dir;
    for (const char* code : {"DIB ", "HFYU", "FFV1"}) {
        for (int bits : {16, 24, 32}) {
            for (bool rle : {false, true}) {
                const Screenshot shot = Make(bits, rle);
                const std::string tga = dir / "shot.tga";
                test::WriteFile(tga, shot.file);
                int32_t status = -1;
                TgaImage* image = LoadTga(tga.c_str(), &status);
                ASSERT_EQ(status, 0) << bits << (rle ? " rle" : "");

                CAviFile writer;
                writer.CodecVars.cbSize = kCompVarsSize;
                writer.CodecVars.dwFlags = ICMF_COMPVARS_VALID;
                writer.CodecVars.fccType = ICTYPE_VIDEO;
                writer.CodecVars.fccHandler = MakeFourCC(code[0], code[1], code[2], code[3]);
                writer.CodecVars.lQ = 10000;
                writer.CodecVars.hic =
                    ICOpen(ICTYPE_VIDEO, writer.CodecVars.fccHandler, ICMODE_COMPRESS);
                const std::string avi = dir / "out.avi";
                ASSERT_TRUE(writer.Open(avi, 640, 480, 25, 1));
                ASSERT_TRUE(writer.WriteFrame(image, 0));
                ASSERT_TRUE(writer.WriteFrame(image, 1));
                writer.Close(0);
                FreeImage(image);

                const std::string decoded = test::DecodeFrames(avi, "rgb24");
                EXPECT_EQ(decoded, shot.upright + shot.upright)
                    << code << " " << bits << (rle ? " rle" : "");
            }
        }
    }
}

} // namespace
} // namespace vexo
