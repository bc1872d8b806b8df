// The failure log: where it lies, that it stays small, and that a failure in each place
// leaves its cause there.
#include <gtest/gtest.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <sys/stat.h>

#include "fault_fixture.h"
#include "game/game_script.h"
#include "media/vfw.h"
#include "platform/log.h"

extern "C" {
#include <libavutil/error.h>
}

namespace vexo::faults {

using media::ICMF_COMPVARS_VALID, media::ICMODE_COMPRESS, media::ICOpen, media::ICSetOption,
    media::ICTYPE_VIDEO, media::MakeFourCC;
namespace {

// Every test logs into a state folder of its own.
class FailureLogTest : public ::testing::Test {
protected:
    FailureLogTest() { ::setenv("XDG_STATE_HOME", state.path().c_str(), 1); }
    ~FailureLogTest() override { ::unsetenv("XDG_STATE_HOME"); }
    std::string Log() const { return test::ReadFile(state / "vexograph/vexograph.log"); }
    bool Logged(const std::string& text) const { return Log().find(text) != std::string::npos; }

    TempDir state;
    TempDir dir;
};

TEST_F(FailureLogTest, LinesGoToTheStateFolderAndTheFileStaysSmall) {
    platform::LogFailure("test", "two\nlines");
    EXPECT_TRUE(Logged("] test: two lines\n")) << Log();

    // A relative XDG_STATE_HOME is no state folder: the one below home is used.
    const std::string home = std::getenv("HOME") ? std::getenv("HOME") : "";
    ::setenv("XDG_STATE_HOME", "relative", 1);
    ::setenv("HOME", dir.path().c_str(), 1);
    platform::LogFailure("test", "below home");
    const std::string belowHome = test::ReadFile(dir / ".local/state/vexograph/vexograph.log");
    ::setenv("HOME", home.c_str(), 1);
    ::setenv("XDG_STATE_HOME", state.path().c_str(), 1);
    EXPECT_NE(belowHome.find("test: below home"), std::string::npos);

    // 2.5 MB of lines: the newest in vexograph.log, those before in vexograph.log.1, each
    // at most 1 MB, and no third file.
    const std::string filler(1000, 'x');
    platform::SetLogToStandardError(false);
    for (int i = 0; i < 2500; ++i)
        platform::LogFailure("test", std::to_string(i) + " " + filler);
    platform::SetLogToStandardError(true);
    const std::string folder = state / "vexograph";
    EXPECT_LE(fs::file_size(folder + "/vexograph.log"), 1u << 20);
    EXPECT_LE(fs::file_size(folder + "/vexograph.log.1"), 1u << 20);
    EXPECT_EQ(std::distance(fs::directory_iterator(folder), fs::directory_iterator()), 2);
    EXPECT_TRUE(Logged("test: 2499 x"));
    const std::string older = test::ReadFile(folder + "/vexograph.log.1");
    EXPECT_EQ(older.find("test: 2499 x"), std::string::npos);
    EXPECT_NE(older.find("test: 1500 x"), std::string::npos);
}

TEST_F(FailureLogTest, OutputFileThatCannotBeCreatedLogsPathAndSystemError) {
    CAviFile writer;
    const std::string avi = dir / "missing/out.avi";
    ASSERT_FALSE(writer.Open(avi, 640, 480, 25, 1));
    EXPECT_TRUE(Logged("avi: cannot create " + avi + ": " + std::strerror(ENOENT))) << Log();
}

TEST_F(FailureLogTest, CompressorThatCannotBeOpenedLogsFfmpegsError) {
    // FFV1 cannot split a 4x4 frame into 24 slices.
    CAviFile writer;
    writer.CodecVars.dwFlags = ICMF_COMPVARS_VALID;
    writer.CodecVars.fccType = ICTYPE_VIDEO;
    writer.CodecVars.fccHandler = MakeFourCC('F', 'F', 'V', '1');
    writer.CodecVars.hic = ICOpen(ICTYPE_VIDEO, writer.CodecVars.fccHandler, ICMODE_COMPRESS);
    ASSERT_TRUE(ICSetOption(writer.CodecVars.hic, "slices", 6));
    ASSERT_TRUE(writer.Open(dir / "out.avi", 4, 4, 25, 1));
    std::vector<unsigned char> pixels(4 * 4 * 3, 128);
    TgaImage image{3, 4, 4, 48, pixels.data()};
    EXPECT_FALSE(writer.WriteFrame(&image, 0));

    char error[AV_ERROR_MAX_STRING_SIZE];
    av_strerror(AVERROR(ENOSYS), error, sizeof error);
    EXPECT_TRUE(Logged("avi: cannot open the encoder ffv1 for 4x4 ")) << Log();
    EXPECT_TRUE(Logged(std::string(" frames: ") + error + "\n")) << Log();
    // FFmpeg's own message says what it refused.
    EXPECT_TRUE(Logged("ffmpeg: ffv1: ")) << Log();
}

TEST_F(FailureLogTest, ScreenshotThatCannotBeReadLogsPathAndWhy) {
    // A TGA header of 8 bits a pixel, which no screenshot has; the encoder prints the cause
    // under its error.
    std::string shot(18, '\0');
    shot[2] = 2;
    shot[12] = shot[14] = 4;
    shot[16] = 8;
    test::WriteFile(dir / "shots/shot0001.tga", shot + std::string(64, '\0'));
    const ChildResult r = RunChild({VEXO_ENCODE, "--interval", "0", dir / "shots", dir / "out.avi"},
                                   0, {"XDG_STATE_HOME=" + state.path()});
    EXPECT_EQ(r.exitCode, 1) << r.err;
    const std::string cause = "collector: cannot read the screenshot " +
                              (dir / "shots/shot0001.tga") +
                              ": Image uses an unsupported color depth.";
    EXPECT_NE(r.err.find("Error: Error reading a generated TGA file.\n  " + cause + "\n"),
              std::string::npos)
        << r.err;
    EXPECT_TRUE(Logged(cause)) << Log();
}

TEST_F(FailureLogTest, GameThatCannotBeStartedLogsPathAndSystemError) {
    const std::string exe = dir / "quake3.exe";
    test::WriteFile(exe, "not a program");
    ::chmod(exe.c_str(), 0644);
    RunPaths paths;
    paths.BaseDir = dir.path();
    EXPECT_FALSE(LaunchGame(exe + " +set fs_game baseq3", paths, {}));
    EXPECT_TRUE(Logged("game: cannot start the game in " + dir.path() + ": Cannot start " + exe +
                       ": " + std::strerror(EACCES)))
        << Log();
}

} // namespace
} // namespace vexo::faults
