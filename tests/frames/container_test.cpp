// The writer's Matroska and MP4 files: every compressor each container holds, with every sound
// it takes, read back by FFmpeg with the frames and the length written; lossless frames decode
// to the very pixels; a writer that dies leaves a file readable up to its last frame; a
// completed MP4 has its index at the front.
#include <gtest/gtest.h>

#include <csignal>
#include <cstdlib>
#include <string>
#include <sys/wait.h>
#include <unistd.h>

#include "avi_support.h"
#include "frames/avi_file.h"
#include "platform/fs.h"
#include "support/temp_dir.h"

namespace vexo {

using media::CompressorInfo, media::Container, media::ContainerExtension, media::ContainerName,
    media::FourCCToString, media::ICEnumerateCompressors, media::OutputFormat, media::SoundCodec,
    media::SoundKey, media::SoundsOf;

namespace {

using test::Choose;
using test::DecodeFrames;
using test::OwnedImage;
using test::ProbeStream;
using test::RunCommand;
using test::TempDir;
using test::TestPicture;
using test::Upright;

constexpr int kRate = 22050; // the engine's sound: 16-bit stereo
constexpr int kFps = 25;
constexpr int kWidth = 96, kHeight = 64;

// A sound that is no silence, so that lost or added samples show.
std::string Tone(int64_t first, int samples) {
    std::string pcm;
    for (int64_t i = first; i < first + samples; ++i) {
        const auto v = static_cast<int16_t>(((i * 97) % 400 - 200) * 40);
        for (int channel = 0; channel < 2; ++channel) {
            pcm.push_back(static_cast<char>(v & 0xFF));
            pcm.push_back(static_cast<char>((v >> 8) & 0xFF));
        }
    }
    return pcm;
}

// Writes `frames` frames of the test picture with as much sound as they last (handed over as
// the engine's arrives, after each frame); false when the writer refused any of it.
bool WriteVideo(CAviFile& writer, int frames, bool sound) {
    if (sound && !writer.AddSound(kRate, 2, 16))
        return false;
    int64_t samples = 0;
    for (int n = 0; n < frames; ++n) {
        const OwnedImage picture = TestPicture(kWidth, kHeight, 3, n);
        if (!writer.WriteFrame(&picture.image, n))
            return false;
        const int64_t upTo = static_cast<int64_t>(n + 1) * kRate / kFps;
        const std::string pcm = Tone(samples, static_cast<int>(upTo - samples));
        samples = upTo;
        if (sound && !writer.WriteSound(reinterpret_cast<const uint8_t*>(pcm.data()),
                                        static_cast<int32_t>(pcm.size())))
            return false;
    }
    return true;
}

// The samples the file's sound decodes to, at the engine's rate.
int64_t DecodedSamples(const std::string& path) {
    return static_cast<int64_t>(RunCommand("ffmpeg -nostdin -v error -i '" + path +
                                           "' -map 0:a -f s16le -ac 2 -ar " +
                                           std::to_string(kRate) + " - 2>/dev/null")
                                    .size()) /
           4;
}

// The file's length in seconds as FFmpeg reads it.
// The names of an MP4 file's top-level boxes, in their order.
std::string TopLevelBoxes(const std::string& path) {
    std::string file;
    platform::ReadFileText(path, file);
    std::string names;
    for (size_t at = 0; at + 8 <= file.size();) {
        uint64_t size = 0;
        for (int i = 0; i < 4; ++i)
            size = size << 8 | static_cast<uint8_t>(file[at + i]);
        if (size == 1 && at + 16 <= file.size())
            for (int i = 8; i < 16; ++i)
                size = size << 8 | static_cast<uint8_t>(file[at + i]);
        names += file.substr(at + 4, 4) + " ";
        if (size < 8)
            break;
        at += size;
    }
    return names;
}

double Duration(const std::string& path) {
    return std::atof(RunCommand("ffprobe -v error -show_entries format=duration -of csv=p=0 '" +
                                path + "' 2>/dev/null")
                         .c_str());
}

TEST(ContainerTest, EveryCompressorAndSoundReadsBackWithItsFramesAndLength) {
    for (Container container : {Container::Matroska, Container::Mp4}) {
        for (const CompressorInfo& info : ICEnumerateCompressors(container)) {
            for (SoundCodec sound : SoundsOf(container)) {
                SCOPED_TRACE(ContainerName(container) + " " + FourCCToString(info.fourcc) + " " +
                             SoundKey(sound));
                TempDir dir;
                const std::string path = dir / ("out" + ContainerExtension(container));
                CAviFile writer;
                Choose(writer, info.fourcc);
                ASSERT_TRUE(writer.Open(path, 640, 480, kFps, 1, OutputFormat{container, sound}));
                ASSERT_TRUE(WriteVideo(writer, 30, true));
                writer.Close(0);
                EXPECT_EQ(ProbeStream(path)["nb_read_frames"], "30");
                // Matroska keeps times in milliseconds.
                EXPECT_NEAR(Duration(path), 1.2, 0.0011);
                // The sound is as long as the picture. FFmpeg plays AAC's last frame whole
                // where the edit list of the MP4 file ends it earlier.
                const int64_t samples = DecodedSamples(path);
                EXPECT_GE(samples, 30 * kRate / kFps);
                EXPECT_LT(samples, 30 * kRate / kFps + (sound == SoundCodec::Aac ? 1024 : 1));
                // A completed MP4 file is an ordinary one with its index first, as a web
                // page's player reads it before the frames arrive.
                if (container == Container::Mp4) {
                    EXPECT_EQ(TopLevelBoxes(path), "ftyp moov free mdat ");
                }
                EXPECT_FALSE(platform::PathExists(path + ".repairing"));
            }
        }
    }
}

// Frames the compressors store without loss decode to the very pixels in Matroska as in AVI;
// a container refuses a compressor it cannot hold, and no file is left.
TEST(ContainerTest, LosslessStaysLosslessAndUnheldCompressorsAreRefused) {
    for (const CompressorInfo& info : ICEnumerateCompressors(Container::Matroska)) {
        if (info.hasQuality)
            continue; // the lossy ones
        SCOPED_TRACE(FourCCToString(info.fourcc));
        TempDir dir;
        const std::string path = dir / "lossless.mkv";
        CAviFile writer;
        Choose(writer, info.fourcc);
        ASSERT_TRUE(writer.Open(path, 640, 480, kFps, 1, OutputFormat{Container::Matroska}));
        ASSERT_TRUE(WriteVideo(writer, 3, false));
        writer.Close(0);
        std::string expected;
        for (int n = 0; n < 3; ++n)
            expected += Upright(TestPicture(kWidth, kHeight, 3, n).image, false);
        EXPECT_TRUE(DecodeFrames(path, "rgb24") == expected) << "the frames differ";
    }
    for (const auto& [container, code] :
         {std::pair{Container::Matroska, media::kDefaultFourCC},
          std::pair{Container::Mp4, test::kHuffyuv}, std::pair{Container::Mp4, test::kFfv1},
          std::pair{Container::Avi, media::MakeFourCC('H', 'E', 'V', 'C')}}) {
        SCOPED_TRACE(ContainerName(container) + " " + FourCCToString(code));
        TempDir dir;
        const std::string path = dir / ("refused" + ContainerExtension(container));
        CAviFile writer;
        Choose(writer, code);
        EXPECT_FALSE(writer.Open(path, 640, 480, kFps, 1, OutputFormat{container}));
        EXPECT_EQ(writer.LastError, AVI_CREATE_COMPRESSED);
        EXPECT_FALSE(platform::PathExists(path));
    }
}

// A writer killed mid-file leaves every frame it reported written, and the sound before it,
// readable: each frame goes out as a cluster or fragment of its own.
TEST(ContainerTest, AKilledWriterLeavesAReadableFile) {
    for (Container container : {Container::Matroska, Container::Mp4}) {
        for (const CompressorInfo& info : ICEnumerateCompressors(container)) {
            const SoundCodec sound = SoundsOf(container).back();
            SCOPED_TRACE(ContainerName(container) + " " + FourCCToString(info.fourcc));
            TempDir dir;
            const std::string path = dir / ("killed" + ContainerExtension(container));
            const pid_t child = ::fork();
            ASSERT_GE(child, 0);
            if (child == 0) {
                CAviFile writer;
                Choose(writer, info.fourcc);
                if (!writer.Open(path, 640, 480, kFps, 1, OutputFormat{container, sound}) ||
                    !WriteVideo(writer, 10, true))
                    ::_exit(1);
                ::raise(SIGKILL);
            }
            int status = 0;
            ASSERT_EQ(::waitpid(child, &status, 0), child);
            ASSERT_TRUE(WIFSIGNALED(status) && WTERMSIG(status) == SIGKILL);
            EXPECT_EQ(ProbeStream(path)["nb_read_frames"], "10");
            // The sound is there up to what the encoder still held and what waited for the
            // next frame's cluster or fragment: at most four AAC frames.
            EXPECT_GE(DecodedSamples(path), 10 * kRate / kFps - 4096);
        }
    }
}

} // namespace
} // namespace vexo
