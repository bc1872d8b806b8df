// The AVI writer end to end: files written through CAviFile and read back by ffmpeg and
// ffprobe.
#include <gtest/gtest.h>

#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cmath>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ostream>
#include <string>
#include <vector>

#include "avi/avi_support.h"
#include "frames/avi_file.h"
#include "support/temp_dir.h"

extern "C" {
#include <libavcodec/avcodec.h>
}

namespace vexo {
namespace {

using test::DecodeFrames;
using test::ProbeStream;
using test::StoredBytes;
using test::TempDir;
using test::TestImage;

// Fills the writer's compressor record the way the stored choice is loaded.
void ChooseCodec(CAviFile& writer, FOURCC code) {
    writer.CodecVars.dwFlags = ICMF_COMPVARS_VALID;
    writer.CodecVars.fccType = ICTYPE_VIDEO;
    writer.CodecVars.fccHandler = code;
    writer.CodecVars.lQ = 10000;
    writer.CodecVars.hic = ICOpen(ICTYPE_VIDEO, code, ICMODE_COMPRESS);
}

std::vector<unsigned char> Concat(const std::vector<TestImage>& frames, int outBytes) {
    std::vector<unsigned char> all;
    for (const auto& f : frames) {
        const auto one = f.Upright(outBytes);
        all.insert(all.end(), one.begin(), one.end());
    }
    return all;
}

struct LosslessCase {
    const char* code;
    int bytesPerPixel;
    const char* tag; // as ffprobe shows it
};

void PrintTo(const LosslessCase& c, std::ostream* os) {
    *os << (c.code ? c.code : "uncompressed") << " " << c.bytesPerPixel * 8 << " bits";
}

class LosslessTest : public ::testing::TestWithParam<LosslessCase> {};

// Frames of both depths come back exactly, upright, at the frame rate, with the tag.
TEST_P(LosslessTest, FramesComeBackExactlyAndUpright) {
    const LosslessCase c = GetParam();
    TempDir dir;
    const std::string path = dir / "out.avi";
    std::vector<TestImage> frames;
    for (int i = 0; i < 3; ++i)
        frames.emplace_back(16, 8, c.bytesPerPixel, i);

    CAviFile writer;
    const FOURCC code =
        c.code ? MakeFourCC(c.code[0], c.code[1], c.code[2], c.code[3]) : kDefaultFourCC;
    ChooseCodec(writer, code);
    if (c.code) {
        ASSERT_NE(writer.CodecVars.hic, nullptr) << c.code;
    }
    ASSERT_TRUE(writer.Open(path, 640, 480, 30, 1));
    for (int i = 0; i < 3; ++i) {
        int32_t bytes = -1;
        ASSERT_TRUE(writer.WriteFrame(&frames[i].image, i, &bytes)) << int(writer.LastError);
        if (!c.code) {
            EXPECT_EQ(bytes, 16 * 8 * c.bytesPerPixel);
        }
    }
    const std::vector<unsigned char> before = frames[0].pixels;
    writer.Close(0);
    EXPECT_EQ(frames[0].pixels, before) << "the caller's image is never changed";

    auto probe = ProbeStream(path);
    EXPECT_EQ(probe["codec_tag_string"], c.tag);
    EXPECT_EQ(probe["r_frame_rate"], "30/1");
    EXPECT_EQ(probe["nb_read_frames"], "3");
    EXPECT_EQ(probe["width"], "16");
    EXPECT_EQ(probe["height"], "8");

    bool ok = false;
    EXPECT_EQ(DecodeFrames(path, "rgb24", &ok), Concat(frames, 3));
    EXPECT_TRUE(ok);
    if (!c.code || std::string(c.code) == "HFYU" || std::string(c.code) == "FFV1") {
        // These take blue-green-red-alpha as it is: the alpha byte survives.
        EXPECT_EQ(DecodeFrames(path, "rgba"), Concat(frames, 4));
    }
}

INSTANTIATE_TEST_SUITE_P(
    Codecs, LosslessTest,
    ::testing::Values(LosslessCase{nullptr, 3, "[0][0][0][0]"},
                      LosslessCase{nullptr, 4, "[0][0][0][0]"}, LosslessCase{"HFYU", 3, "HFYU"},
                      LosslessCase{"HFYU", 4, "HFYU"}, LosslessCase{"FFV1", 3, "FFV1"},
                      LosslessCase{"FFV1", 4, "FFV1"}, LosslessCase{"FFVH", 3, "FFVH"},
                      LosslessCase{"ULRG", 3, "ULRG"}, LosslessCase{"ULRG", 4, "ULRA"},
                      LosslessCase{"M8RG", 3, "M8RG"}, LosslessCase{"M8RG", 4, "M8RA"}),
    [](const auto& info) {
        return std::string(info.param.code ? info.param.code : "Uncompressed") +
               std::to_string(info.param.bytesPerPixel * 8);
    });

// Uncompressed frames are stored as the writer's DIB: blue-green-red(-alpha), rows in
// buffer order, each row padded to 4 bytes; gamma on the colour bytes only.
TEST(AviWriterTest, UncompressedStoresTheDibBytes) {
    TempDir dir;
    {
        // 5 pixels of 3 bytes: rows of 15 bytes padded to 16.
        TestImage picture(5, 3, 3, 1);
        CAviFile writer;
        ASSERT_TRUE(writer.Open(dir / "odd.avi", 640, 480, 25, 1));
        ASSERT_TRUE(writer.WriteFrame(&picture.image, 0));
        writer.Close(0);
        std::string expected;
        for (int row = 0; row < 3; ++row) {
            for (int x = 0; x < 5; ++x) {
                const unsigned char* p = &picture.pixels[(row * 5 + x) * 3];
                expected +=
                    {static_cast<char>(p[2]), static_cast<char>(p[1]), static_cast<char>(p[0])};
            }
            expected += '\0';
        }
        EXPECT_EQ(StoredBytes(dir / "odd.avi"), expected);
        EXPECT_EQ(DecodeFrames(dir / "odd.avi", "rgb24"), picture.Upright(3));
        EXPECT_EQ(ProbeStream(dir / "odd.avi")["pix_fmt"], "bgr24");
    }
    {
        // 32 bits with gamma 1.2: 0 becomes 6 and 128 becomes 169; alpha is untouched.
        TestImage picture(2, 2, 4, 0);
        const unsigned char rgba[4][4] = {
            {0, 128, 255, 0}, {128, 0, 0, 77}, {255, 255, 128, 128}, {0, 0, 0, 255}};
        for (int i = 0; i < 4; ++i)
            for (int b = 0; b < 4; ++b)
                picture.pixels[i * 4 + b] = rgba[i][b];
        CAviFile writer;
        ASSERT_TRUE(writer.Open(dir / "gamma.avi", 640, 480, 25, 1));
        writer.SetGamma(1.2f);
        EXPECT_EQ(writer.Gamma, 1.2f);
        ASSERT_TRUE(writer.WriteFrame(&picture.image, 0));
        writer.Close(0);
        const std::string expected("\xff\xa9\x06\x00"
                                   "\x06\x06\xa9\x4d"
                                   "\xa9\xff\xff\x80"
                                   "\x06\x06\x06\xff",
                                   16);
        EXPECT_EQ(StoredBytes(dir / "gamma.avi"), expected);
        EXPECT_EQ(ProbeStream(dir / "gamma.avi")["pix_fmt"], "bgra");
    }
}

// Lossy compressors show the same picture, upright, within their loss.
TEST(AviWriterTest, LossyCodecsShowTheSamePicture) {
    std::vector<std::pair<std::string, std::string>> codecs = {{"MJPG", "MJPG"}, {"FMP4", "FMP4"}};
    if (avcodec_find_encoder_by_name("libx264"))
        codecs.push_back({"H264", "H264"});
    for (const auto& [code, tag] : codecs) {
        SCOPED_TRACE(code);
        TempDir dir;
        const std::string path = dir / "lossy.avi";
        std::vector<TestImage> frames;
        for (int i = 0; i < 4; ++i)
            frames.push_back(TestImage::Smooth(32, 32, i));
        CAviFile writer;
        ChooseCodec(writer, MakeFourCC(code[0], code[1], code[2], code[3]));
        writer.CodecVars.lKey = 2;
        ASSERT_TRUE(writer.Open(path, 640, 480, 25, 1));
        for (int i = 0; i < 4; ++i)
            ASSERT_TRUE(writer.WriteFrame(&frames[i].image, i));
        writer.Close(0);

        auto probe = ProbeStream(path);
        EXPECT_EQ(probe["codec_tag_string"], tag);
        EXPECT_EQ(probe["nb_read_frames"], "4");
        const auto decoded = DecodeFrames(path, "rgb24");
        const auto expected = Concat(frames, 3);
        ASSERT_EQ(decoded.size(), expected.size());
        double total = 0;
        for (size_t i = 0; i < expected.size(); ++i)
            total += std::abs(int(decoded[i]) - int(expected[i]));
        EXPECT_LT(total / expected.size(), 8.0);
    }
}

// A file closed without frames is a valid AVI of the Open rectangle and the chosen codec.
TEST(AviWriterTest, EmptyFileIsValid) {
    for (const char* code : {"DIB ", "HFYU", "FFV1"}) {
        SCOPED_TRACE(code);
        TempDir dir;
        CAviFile writer;
        ChooseCodec(writer, MakeFourCC(code[0], code[1], code[2], code[3]));
        ASSERT_TRUE(writer.Open(dir / "empty.avi", 640, 480, 25, 1));
        writer.Close(0);
        auto probe = ProbeStream(dir / "empty.avi");
        EXPECT_EQ(probe["width"], "640");
        EXPECT_EQ(probe["height"], "480");
        // ffprobe counts no frames at all ("N/A") in an AVI without frames, as in
        // ffmpeg's own.
        EXPECT_TRUE(probe["nb_read_frames"] == "N/A" || probe["nb_read_frames"] == "0");
        EXPECT_EQ(probe["codec_tag_string"],
                  std::string(code) == "DIB " ? "[0][0][0][0]" : std::string(code));
    }
}

// A frame of another size or depth is refused with code 5; the file keeps what came before.
TEST(AviWriterTest, FrameOfAnotherFormatIsRefused) {
    for (const char* code : {"DIB ", "HFYU"}) {
        SCOPED_TRACE(code);
        TempDir dir;
        TestImage first(16, 8, 3, 0), larger(32, 8, 3, 1), deeper(16, 8, 4, 2);
        for (const TestImage* second : {&larger, &deeper}) {
            CAviFile writer;
            ChooseCodec(writer, MakeFourCC(code[0], code[1], code[2], code[3]));
            ASSERT_TRUE(writer.Open(dir / "two.avi", 640, 480, 25, 1));
            ASSERT_TRUE(writer.WriteFrame(&first.image, 0));
            EXPECT_FALSE(writer.WriteFrame(&second->image, 1));
            EXPECT_EQ(writer.LastError, AVI_SET_FORMAT);
            EXPECT_EQ(writer.File, nullptr) << "the writer closed itself";
            writer.Close(0);
            EXPECT_EQ(ProbeStream(dir / "two.avi")["nb_read_frames"], "1");
            EXPECT_EQ(DecodeFrames(dir / "two.avi", "rgb24"), first.Upright(3));
        }
    }
}

// Failures of Open and WriteFrame close the writer with their codes.
TEST(AviWriterTest, FailuresCloseWithTheirCodes) {
    TempDir dir;
    test::WriteFile(dir / "plain", "a file, not a directory");
    CAviFile writer;
    ChooseCodec(writer, MakeFourCC('H', 'F', 'Y', 'U'));
    EXPECT_FALSE(writer.Open(dir / "plain/out.avi", 640, 480, 25, 1));
    EXPECT_EQ(writer.LastError, AVI_CREATE_FILE);
    EXPECT_STREQ(AviStatusText(writer.LastError), "Error creating AVI file");
    EXPECT_EQ(writer.File, nullptr);
    EXPECT_EQ(writer.CodecVars.hic, nullptr) << "the record is reset";

    EXPECT_FALSE(writer.Open(dir / "nofps.avi", 640, 480, 0, 1));
    EXPECT_EQ(writer.LastError, AVI_CREATE_STREAM);

    ChooseCodec(writer, MakeFourCC('Z', 'Z', 'Z', 'Z'));
    EXPECT_FALSE(writer.Open(dir / "nocodec.avi", 640, 480, 25, 1));
    EXPECT_EQ(writer.LastError, AVI_CREATE_COMPRESSED_STREAM);

    TestImage picture(4, 4, 3, 0);
    EXPECT_FALSE(writer.WriteFrame(&picture.image, 0)) << "not open";
    EXPECT_EQ(writer.LastError, AVI_SET_FORMAT);

    ASSERT_TRUE(writer.Open(dir / "depth.avi", 640, 480, 25, 1));
    TestImage twoBytes(4, 4, 3, 0);
    twoBytes.image.BytesPerPixel = 2;
    twoBytes.image.DataSize = 4 * 4 * 2;
    EXPECT_FALSE(writer.WriteFrame(&twoBytes.image, 0));
    EXPECT_EQ(writer.LastError, AVI_COLOR_DEPTH);
    EXPECT_EQ(writer.File, nullptr);

    // A record that claims more pixels than it holds is never read.
    ASSERT_TRUE(writer.Open(dir / "short.avi", 640, 480, 25, 1));
    TestImage lying(4, 4, 3, 0);
    lying.image.Height = 400;
    EXPECT_FALSE(writer.WriteFrame(&lying.image, 0));
    EXPECT_EQ(writer.LastError, AVI_SET_FORMAT);

    // Positions must not run backwards.
    ASSERT_TRUE(writer.Open(dir / "back.avi", 640, 480, 25, 1));
    ASSERT_TRUE(writer.WriteFrame(&picture.image, 3));
    EXPECT_FALSE(writer.WriteFrame(&picture.image, 1));
    EXPECT_EQ(writer.LastError, AVI_WRITE_FRAME);
    EXPECT_EQ(ProbeStream(dir / "back.avi")["width"], "4") << "still a readable file";

    EXPECT_STREQ(AviStatusText(0), "No error");
    EXPECT_STREQ(AviStatusText(1), "Not enough free memory available");
    EXPECT_STREQ(AviStatusText(7), "Unsupported color depth. RGB only.");
    EXPECT_STREQ(AviStatusText(8), "Unknown error");
    EXPECT_STREQ(AviStatusText(-1), "Unknown error");
}

// Close resets the writer to its defaults; a second Close releases nothing more.
TEST(AviWriterTest, CloseResetsAndIsHarmlessTwice) {
    TempDir dir;
    CAviFile writer;
    EXPECT_EQ(writer.Fps, 25);
    EXPECT_EQ(writer.CodecVars.cbSize, 64);
    ChooseCodec(writer, MakeFourCC('F', 'F', 'V', '1'));
    writer.CodecVars.lDataRate = 300;
    writer.StreamName = "demo";
    ASSERT_TRUE(writer.Open(dir / "a.avi", 640, 480, 30, 1));
    EXPECT_EQ(writer.CompressOptions.dwBytesPerSecond, 307200u);
    EXPECT_EQ(writer.CompressOptions.dwFlags, 0x0Eu);
    EXPECT_EQ(writer.FileName, dir / "a.avi");
    EXPECT_EQ(writer.Width, 640);
    EXPECT_EQ(writer.Fps, 30);
    writer.SetGamma(0.5f);
    writer.Close(3);
    EXPECT_EQ(writer.LastError, 3);
    writer.Close(0);
    EXPECT_EQ(writer.LastError, 0);
    EXPECT_TRUE(!writer.File && !writer.Stream && !writer.CompressedStream);
    EXPECT_EQ(writer.Fps, 25);
    EXPECT_EQ(writer.Width + writer.Height, 0);
    EXPECT_EQ(writer.Gamma, 1.0f);
    EXPECT_TRUE(writer.StreamName.empty() && writer.FileName.empty());
    COMPVARS empty;
    std::memset(&empty, 0, sizeof empty);
    empty.cbSize = 64;
    EXPECT_EQ(std::memcmp(&writer.CodecVars, &empty, sizeof empty), 0) << "only cbSize set";
    EXPECT_EQ(writer.CompressOptions.dwBytesPerSecond, 0u);
    EXPECT_EQ(ProbeStream(dir / "a.avi")["codec_tag_string"], "FFV1");
    EXPECT_EQ(test::RunCommand("ffprobe -v error -show_entries stream_tags=title -of csv=p=0 '" +
                               dir / "a.avi" + "'"),
              "demo\n")
        << "the stream's name";

    // Open and Close stay balanced with the library however often Close runs.
    ASSERT_TRUE(writer.Open(dir / "b.avi", 640, 480, 25, 1));
    TestImage picture(4, 4, 3, 0);
    EXPECT_TRUE(writer.WriteFrame(&picture.image, 0));
    writer.Close(0);
    EXPECT_EQ(ProbeStream(dir / "b.avi")["nb_read_frames"], "1");
}

// Open replaces a file of the same name.
TEST(AviWriterTest, OpenReplacesAnExistingFile) {
    TempDir dir;
    test::WriteFile(dir / "old.avi", std::string(100000, 'x'));
    CAviFile writer;
    TestImage picture(4, 2, 3, 0);
    ASSERT_TRUE(writer.Open(dir / "old.avi", 640, 480, 25, 1));
    ASSERT_TRUE(writer.WriteFrame(&picture.image, 0));
    writer.Close(0);
    EXPECT_EQ(DecodeFrames(dir / "old.avi", "rgb24"), picture.Upright(3));
    EXPECT_LT(test::ReadFile(dir / "old.avi").size(), 100000u);
}

// The compressor's own options reach the encoder, whether restored into the record's
// compressor (as the settings file does) or handed over as lpState.
TEST(AviWriterTest, CompressorOptionsReachTheEncoder) {
    if (!avcodec_find_encoder_by_name("libx264"))
        GTEST_SKIP() << "no libx264 here";
    const FOURCC h264 = MakeFourCC('H', '2', '6', '4');
    // x264 writes its settings into the stream: preset "ultrafast" shows as "subme=0",
    // the default "medium" as "subme=7".
    auto encode = [&](const std::string& path, bool ultrafast, bool asState) {
        CAviFile writer;
        ChooseCodec(writer, h264);
        HIC configured = ICOpen(ICTYPE_VIDEO, h264, ICMODE_COMPRESS);
        if (ultrafast) {
            EXPECT_TRUE(ICSetOption(configured, "preset", 0));
        }
        std::vector<unsigned char> state(ICSendMessage(configured, ICM_GETSTATE, nullptr, 0));
        ICSendMessage(configured, ICM_GETSTATE, state.data(), static_cast<long>(state.size()));
        ICClose(configured);
        if (asState) {
            writer.CodecVars.lpState = state.data();
            writer.CodecVars.cbState = static_cast<int32_t>(state.size());
        } else {
            ICSendMessage(writer.CodecVars.hic, ICM_SETSTATE, state.data(),
                          static_cast<long>(state.size()));
        }
        TestImage picture = TestImage::Smooth(32, 32, 0);
        EXPECT_TRUE(writer.Open(path, 640, 480, 25, 1));
        EXPECT_TRUE(writer.WriteFrame(&picture.image, 0));
        writer.Close(0);
        return test::ReadFile(path);
    };
    TempDir dir;
    const std::string viaHandle = encode(dir / "handle.avi", true, false);
    EXPECT_NE(viaHandle.find("subme=0"), std::string::npos);
    const std::string viaState = encode(dir / "state.avi", true, true);
    EXPECT_NE(viaState.find("subme=0"), std::string::npos);
    const std::string plain = encode(dir / "plain.avi", false, false);
    EXPECT_NE(plain.find("subme=7"), std::string::npos);
}

} // namespace
} // namespace vexo

