// The AVI writer, checked through FFmpeg's own ffmpeg and ffprobe as independent readers.
#include <gtest/gtest.h>

#include <cstring>
#include <thread>
#include <vector>

#include "avi_support.h"
#include "frames/avi_file.h"
#include "frames/gamma.h"
#include "support/temp_dir.h"

namespace vexo {

using media::COMPVARS, media::FOURCC, media::FourCCToString, media::ICIsUncompressed,
    media::MakeFourCC, media::kDefaultFourCC;

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

} // namespace
} // namespace vexo
