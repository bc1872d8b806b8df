// The AVI writer, checked through FFmpeg's own ffmpeg and ffprobe as independent readers.
#include <gtest/gtest.h>

#include <csignal>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <sys/resource.h>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>
#include <vector>

#include "avi_support.h"
#include "frames/avi_file.h"
#include "frames/gamma.h"
#include "support/temp_dir.h"

namespace vexo {

using media::COMPVARS, media::CompressorInfo, media::CompressorOption, media::FOURCC,
    media::FourCCToString, media::HIC, media::ICClose, media::ICEnumerateCompressors,
    media::ICGetOptions, media::ICIsUncompressed, media::ICMF_COMPVARS_VALID,
    media::ICMODE_COMPRESS, media::ICOpen, media::ICSetOption, media::ICTYPE_VIDEO,
    media::MakeFourCC, media::kDefaultFourCC;
namespace {

using test::DecodeFrames;
using test::OwnedImage;
using test::ProbeStream;
using test::TempDir;
using test::TestPicture;
using test::Upright;

constexpr FOURCC kHuffyuv = MakeFourCC('H', 'F', 'Y', 'U');
constexpr FOURCC kFfv1 = MakeFourCC('F', 'F', 'V', '1');

// Loads a compressor choice the way the settings do: a valid record with the compressor
// opened by its code.
void Choose(CAviFile& writer, FOURCC code, int32_t quality = 10000) {
    writer.CodecVars.dwFlags = ICMF_COMPVARS_VALID;
    writer.CodecVars.fccType = ICTYPE_VIDEO;
    writer.CodecVars.fccHandler = code;
    writer.CodecVars.lQ = quality;
    writer.CodecVars.hic = ICOpen(ICTYPE_VIDEO, code, ICMODE_COMPRESS);
}

bool Offered(FOURCC code) {
    if (ICIsUncompressed(code))
        return true;
    HIC hic = ICOpen(ICTYPE_VIDEO, code, ICMODE_COMPRESS);
    ICClose(hic);
    return hic != nullptr;
}

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

// Uncompressed frames are stored as the bottom-up BGR rows in the image's own row order.
TEST(AviFileTest, UncompressedStoresBgrRowsInBufferOrder) {
    TempDir dir;
    const std::string path = dir / "raw.avi";
    CAviFile writer;
    Choose(writer, kDefaultFourCC);
    ASSERT_TRUE(writer.Open(path, 640, 480, 25, 1));
    OwnedImage picture = TestPicture(8, 4, 3, 1);
    ASSERT_TRUE(writer.WriteFrame(&picture.image, 0));
    writer.Close(0);

    std::string bgr;
    for (size_t i = 0; i < picture.pixels.size(); i += 3) {
        bgr.push_back(static_cast<char>(picture.pixels[i + 2]));
        bgr.push_back(static_cast<char>(picture.pixels[i + 1]));
        bgr.push_back(static_cast<char>(picture.pixels[i]));
    }
    const std::string file = test::ReadFile(path);
    const size_t chunk = file.find("00d", file.find("movi"));
    ASSERT_NE(chunk, std::string::npos);
    uint32_t size;
    std::memcpy(&size, file.data() + chunk + 4, 4);
    EXPECT_EQ(size, bgr.size());
    EXPECT_TRUE(file.compare(chunk + 8, bgr.size(), bgr) == 0);
    // The format is a bottom-up DIB: positive height, 24 bits.
    const size_t strf = file.find("strf");
    ASSERT_NE(strf, std::string::npos);
    int32_t height;
    uint16_t bits;
    std::memcpy(&height, file.data() + strf + 16, 4);
    std::memcpy(&bits, file.data() + strf + 22, 2);
    EXPECT_EQ(height, 4);
    EXPECT_EQ(bits, 24);
}

// The gamma curve applies to the colour bytes only; the alpha byte passes through.
TEST(AviFileTest, GammaAppliesToColoursNotAlpha) {
    TempDir dir;
    const std::string path = dir / "gamma.avi";
    CAviFile writer;
    Choose(writer, kDefaultFourCC);
    ASSERT_TRUE(writer.Open(path, 640, 480, 25, 1));
    writer.SetGamma(1.6f);
    EXPECT_FLOAT_EQ(writer.Gamma, 1.6f);
    OwnedImage picture = TestPicture(16, 8, 4, 0);
    OwnedImage corrected = picture;
    corrected.image.Pixels = corrected.pixels.data();
    const uint8_t* curve = GammaTable(1.6f);
    for (size_t i = 0; i < corrected.pixels.size(); ++i)
        if (i % 4 != 3)
            corrected.pixels[i] = curve[corrected.pixels[i]];
    ASSERT_NE(corrected.pixels, picture.pixels);
    ASSERT_TRUE(writer.WriteFrame(&picture.image, 0));
    writer.Close(0);
    EXPECT_TRUE(DecodeFrames(path, "rgba") == Upright(corrected.image, true));
}

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

// A file closed without frames is a valid AVI of the Open rectangle and the chosen codec.
TEST(AviFileTest, EmptyFileIsAValidAvi) {
    for (FOURCC code : {kDefaultFourCC, kHuffyuv}) {
        TempDir dir;
        const std::string path = dir / "empty.avi";
        CAviFile writer;
        Choose(writer, code);
        ASSERT_TRUE(writer.Open(path, 640, 480, 25, 1));
        writer.Close(0);
        auto probe = ProbeStream(path);
        EXPECT_EQ(probe["width"], "640");
        EXPECT_EQ(probe["height"], "480");
        EXPECT_TRUE(probe["nb_read_frames"] == "0" || probe["nb_read_frames"] == "N/A");
        EXPECT_TRUE(DecodeFrames(path, "rgb24").empty());
        EXPECT_EQ(probe["codec_tag_string"], code == kHuffyuv ? "HFYU" : "[0][0][0][0]");
    }
}

// Frames made on another thread (converted there, and compressed there where the
// compressor's frames are independent) make the very file that the same images handed to
// WriteFrame make, byte for byte, with gamma and without, for every kind of compressor.
TEST(AviFileTest, FramesMadeOnAnotherThreadMakeTheSameFile) {
    struct Case {
        FOURCC code;
        int bytesPerPixel;
        float gamma;
    };
    const FOURCC codes[] = {kDefaultFourCC,
                            kHuffyuv,
                            MakeFourCC('F', 'F', 'V', 'H'),
                            kFfv1,
                            MakeFourCC('U', 'L', 'R', 'G'),
                            MakeFourCC('M', '8', 'R', 'G'),
                            MakeFourCC('M', 'J', 'P', 'G')};
    std::vector<Case> cases;
    for (FOURCC code : codes)
        for (int bpp : {3, 4})
            for (float gamma : {1.0f, 1.3f})
                if (Offered(code))
                    cases.push_back({code, bpp, gamma});
    for (const Case& c : cases) {
        SCOPED_TRACE(FourCCToString(c.code) + " " + std::to_string(c.bytesPerPixel * 8) +
                     " bit, gamma " + std::to_string(c.gamma));
        std::vector<OwnedImage> pictures;
        for (int n = 0; n < 5; ++n)
            pictures.push_back(TestPicture(62, 48, c.bytesPerPixel, n));
        TempDir dir;
        auto write = [&](const std::string& path, bool prepared) {
            CAviFile writer;
            Choose(writer, c.code, 7500);
            ASSERT_TRUE(writer.Open(path, 640, 480, 25, 1));
            writer.SetGamma(c.gamma);
            EXPECT_EQ(writer.NewPreparedFrame(true), nullptr) << "before the format is fixed";
            ASSERT_TRUE(writer.WriteFrame(&pictures[0].image, 0));
            auto first = writer.NewPreparedFrame(true);
            auto second = writer.NewPreparedFrame(true, first.get());
            auto own = writer.NewPreparedFrame(false);
            ASSERT_TRUE(first && second && own);
            // Uncompressed frames and those of the stateless lossless compressors are
            // complete when made apart; the others are compressed by the stream in turn.
            const bool independent = c.code != kFfv1 && c.code != MakeFourCC('M', 'J', 'P', 'G');
            EXPECT_EQ(first->CompletesApart(), independent);
            EXPECT_EQ(second->CompletesApart(), independent);
            EXPECT_EQ(own->CompletesApart(), ICIsUncompressed(c.code));
            CAviFile::PreparedFrame* frames[] = {first.get(), second.get(), own.get()};
            for (int n = 1; n < 5; ++n) {
                if (!prepared) {
                    ASSERT_TRUE(writer.WriteFrame(&pictures[n].image, n));
                    continue;
                }
                CAviFile::PreparedFrame* frame = frames[(n - 1) % 3];
                bool made = false;
                std::thread([&] {
                    made = CAviFile::PrepareFrame(*frame, pictures[n].image);
                }).join();
                ASSERT_TRUE(made && frame->Filled());
                EXPECT_EQ(frame->Complete(), frame->CompletesApart());
                ASSERT_TRUE(writer.WritePreparedFrame(*frame, n)) << int(writer.LastError);
                EXPECT_FALSE(frame->Filled());
            }
            writer.Close(0);
        };
        const std::string plain = dir / "plain.avi";
        const std::string made = dir / "prepared.avi";
        write(plain, false);
        write(made, true);
        EXPECT_EQ(ProbeStream(made)["nb_read_frames"], "5");
        EXPECT_TRUE(test::ReadFile(plain) == test::ReadFile(made)) << "the files differ";
    }
}

// A prepared frame takes only images of the stream's format, and only the writer it was
// made for stores it.
TEST(AviFileTest, PreparedFramesFitTheirStreamOnly) {
    TempDir dir;
    OwnedImage picture = TestPicture(32, 16, 3, 0);
    OwnedImage wider = TestPicture(48, 16, 3, 1);
    OwnedImage deeper = TestPicture(32, 16, 4, 2);
    CAviFile writer;
    Choose(writer, kHuffyuv);
    ASSERT_TRUE(writer.Open(dir / "first.avi", 640, 480, 25, 1));
    ASSERT_TRUE(writer.WriteFrame(&picture.image, 0));
    auto frame = writer.NewPreparedFrame(true);
    ASSERT_NE(frame, nullptr);
    EXPECT_FALSE(CAviFile::PrepareFrame(*frame, wider.image));
    EXPECT_FALSE(CAviFile::PrepareFrame(*frame, deeper.image));
    EXPECT_FALSE(frame->Filled());
    ASSERT_TRUE(CAviFile::PrepareFrame(*frame, picture.image));

    // The writer moves on to another file: the frame made for the first is refused there and
    // nothing of it reaches the file.
    writer.Close(0);
    Choose(writer, kHuffyuv);
    ASSERT_TRUE(writer.Open(dir / "second.avi", 640, 480, 25, 1));
    ASSERT_TRUE(writer.WriteFrame(&picture.image, 0));
    EXPECT_FALSE(writer.WritePreparedFrame(*frame, 1));
    EXPECT_EQ(writer.LastError, AVI_WRITE_FRAME);
    writer.Close(0);
    EXPECT_EQ(ProbeStream(dir / "second.avi")["nb_read_frames"], "1");
    EXPECT_EQ(ProbeStream(dir / "first.avi")["nb_read_frames"], "1");
}

// A frame of another size or depth is refused and closes the writer; the file keeps the
// first frame.
TEST(AviFileTest, FrameOfAnotherSizeOrDepthIsRefused) {
    OwnedImage first = TestPicture(32, 16, 3, 0);
    OwnedImage wider = TestPicture(48, 16, 3, 0);
    OwnedImage deeper = TestPicture(32, 16, 4, 0);
    for (const OwnedImage* second : {&wider, &deeper}) {
        TempDir dir;
        const std::string path = dir / "sizes.avi";
        CAviFile writer;
        Choose(writer, kHuffyuv);
        ASSERT_TRUE(writer.Open(path, 640, 480, 25, 1));
        ASSERT_TRUE(writer.WriteFrame(&first.image, 0));
        EXPECT_FALSE(writer.WriteFrame(&second->image, 1));
        EXPECT_EQ(writer.LastError, AVI_SET_FORMAT);
        EXPECT_TRUE(writer.FileName.empty()) << "the writer did not close itself";
        // Once closed, writing fails at the format as well.
        EXPECT_FALSE(writer.WriteFrame(&first.image, 1));
        EXPECT_EQ(writer.LastError, AVI_SET_FORMAT);
        writer.Close(0);
        EXPECT_EQ(ProbeStream(path)["nb_read_frames"], "1");
        EXPECT_TRUE(DecodeFrames(path, "rgb24") == Upright(first.image, false));
    }
}

TEST(AviFileTest, UnsupportedDepthAndBadImagesAreRefused) {
    TempDir dir;
    CAviFile writer;
    Choose(writer, kDefaultFourCC);
    ASSERT_TRUE(writer.Open(dir / "depth.avi", 640, 480, 25, 1));
    OwnedImage twoBytes = test::MakeImage(4, 4, 2, [](int, int, int) { return uint8_t(9); });
    EXPECT_FALSE(writer.WriteFrame(&twoBytes.image, 0));
    EXPECT_EQ(writer.LastError, AVI_DEPTH);
    EXPECT_TRUE(writer.FileName.empty());

    ASSERT_TRUE(writer.Open(dir / "short.avi", 640, 480, 25, 1));
    OwnedImage shortData = TestPicture(8, 8, 3, 0);
    shortData.image.DataSize -= 1; // pixels do not cover the picture
    EXPECT_FALSE(writer.WriteFrame(&shortData.image, 0));
    EXPECT_EQ(writer.LastError, AVI_SET_FORMAT);
}

// Frames go forward: a position already written is refused with code 6; a gap is kept as
// an empty frame.
TEST(AviFileTest, PositionsOnlyGoForward) {
    TempDir dir;
    const std::string path = dir / "positions.avi";
    CAviFile writer;
    Choose(writer, kHuffyuv);
    ASSERT_TRUE(writer.Open(path, 640, 480, 25, 1));
    OwnedImage picture = TestPicture(16, 8, 3, 0);
    ASSERT_TRUE(writer.WriteFrame(&picture.image, 0));
    ASSERT_TRUE(writer.WriteFrame(&picture.image, 2));
    EXPECT_FALSE(writer.WriteFrame(&picture.image, 2));
    EXPECT_EQ(writer.LastError, AVI_WRITE_FRAME);
    writer.Close(0);
    // The gap keeps its place in time: the reader shows three frames.
    EXPECT_EQ(DecodeFrames(path, "rgb24").size(), 3 * Upright(picture.image, false).size());
}

TEST(AviFileTest, OpenOnUnwritablePathFailsWithCode2) {
    TempDir dir;
    test::WriteFile(dir / "plain", "a regular file, not a directory");
    CAviFile writer;
    Choose(writer, kHuffyuv);
    EXPECT_FALSE(writer.Open(dir / "plain/out.avi", 640, 480, 25, 1));
    EXPECT_EQ(writer.LastError, AVI_CREATE_FILE);
    EXPECT_TRUE(writer.FileName.empty());
    EXPECT_EQ(writer.CodecVars.hic, nullptr); // the choice is gone with the close
}

TEST(AviFileTest, OpenReplacesAnExistingFileAndNothingIsLeftUnfinished) {
    TempDir dir;
    const std::string path = dir / "again.avi";
    test::WriteFile(path, std::string(100000, 'x'));
    CAviFile writer;
    Choose(writer, kDefaultFourCC);
    ASSERT_TRUE(writer.Open(path, 640, 480, 25, 1));
    EXPECT_EQ(writer.FileName, path);
    OwnedImage picture = TestPicture(8, 8, 3, 0);
    ASSERT_TRUE(writer.WriteFrame(&picture.image, 0));
    writer.Close(0);
    EXPECT_EQ(test::ReadFile(path).find("xxxx"), std::string::npos);
    EXPECT_EQ(ProbeStream(path)["nb_read_frames"], "1");

    // Opening again without a close completes the first file instead of losing it.
    Choose(writer, kDefaultFourCC);
    ASSERT_TRUE(writer.Open(path, 640, 480, 25, 1));
    ASSERT_TRUE(writer.WriteFrame(&picture.image, 0));
    ASSERT_TRUE(writer.WriteFrame(&picture.image, 1));
    ASSERT_TRUE(writer.Open(dir / "next.avi", 640, 480, 25, 1));
    EXPECT_EQ(ProbeStream(path)["nb_read_frames"], "2");
    writer.Close(0);

    // A writer that goes away while open completes its file too.
    {
        CAviFile scoped;
        Choose(scoped, kHuffyuv);
        ASSERT_TRUE(scoped.Open(path, 640, 480, 25, 1));
        ASSERT_TRUE(scoped.WriteFrame(&picture.image, 0));
    }
    EXPECT_EQ(ProbeStream(path)["nb_read_frames"], "1");
}

// Close resets every field, is harmless twice, and leaves the code given.
TEST(AviFileTest, CloseResetsAndIsHarmlessTwice) {
    TempDir dir;
    CAviFile writer;
    Choose(writer, kHuffyuv);
    writer.CodecVars.lKey = 5;
    writer.StreamName = "Demo one";
    ASSERT_TRUE(writer.Open(dir / "a.avi", 320, 240, 30, 1));
    EXPECT_EQ(writer.Fps, 30);
    EXPECT_EQ(writer.Width, 320);
    EXPECT_EQ(writer.Height, 240);
    writer.SetGamma(2.0f);
    writer.Close(6);
    EXPECT_EQ(writer.LastError, 6);
    writer.Close(0);
    writer.Close(0);
    EXPECT_EQ(writer.LastError, 0);
    EXPECT_EQ(writer.Fps, 25);
    EXPECT_EQ(writer.Width, 0);
    EXPECT_EQ(writer.Height, 0);
    EXPECT_EQ(writer.Gamma, 1.0f);
    EXPECT_TRUE(writer.FileName.empty());
    EXPECT_TRUE(writer.StreamName.empty());
    COMPVARS expected{};
    expected.cbSize = 64;
    EXPECT_EQ(std::memcmp(&writer.CodecVars, &expected, sizeof expected), 0);
    EXPECT_EQ(ProbeStream(dir / "a.avi")["width"], "320");
    EXPECT_EQ(test::RunCommand("ffprobe -v error -show_entries stream_tags=title -of "
                               "default=nw=1:nk=1 '" +
                               dir / "a.avi" + "'"),
              "Demo one\n");

    EXPECT_STREQ(CAviFile::StatusText(0), "No error");
    EXPECT_STREQ(CAviFile::StatusText(5), "Error setting AVI stream format");
    EXPECT_STREQ(CAviFile::StatusText(7), "Unsupported color depth. RGB only.");
    EXPECT_STREQ(CAviFile::StatusText(8), "Unknown error");
}

// The chunk ids of a file's movi list, in file order, each followed by a space.
std::string MoviChunks(const std::string& path) {
    const std::string file = test::ReadFile(path);
    std::string ids;
    for (size_t at = file.find("movi") + 4; at + 8 <= file.size() && file.compare(at, 4, "idx1");) {
        uint32_t size;
        std::memcpy(&size, file.data() + at + 4, 4);
        ids += file.substr(at, 4) + " ";
        at += 8 + size + (size & 1);
    }
    return ids;
}

// Sound beside the frames: a second stream whose PCM is stored unchanged, in step with the
// frames as it was handed over; sound handed over before the first frame comes right after
// the header. The frames are unaffected.
TEST(AviFileTest, SoundIsStoredUnchangedAmongTheFrames) {
    struct Sound {
        int rate, channels, bits;
        const char* codec;
    };
    for (const Sound s : {Sound{22050, 2, 16, "pcm_s16le"}, Sound{11025, 1, 8, "pcm_u8"}}) {
        SCOPED_TRACE(s.codec);
        TempDir dir;
        const std::string path = dir / "sound.avi";
        CAviFile writer;
        Choose(writer, kHuffyuv);
        ASSERT_TRUE(writer.Open(path, 640, 480, 25, 1));
        ASSERT_TRUE(writer.AddSound(s.rate, s.channels, s.bits));
        EXPECT_FALSE(writer.AddSound(s.rate, s.channels, s.bits)) << "a second sound stream";
        std::string pcm;
        auto sound = [&](int samples) {
            std::string part;
            for (int i = 0; i < samples * s.channels * s.bits / 8; ++i)
                part.push_back(static_cast<char>((pcm.size() + i) * 7 % 251));
            pcm += part;
            return writer.WriteSound(reinterpret_cast<const uint8_t*>(part.data()),
                                     static_cast<int32_t>(part.size()));
        };
        ASSERT_TRUE(sound(s.rate / 10));
        const OwnedImage picture = TestPicture(32, 16, 3, 0);
        for (int n = 0; n < 3; ++n) {
            ASSERT_TRUE(writer.WriteFrame(&picture.image, n));
            ASSERT_TRUE(sound(s.rate / 25));
        }
        writer.Close(0);

        auto audio = ProbeStream(path, "a:0");
        EXPECT_EQ(audio["codec_name"], s.codec);
        EXPECT_EQ(audio["sample_rate"], std::to_string(s.rate));
        EXPECT_EQ(audio["channels"], std::to_string(s.channels));
        EXPECT_TRUE(test::RunCommand("ffmpeg -nostdin -v error -i '" + path + "' -map 0:a -f " +
                                     (s.bits == 8 ? "u8" : "s16le") + " - 2>/dev/null") == pcm)
            << "decoded sound differs";
        EXPECT_EQ(ProbeStream(path)["nb_read_frames"], "3");
        EXPECT_EQ(MoviChunks(path), "01wb 00dc 01wb 00dc 01wb 00dc 01wb ");
    }

    // After the first frame no sound stream can be added, and the video goes on without.
    TempDir dir;
    CAviFile writer;
    Choose(writer, kHuffyuv);
    ASSERT_TRUE(writer.Open(dir / "late.avi", 640, 480, 25, 1));
    const OwnedImage picture = TestPicture(32, 16, 3, 0);
    ASSERT_TRUE(writer.WriteFrame(&picture.image, 0));
    EXPECT_FALSE(writer.AddSound(22050, 2, 16));
    const uint8_t silence[4] = {};
    EXPECT_FALSE(writer.WriteSound(silence, 4));
    ASSERT_TRUE(writer.WriteFrame(&picture.image, 1));
    writer.Close(0);
    EXPECT_EQ(ProbeStream(dir / "late.avi")["nb_read_frames"], "2");
    EXPECT_TRUE(ProbeStream(dir / "late.avi", "a:0").empty());
}

// Writes `frames` frames (and, when pcm is given, a tenth of a second of sound before each)
// in a child process that then ends without completing the file, as a writer killed does.
// The sound written goes to *pcm. False when the child did not write it all.
bool WriteAndDie(const std::string& path, FOURCC code, int frames, std::string* pcm = nullptr) {
    std::string sound;
    for (int i = 0; i < 2205 * 4; ++i)
        sound.push_back(static_cast<char>(i * 13 % 256));
    const pid_t child = ::fork();
    if (child == 0) {
        CAviFile writer;
        Choose(writer, code);
        if (!writer.Open(path, 640, 480, 25, 1) || (pcm && !writer.AddSound(22050, 2, 16)))
            ::_exit(1);
        for (int n = 0; n < frames; ++n) {
            const OwnedImage picture = TestPicture(64, 48, 3, n);
            if ((pcm && !writer.WriteSound(reinterpret_cast<const uint8_t*>(sound.data()),
                                           static_cast<int32_t>(sound.size()))) ||
                !writer.WriteFrame(&picture.image, n))
                ::_exit(1);
        }
        ::_exit(0);
    }
    int status = 0;
    if (child < 0 || ::waitpid(child, &status, 0) != child || !WIFEXITED(status) ||
        WEXITSTATUS(status) != 0)
        return false;
    for (int n = 0; pcm && n < frames; ++n)
        *pcm += sound;
    return true;
}

// A frame the writer reports as written is in the file, whatever becomes of the writer
// afterwards: no compressor holds frames back.
TEST(AviFileTest, AWrittenFrameIsInTheFileAtOnce) {
    for (const CompressorInfo& info : ICEnumerateCompressors()) {
        SCOPED_TRACE(FourCCToString(info.fourcc));
        TempDir dir;
        const std::string path = dir / "killed.avi";
        ASSERT_TRUE(WriteAndDie(path, info.fourcc, 3));
        EXPECT_EQ(ProbeStream(path)["nb_read_frames"], "3");
    }
}

// A file whose writer was killed, here cut inside its last frame as well, holds frames its
// header does not count. vexo-encode --repair rewrites it complete with every whole frame and
// all the sound, copied as they are.
TEST(AviFileTest, RepairCompletesAFileWhoseWriterWasKilled) {
    for (const FOURCC code : {kDefaultFourCC, kHuffyuv}) {
        SCOPED_TRACE(FourCCToString(code));
        TempDir dir;
        const std::string path = dir / "killed.avi";
        std::string pcm;
        ASSERT_TRUE(WriteAndDie(path, code, 3, &pcm));
        // The writer claimed room ahead, which stays zeros: the cut goes 100 bytes into the
        // last frame's data.
        const std::string positions =
            test::RunCommand("ffprobe -v error -select_streams v:0 -show_entries packet=pos "
                             "-of csv=p=0 '" +
                             path + "'");
        std::filesystem::resize_file(
            path,
            std::stoul(positions.substr(positions.rfind('\n', positions.size() - 2) + 1)) + 100);
        int exitCode = -1;
        const std::string said =
            test::RunCommand(std::string(VEXO_ENCODE) + " --repair '" + path + "' 2>&1", &exitCode);
        EXPECT_EQ(exitCode, 0) << said;
        EXPECT_EQ(said, "Repaired " + path + ": 2 frames\n");
        auto video = ProbeStream(path);
        EXPECT_EQ(video["nb_frames"], "2");
        EXPECT_EQ(video["nb_read_frames"], "2");
        EXPECT_EQ(video["codec_tag_string"], code == kHuffyuv ? "HFYU" : "[0][0][0][0]");
        EXPECT_TRUE(DecodeFrames(path, "rgb24") ==
                    Upright(TestPicture(64, 48, 3, 0).image, false) +
                        Upright(TestPicture(64, 48, 3, 1).image, false));
        EXPECT_TRUE(test::RunCommand("ffmpeg -nostdin -v error -i '" + path +
                                     "' -map 0:a -f s16le - 2>/dev/null") == pcm)
            << "the sound differs";
    }
}

// A write that fails (here: the file-size limit) closes the writer with code 6, and the
// file is completed with exactly the frames stored before. The limit's signal keeps its
// default action, which would end the process: the writer turns it into a failed write.
TEST(AviFileTest, FailedWriteKeepsEarlierFramesInACompleteFile) {
    TempDir dir;
    const std::string path = dir / "limit.avi";
    const pid_t child = ::fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
        ::signal(SIGXFSZ, SIG_DFL);
        const rlimit limit{150000, 150000};
        ::setrlimit(RLIMIT_FSIZE, &limit);
        CAviFile writer;
        Choose(writer, kDefaultFourCC);
        if (!writer.Open(path, 640, 480, 25, 1))
            ::_exit(100);
        for (int n = 0; n < 50; ++n) {
            OwnedImage picture = TestPicture(64, 48, 3, n); // 9216 bytes a frame
            if (!writer.WriteFrame(&picture.image, n))
                ::_exit(writer.LastError == AVI_WRITE_FRAME ? n : 101);
        }
        ::_exit(102);
    }
    int status = 0;
    ASSERT_EQ(::waitpid(child, &status, 0), child);
    ASSERT_TRUE(WIFEXITED(status));
    const int stored = WEXITSTATUS(status);
    ASSERT_GE(stored, 3);
    ASSERT_LT(stored, 16);
    EXPECT_EQ(ProbeStream(path)["nb_read_frames"], std::to_string(stored));
    // The reader finds a complete file: no complaint on its error output.
    EXPECT_EQ(test::RunCommand("ffmpeg -nostdin -v error -i '" + path + "' -f null - 2>&1"), "");
    std::string expected;
    for (int n = 0; n < stored; ++n)
        expected += Upright(TestPicture(64, 48, 3, n).image, false);
    EXPECT_TRUE(DecodeFrames(path, "rgb24") == expected);
}

} // namespace
} // namespace vexo
