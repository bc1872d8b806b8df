// The AVI writer when it cannot finish: a writer killed mid-file, a write that fails. What
// it wrote stays a file FFmpeg's own ffmpeg and ffprobe read.
#include <gtest/gtest.h>

#include <csignal>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include "avi_support.h"
#include "frames/avi_file.h"
#include "support/temp_dir.h"

namespace vexo {

using media::CompressorInfo, media::FOURCC, media::FourCCToString, media::ICEnumerateCompressors,
    media::kDefaultFourCC;

namespace {

using test::Choose;
using test::DecodeFrames;
using test::kHuffyuv;
using test::OwnedImage;
using test::ProbeStream;
using test::TempDir;
using test::TestPicture;
using test::Upright;

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
