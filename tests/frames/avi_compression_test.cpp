// The AVI writer with each compressor: what reaches the encoder, and what comes back out,
// checked through FFmpeg's own ffmpeg and ffprobe as independent readers.
#include <gtest/gtest.h>

#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <string>
#include <vector>

#include "avi_support.h"
#include "frames/avi_file.h"
#include "support/temp_dir.h"

namespace vexo {

using media::CompressorInfo, media::CompressorOption, media::FOURCC, media::FourCCToString,
    media::HIC, media::ICClose, media::ICEnumerateCompressors, media::ICGetOptions,
    media::ICIsUncompressed, media::ICMODE_COMPRESS, media::ICOpen, media::ICSetOption,
    media::ICTYPE_VIDEO, media::MakeFourCC, media::kDefaultFourCC;

namespace {

using test::Choose;
using test::DecodeFrames;
using test::kFfv1;
using test::kHuffyuv;
using test::Offered;
using test::OwnedImage;
using test::ProbeStream;
using test::TempDir;
using test::TestPicture;
using test::Upright;

struct LosslessCase {
    FOURCC code;
    int bytesPerPixel;
    std::string tag; // the tag ffprobe shows
    bool keepsAlpha;
};

class LosslessTest : public testing::TestWithParam<LosslessCase> {};

// Three different frames go in; the reader decodes the same pixels, upright, at the frame
// rate given, with the compressor's tag. 62 pixels of 3 bytes make rows that are not a
// whole multiple of 4 bytes, which uncompressed DIBs pad.
TEST_P(LosslessTest, DecodesExactlyTheFramesWritten) {
    const LosslessCase param = GetParam();
    if (!Offered(param.code))
        GTEST_SKIP() << FourCCToString(param.code) << " is not built into this libavcodec";
    TempDir dir;
    const std::string path = dir / "out.avi";
    CAviFile writer;
    Choose(writer, param.code);
    ASSERT_TRUE(writer.Open(path, 640, 480, 30, 1));
    std::string expectedRgb, expectedRgba;
    for (int n = 0; n < 3; ++n) {
        OwnedImage picture = TestPicture(62, 48, param.bytesPerPixel, n);
        const std::vector<unsigned char> before = picture.pixels;
        ASSERT_TRUE(writer.WriteFrame(&picture.image, n)) << int(writer.LastError);
        EXPECT_EQ(before, picture.pixels) << "the caller's image was changed";
        expectedRgb += Upright(picture.image, false);
        expectedRgba += Upright(picture.image, true);
    }
    writer.Close(0);

    auto probe = ProbeStream(path);
    EXPECT_EQ(probe["width"], "62");
    EXPECT_EQ(probe["height"], "48");
    EXPECT_EQ(probe["r_frame_rate"], "30/1");
    EXPECT_EQ(probe["nb_read_frames"], "3");
    const std::string tag = probe["codec_tag_string"];
    EXPECT_TRUE(tag == param.tag) << tag;
    EXPECT_TRUE(DecodeFrames(path, "rgb24") == expectedRgb) << "decoded pixels differ";
    if (param.keepsAlpha) {
        EXPECT_TRUE(DecodeFrames(path, "rgba") == expectedRgba) << "alpha was not kept";
    }
}

INSTANTIATE_TEST_SUITE_P(
    Codecs, LosslessTest,
    testing::Values(LosslessCase{kDefaultFourCC, 3, "[0][0][0][0]", false},
                    LosslessCase{kDefaultFourCC, 4, "[0][0][0][0]", true},
                    LosslessCase{kHuffyuv, 3, "HFYU", false},
                    LosslessCase{kHuffyuv, 4, "HFYU", true},
                    LosslessCase{MakeFourCC('F', 'F', 'V', 'H'), 3, "FFVH", false},
                    LosslessCase{kFfv1, 3, "FFV1", false}, LosslessCase{kFfv1, 4, "FFV1", true},
                    LosslessCase{MakeFourCC('U', 'L', 'R', 'G'), 3, "ULRG", false},
                    LosslessCase{MakeFourCC('U', 'L', 'R', 'G'), 4, "ULRA", true},
                    LosslessCase{MakeFourCC('M', '8', 'R', 'G'), 3, "M8RG", false}),
    [](const testing::TestParamInfo<LosslessCase>& info) {
        const std::string code = ICIsUncompressed(info.param.code)
                                     ? std::string("Uncompressed")
                                     : FourCCToString(info.param.code);
        return code + "_" + std::to_string(info.param.bytesPerPixel * 8) + "bit";
    });

// Lossy compressors: the picture, from 24 or 32 bits, survives closely, and the quality
// setting reaches them.
TEST(AviFileTest, LossyCodecsKeepThePictureAndHonourQuality) {
    struct Lossy {
        FOURCC code;
        const char* tag;
    };
    for (Lossy lossy : {Lossy{MakeFourCC('M', 'J', 'P', 'G'), "MJPG"},
                        Lossy{MakeFourCC('F', 'M', 'P', '4'), "FMP4"},
                        Lossy{MakeFourCC('H', '2', '6', '4'), "H264"}}) {
        if (!Offered(lossy.code))
            continue;
        SCOPED_TRACE(lossy.tag);
        TempDir dir;
        uintmax_t sizes[2] = {};
        for (int q = 0; q < 2; ++q) {
            const std::string path = dir / (q == 0 ? "low.avi" : "high.avi");
            CAviFile writer;
            Choose(writer, lossy.code, q == 0 ? 1000 : 9500);
            ASSERT_TRUE(writer.Open(path, 640, 480, 25, 1));
            OwnedImage picture = TestPicture(64, 48, q == 0 ? 3 : 4, 0); // 32 bits converted too
            for (int n = 0; n < 4; ++n)
                ASSERT_TRUE(writer.WriteFrame(&picture.image, n));
            writer.Close(0);
            sizes[q] = std::filesystem::file_size(path);
            auto probe = ProbeStream(path);
            EXPECT_EQ(probe["codec_tag_string"], lossy.tag);
            EXPECT_EQ(probe["nb_read_frames"], "4");
            if (q == 1) {
                const std::string decoded = DecodeFrames(path, "rgb24");
                const std::string expected = Upright(picture.image, false);
                ASSERT_GE(decoded.size(), expected.size());
                double difference = 0;
                for (size_t i = 0; i < expected.size(); ++i)
                    difference += std::abs(int(uint8_t(decoded[i])) - int(uint8_t(expected[i])));
                EXPECT_LT(difference / expected.size(), 6.0);
            }
        }
        EXPECT_GT(sizes[1], sizes[0]) << "quality did not reach the encoder";
    }
}

// The key-frame interval and the data rate of the record reach an encoder that has them.
TEST(AviFileTest, KeyFramesAndDataRateReachTheEncoder) {
    const FOURCC mpeg4 = MakeFourCC('F', 'M', 'P', '4');
    if (!Offered(mpeg4))
        GTEST_SKIP();
    TempDir dir;
    auto encode = [&](const std::string& name, int32_t key, int32_t rate) {
        const std::string path = dir / name;
        CAviFile writer;
        Choose(writer, mpeg4);
        writer.CodecVars.lKey = key;
        writer.CodecVars.lDataRate = rate;
        EXPECT_TRUE(writer.Open(path, 640, 480, 25, 1));
        // Rate control needs a few frames of some size before it can tell rates apart.
        for (int n = 0; n < 25; ++n) {
            OwnedImage picture = TestPicture(160, 120, 3, n);
            EXPECT_TRUE(writer.WriteFrame(&picture.image, n));
        }
        writer.Close(0);
        return path;
    };
    const std::string keyFrames =
        test::RunCommand("ffprobe -v error -select_streams v:0 -show_entries frame=key_frame "
                         "-of csv=p=0 '" +
                         encode("key2.avi", 2, 0) + "'");
    EXPECT_EQ(keyFrames.substr(0, 12), "1\n0\n1\n0\n1\n0\n");
    const uintmax_t low = std::filesystem::file_size(encode("low.avi", 0, 2));
    const uintmax_t high = std::filesystem::file_size(encode("high.avi", 0, 2000));
    EXPECT_LT(low, high);
}

// The options configured on the record's compressor reach the encoder of the stream.
TEST(AviFileTest, ConfiguredCompressorOptionsReachTheEncoder) {
    if (!Offered(MakeFourCC('U', 'L', 'R', 'G')))
        GTEST_SKIP();
    TempDir dir;
    uintmax_t sizes[2] = {};
    for (int pred = 0; pred < 2; ++pred) {
        const std::string path = dir / (pred == 0 ? "none.avi" : "median.avi");
        CAviFile writer;
        Choose(writer, MakeFourCC('U', 'L', 'R', 'G'));
        ASSERT_TRUE(ICSetOption(writer.CodecVars.hic, "pred", pred == 0 ? 0 : 2)); // none, median
        ASSERT_TRUE(writer.Open(path, 640, 480, 25, 1));
        OwnedImage picture = TestPicture(64, 48, 3, 0);
        ASSERT_TRUE(writer.WriteFrame(&picture.image, 0));
        writer.Close(0);
        sizes[pred] = std::filesystem::file_size(path);
    }
    EXPECT_GT(sizes[0], sizes[1] + 1000) << "the prediction choice made no difference";
}

// FFV1 left to choose its slices splits frames into four at every size (the version with
// slices carries its tables in the stream header); frames too small for four slices still
// encode, in one slice, and every frame decodes exactly.
TEST(AviFileTest, FfvOneSplitsFramesIntoSlicesWhereTheyAreLargeEnough) {
    TempDir dir;
    struct Size {
        int width, height;
        bool sliced;
    };
    for (const Size size : {Size{64, 48, true}, Size{1, 1, false}, Size{1, 7, false}}) {
        SCOPED_TRACE(std::to_string(size.width) + "x" + std::to_string(size.height));
        const std::string path = dir / "ffv1.avi";
        CAviFile writer;
        Choose(writer, kFfv1);
        ASSERT_TRUE(writer.Open(path, 640, 480, 25, 1));
        std::string expected;
        for (int n = 0; n < 2; ++n) {
            OwnedImage picture = TestPicture(size.width, size.height, 3, n);
            ASSERT_TRUE(writer.WriteFrame(&picture.image, n)) << int(writer.LastError);
            expected += Upright(picture.image, false);
        }
        writer.Close(0);
        auto probe = ProbeStream(path);
        EXPECT_EQ(probe["codec_tag_string"], "FFV1");
        EXPECT_EQ(probe["nb_read_frames"], "2");
        EXPECT_EQ(probe.count("extradata_size") && probe["extradata_size"] != "0", size.sliced)
            << "stream header: " << probe["extradata_size"];
        EXPECT_TRUE(DecodeFrames(path, "rgb24") == expected) << "decoded pixels differ";
    }
}

// Every choice of every compressor option is one the encoder takes, and gives a file the
// reader decodes.
TEST(AviFileTest, EveryOptionChoiceEncodes) {
    TempDir dir;
    const std::string path = dir / "option.avi";
    OwnedImage picture = TestPicture(64, 48, 3, 0);
    const size_t frameBytes = Upright(picture.image, false).size();
    for (const CompressorInfo& info : ICEnumerateCompressors()) {
        HIC probe = ICOpen(ICTYPE_VIDEO, info.fourcc, ICMODE_COMPRESS);
        const std::vector<CompressorOption> options = ICGetOptions(probe);
        ICClose(probe);
        for (const CompressorOption& option : options) {
            for (int choice = 0; choice < static_cast<int>(option.choices.size()); ++choice) {
                SCOPED_TRACE(FourCCToString(info.fourcc) + " " + option.key + " " +
                             option.choices[choice]);
                CAviFile writer;
                Choose(writer, info.fourcc);
                ASSERT_TRUE(ICSetOption(writer.CodecVars.hic, option.key, choice));
                ASSERT_TRUE(writer.Open(path, 640, 480, 25, 1));
                ASSERT_TRUE(writer.WriteFrame(&picture.image, 0));
                ASSERT_TRUE(writer.WriteFrame(&picture.image, 1));
                writer.Close(0);
                EXPECT_EQ(DecodeFrames(path, "rgb24").size(), 2 * frameBytes);
            }
        }
    }
}

// A state that does not belong to the compressor stops Open at the compressing stream, and
// no file is left behind.
TEST(AviFileTest, ForeignCompressorStateFailsOpen) {
    TempDir dir;
    CAviFile writer;
    Choose(writer, kHuffyuv);
    static const char garbage[] = "not a compressor state";
    writer.CodecVars.lpState = std::malloc(sizeof garbage);
    std::memcpy(writer.CodecVars.lpState, garbage, sizeof garbage);
    writer.CodecVars.cbState = sizeof garbage;
    EXPECT_FALSE(writer.Open(dir / "bad.avi", 640, 480, 25, 1));
    EXPECT_EQ(writer.LastError, AVI_CREATE_COMPRESSED);
    EXPECT_FALSE(std::filesystem::exists(dir / "bad.avi"));

    CAviFile nobody;
    Choose(nobody, MakeFourCC('Z', 'Z', 'Z', 'Z'));
    EXPECT_FALSE(nobody.Open(dir / "none.avi", 640, 480, 25, 1));
    EXPECT_EQ(nobody.LastError, AVI_CREATE_COMPRESSED);
}

} // namespace
} // namespace vexo
