// A whole recording run without a window: a request of plain values, the stand-in game, and
// an observer that writes down what it is told.
#include <gtest/gtest.h>

#include <filesystem>

#include "frames/avi_file.h"
#include "run/run_driver.h"
#include "support/temp_dir.h"

namespace vexo {

using media::COMPVARS, media::FOURCC_DIB, media::ICMF_COMPVARS_VALID, media::kCompVarsSize;

namespace {

namespace fs = std::filesystem;
using test::WriteFile;

struct RecordingObserver : RunObserver {
    void Status(const std::string& text) override { statuses.push_back(text); }
    void Title(const std::string&) override {}
    void Progress(const FrameProgress& p) override { lastProgress = p; }
    bool Ask(const std::string& text, const std::string&) override {
        failures.push_back(text);
        return false;
    }
    void Failure(const std::string& text) override { failures.push_back(text); }
    void OpenFolder(const std::string&) override {}
    void RunStarts() override { ++starts; }
    void RunEnds() override { ++ends; }
    void DemoRecorded(const RunDemo& demo) override { recorded.push_back(demo.Item); }
    void DemoFinished(const DemoReport& report) override { reports.push_back(report); }
    void Pump() override {}

    std::vector<std::string> statuses, failures, recorded;
    std::vector<DemoReport> reports;
    FrameProgress lastProgress;
    int starts = 0, ends = 0;
};

TEST(RunRequestTest, TwoDemosOneFailingRecordWithoutAWindow) {
    test::TempDir game, program, out;
    const std::string mod = game / "baseq3";
    fs::create_directories(mod + "/demos");
    fs::copy_file(VEXO_STAND_IN_GAME, game / "quake3.exe");
    WriteFile(mod + "/pak0.pk3", "pak");
    WriteFile(mod + "/demos/alpha.dm_68", "error \"couldn't open demos/alpha.dm_66\"\n");
    WriteFile(mod + "/demos/bravo.dm_68", "length 0.4\n");
    WriteFile(program / "configs/run.cfg", "set vexo_nopace 1\nset nextdemo quit\n");

    RunRequest request;
    request.BaseDir = game.path();
    request.ModName = "baseq3";
    request.ConfigItem = "run.cfg";
    request.ConfigChosen = true;
    request.ProgramDir = program.path() + "/";
    request.Capture.ModeIndex = 0;
    request.Capture.CaptureRate = "25";
    request.Capture.TimeScale = "1.0";
    request.AviRate = "25";
    request.OutDir = out.path();
    request.LoadCodec = [](COMPVARS* vars) { // uncompressed frames
        *vars = COMPVARS{};
        vars->cbSize = kCompVarsSize;
        vars->dwFlags = ICMF_COMPVARS_VALID;
        vars->fccHandler = FOURCC_DIB;
        vars->lQ = 10000;
        return true;
    };
    request.Demos = {{"alpha.dm_68", 0}, {"bravo.dm_68", 1}};

    RecordingObserver observer;
    CAviFile writer;
    RunRecording(request, observer, writer);

    EXPECT_EQ(observer.starts, 1);
    EXPECT_EQ(observer.ends, 1);
    EXPECT_EQ(observer.statuses.back(), "Failed.");
    EXPECT_EQ(observer.recorded, std::vector<std::string>{"bravo.dm_68"});
    const std::string reason = EngineErrorText("alpha.dm_68", "couldn't open demos/alpha.dm_66");
    EXPECT_EQ(observer.failures, std::vector<std::string>{FailedDemosText({reason})});
    ASSERT_EQ(observer.reports.size(), 2u);
    EXPECT_FALSE(observer.reports[0].Recorded);
    EXPECT_EQ(observer.reports[0].Reason, reason);
    EXPECT_EQ(observer.reports[0].Video, "");
    EXPECT_TRUE(observer.reports[1].Recorded);
    EXPECT_EQ(observer.reports[1].Video, out / "baseq3_bravo.avi");
    EXPECT_EQ(observer.reports[1].Frames, 10);
    EXPECT_DOUBLE_EQ(observer.reports[1].VideoSeconds, 0.4);
    EXPECT_TRUE(fs::exists(out / "baseq3_bravo.avi"));
    EXPECT_EQ(observer.lastProgress.framesWritten, 10);
    EXPECT_FALSE(fs::exists(mod + "/vexo_temp.cfg"));
}

} // namespace
} // namespace vexo