namespace vexo {
namespace {

// A write that fails for want of room (here: the file-size limit) closes the writer with
// code 6, and the frames written before stay readable.
TEST(AviWriterTest, FramesBeforeAFailedWriteStayReadable) {
    for (const char* code : {"DIB ", "HFYU"}) {
        SCOPED_TRACE(code);
        TempDir dir;
        const std::string path = dir / "full.avi";
        const pid_t child = ::fork();
        ASSERT_GE(child, 0);
        if (child == 0) {
            // The child writes until the limit stops it and reports through its exit code.
            std::signal(SIGXFSZ, SIG_IGN);
            rlimit limit{200000, 200000};
            ::setrlimit(RLIMIT_FSIZE, &limit);
            CAviFile writer;
            ChooseCodec(writer, MakeFourCC(code[0], code[1], code[2], code[3]));
            if (!writer.Open(path, 640, 480, 25, 1))
                ::_exit(10);
            int written = 0;
            for (int i = 0; i < 1000; ++i) {
                TestImage picture(64, 64, 3, i);
                if (!writer.WriteFrame(&picture.image, i))
                    break;
                ++written;
            }
            const int lastError = writer.LastError;
            writer.Close(0);
            ::_exit(lastError == AVI_WRITE_FRAME && written > 3 ? 0 : 20);
        }
        int status = 0;
        ASSERT_EQ(::waitpid(child, &status, 0), child);
        ASSERT_TRUE(WIFEXITED(status));
        EXPECT_EQ(WEXITSTATUS(status), 0);
        auto probe = ProbeStream(path);
        EXPECT_EQ(probe["width"], "64");
        bool ok = false;
        const auto decoded = DecodeFrames(path, "rgb24", &ok);
        EXPECT_TRUE(ok);
        ASSERT_GE(decoded.size(), 3u * 64 * 64 * 3);
        const TestImage first(64, 64, 3, 0);
        EXPECT_EQ(std::vector<unsigned char>(decoded.begin(), decoded.begin() + 64 * 64 * 3),
                  first.Upright(3));
        EXPECT_GE(std::atoi(probe["nb_read_frames"].c_str()), 3);
    }
}

} // namespace
} // namespace vexo

