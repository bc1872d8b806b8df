// The writer's Matroska and MP4 files, read back by FFmpeg: every compressor with every sound
// each container takes, lossless frames, refused compressors, a writer that dies.
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
    media::SoundsOf;

namespace {

using test::Choose;
using test::RunCommand;
using test::TempDir;
using test::TestPicture;

constexpr int kRate = 22050, kFps = 25; // 16-bit stereo sound, as the engine's

// Writes `frames` frames and, with sound, each frame's worth of a tone after it, as the
// engine's sound arrives; false when the writer refused any of it.
bool WriteVideo(CAviFile& writer, int frames, bool sound) {
    if (sound && !writer.AddSound(kRate, 2, 16))
        return false;
    std::string pcm;
    for (int i = 0; i < kRate / kFps * 4; ++i)
        pcm.push_back(static_cast<char>(i % 7 * 30)); // no silence: lost samples show
    for (int n = 0; n < frames; ++n) {
        const test::OwnedImage picture = TestPicture(96, 64, 3, n);
        if (!writer.WriteFrame(&picture.image, n) ||
            (sound && !writer.WriteSound(reinterpret_cast<const uint8_t*>(pcm.data()),
                                         static_cast<int32_t>(pcm.size()))))
            return false;
    }
    return true;
}

int64_t DecodedSamples(const std::string& path) {
    const std::string pcm = RunCommand("ffmpeg -nostdin -v error -i '" + path +
                                       "' -map 0:a -f s16le -ac 2 -ar 22050 - 2>/dev/null");
    return static_cast<int64_t>(pcm.size()) / 4;
}

TEST(ContainerTest, EveryCompressorAndSoundReadsBackWithItsFramesAndLength) {
    for (Container container : {Container::Matroska, Container::Mp4})
        for (const CompressorInfo& info : ICEnumerateCompressors(container))
            for (SoundCodec sound : SoundsOf(container)) {
                SCOPED_TRACE(ContainerName(container) + " " + FourCCToString(info.fourcc) + " " +
                             media::SoundKey(sound));
                TempDir dir;
                const std::string path = dir / ("out" + ContainerExtension(container));
                CAviFile writer;
                Choose(writer, info.fourcc);
                ASSERT_TRUE(writer.Open(path, 640, 480, kFps, 1, OutputFormat{container, sound}));
                ASSERT_TRUE(WriteVideo(writer, 30, true));
                writer.Close(0);
                EXPECT_EQ(test::ProbeStream(path)["nb_read_frames"], "30");
                // Matroska keeps times in milliseconds.
                EXPECT_NEAR(std::atof(RunCommand("ffprobe -v error -show_entries format=duration "
                                                 "-of csv=p=0 '" +
                                                 path + "'")
                                          .c_str()),
                            1.2, 0.0011);
                // The sound is as long as the picture; FFmpeg decodes AAC's last frame whole
                // where the MP4 file's edit list ends it earlier.
                const int64_t samples = DecodedSamples(path);
                EXPECT_GE(samples, 30 * kRate / kFps);
                EXPECT_LT(samples, 30 * kRate / kFps + (sound == SoundCodec::Aac ? 1024 : 1));
                // A completed MP4 is an ordinary one with its index first, for web players.
                std::string bytes;
                platform::ReadFileText(path, bytes);
                if (container == Container::Mp4) {
                    EXPECT_LT(bytes.find("moov"), bytes.find("mdat"));
                    EXPECT_EQ(bytes.find("moof"), std::string::npos);
                }
                EXPECT_FALSE(platform::PathExists(path + ".repairing"));
            }
}

// Lossless frames decode to the very pixels in Matroska as in AVI; a container refuses a
// compressor it cannot hold, and no file is left.
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
            expected += test::Upright(TestPicture(96, 64, 3, n).image, false);
        EXPECT_TRUE(test::DecodeFrames(path, "rgb24") == expected) << "the frames differ";
    }
    for (const auto& [container, code] :
         {std::pair{Container::Matroska, media::kDefaultFourCC},
          std::pair{Container::Mp4, test::kFfv1},
          std::pair{Container::Avi, media::MakeFourCC('A', 'V', '0', '1')}}) {
        TempDir dir;
        const std::string path = dir / ("refused" + ContainerExtension(container));
        CAviFile writer;
        Choose(writer, code);
        EXPECT_FALSE(writer.Open(path, 640, 480, kFps, 1, OutputFormat{container}));
        EXPECT_EQ(writer.LastError, AVI_CREATE_COMPRESSED);
        EXPECT_FALSE(platform::PathExists(path));
    }
}

// A writer killed mid-file leaves every frame it reported written readable, with the sound
// before it: each frame goes out as a cluster or fragment of its own.
TEST(ContainerTest, AKilledWriterLeavesAReadableFile) {
    for (Container container : {Container::Matroska, Container::Mp4})
        for (const CompressorInfo& info : ICEnumerateCompressors(container)) {
            SCOPED_TRACE(ContainerName(container) + " " + FourCCToString(info.fourcc));
            TempDir dir;
            const std::string path = dir / ("killed" + ContainerExtension(container));
            const pid_t child = ::fork();
            ASSERT_GE(child, 0);
            if (child == 0) {
                CAviFile writer;
                Choose(writer, info.fourcc);
                if (writer.Open(path, 640, 480, kFps, 1,
                                OutputFormat{container, SoundsOf(container).back()}) &&
                    WriteVideo(writer, 10, true))
                    ::raise(SIGKILL);
                ::_exit(1);
            }
            int status = 0;
            ASSERT_EQ(::waitpid(child, &status, 0), child);
            ASSERT_TRUE(WIFSIGNALED(status) && WTERMSIG(status) == SIGKILL);
            EXPECT_EQ(test::ProbeStream(path)["nb_read_frames"], "10");
            // Less what the sound's encoder still held and what waited for the next frame's
            // cluster or fragment: at most four AAC frames.
            EXPECT_GE(DecodedSamples(path), 10 * kRate / kFps - 4096);
        }
}

} // namespace
} // namespace vexo