namespace vexo {
namespace {

// Writes frames of the busy test picture with the given settings; the file's bytes.
std::string EncodeWith(const std::string& path, const char* code, int32_t quality, int32_t keyEvery,
                       int32_t dataRate, int frames) {
    CAviFile writer;
    ChooseCodec(writer, MakeFourCC(code[0], code[1], code[2], code[3]));
    writer.CodecVars.lQ = quality;
    writer.CodecVars.lKey = keyEvery;
    writer.CodecVars.lDataRate = dataRate;
    EXPECT_TRUE(writer.Open(path, 640, 480, 25, 1));
    for (int i = 0; i < frames; ++i) {
        TestImage picture(64, 64, 3, i);
        EXPECT_TRUE(writer.WriteFrame(&picture.image, i));
    }
    writer.Close(0);
    return test::ReadFile(path);
}

// The key-frame flags of the file's packets, "K" or "_" each.
std::string KeyFlags(const std::string& path) {
    const std::string out = test::RunCommand(
        "ffprobe -v error -select_streams v:0 -show_entries packet=flags -of csv=p=0 '" + path +
        "' 2>/dev/null");
    std::string flags;
    for (size_t at = 0; at < out.size(); at = out.find('\n', at) + 1) {
        flags += out[at];
        if (out.find('\n', at) == std::string::npos)
            break;
    }
    return flags;
}

TEST(AviWriterTest, QualityKeyFramesAndDataRateReachTheEncoder) {
    TempDir dir;
    const auto best = EncodeWith(dir / "q10000.avi", "MJPG", 10000, 0, 0, 4);
    const auto worst = EncodeWith(dir / "q0.avi", "MJPG", 0, 0, 0, 4);
    EXPECT_GT(best.size(), worst.size() * 3 / 2);

    EncodeWith(dir / "key3.avi", "FMP4", 10000, 3, 0, 7);
    EXPECT_EQ(KeyFlags(dir / "key3.avi"), "K__K__K");
    EncodeWith(dir / "key0.avi", "FMP4", 10000, 0, 0, 7);
    EXPECT_EQ(KeyFlags(dir / "key0.avi"), "K______");

    // A data rate replaces the quality: below what quality 10000 takes.
    const auto unlimited = EncodeWith(dir / "rate0.avi", "MJPG", 10000, 0, 0, 10);
    const auto limited = EncodeWith(dir / "rate8.avi", "MJPG", 10000, 0, 8, 10);
    EXPECT_LT(limited.size(), unlimited.size() * 9 / 10);
}

} // namespace
} // namespace vexo
