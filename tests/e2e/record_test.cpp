// vexo-record with the stand-in game: a batch on a machine without a display, a demo that
// fails among others, Ctrl-C in the middle of a demo, --jobs with the original game, and
// what it says to bad usage.
#include <gtest/gtest.h>

#include <chrono>
#include <filesystem>
#include <thread>

#include "support/recorder.h"

namespace vexo {
namespace {

namespace fs = std::filesystem;
using test::Recorder;
using test::WriteFile;

class RecordTest : public ::testing::Test {
protected:
    RecordTest() {
        test::LayOutStandInGame(VEXO_STAND_IN_GAME, base, mod);
        fs::create_directories(out);
    }
    bool NoTemporaryConfig() const {
        for (const auto& entry : fs::directory_iterator(mod))
            if (entry.path().filename().string().rfind("vexo_temp", 0) == 0)
                return false;
        return true;
    }

    test::TempDir root;
    std::string base = root / "Quake III Arena";
    std::string mod = base + "/baseq3";
    std::string out = root / "videos";
    Recorder recorder{base, out, "set vexo_nopace 1\n"};
};

TEST_F(RecordTest, ABatchWithoutDisplayRecordsAllButTheDemoTheGameCannotPlay) {
    WriteFile(mod + "/demos/broken.dm_68", "error \"Demo file was recorded with an unknown "
                                           "protocol\"\n");
    ASSERT_EQ(recorder.Run({"--all", "--json", "--resolution", "320x240", "--fps", "25"}), 1)
        << recorder.Errors();
    const auto reports = recorder.Reports();
    ASSERT_EQ(reports.size(), 4u) << recorder.Output();
    for (const char* demo : {"alpha", "bravo", "charlie"}) {
        const test::JsonReport& r = reports.at(std::string(demo) + ".dm_68");
        EXPECT_EQ(r.result, "recorded");
        EXPECT_EQ(r.video, out + "/baseq3_" + demo + ".avi");
        EXPECT_EQ(r.frames, 10);
        EXPECT_EQ(test::VideoFrames(r.video), 10);
        EXPECT_EQ(r.reason, "");
    }
    const test::JsonReport& broken = reports.at("broken.dm_68");
    EXPECT_EQ(broken.result, "failed");
    EXPECT_EQ(broken.video, "");
    EXPECT_EQ(broken.reason, "The game could not play the demo \"broken.dm_68\": \"Demo file was "
                             "recorded with an unknown protocol\".");
    const std::string errors = recorder.Errors();
    EXPECT_NE(errors.find("No display: the game runs on the virtual display :"), std::string::npos)
        << errors;
    EXPECT_FALSE(test::DisplayRuns(errors));
    EXPECT_NE(errors.find("Recorded 3 of 4 demos."), std::string::npos);
    EXPECT_TRUE(NoTemporaryConfig());
}

TEST_F(RecordTest, CtrlCEndsTheGameKeepsWhatWasRecordedAndExits130) {
    WriteFile(recorder.program / "configs/default.cfg", ""); // frames in real time
    WriteFile(mod + "/demos/long.dm_68", "length 60\n");
    const pid_t pid = recorder.Start(
        {"long", "alpha", "--realtime", "--resolution", "0", "--fps", "25", "--json"});
    const std::string recording = out + "/baseq3_long (recording).avi";
    const auto until = std::chrono::steady_clock::now() + std::chrono::seconds(30);
    while (!(fs::exists(recording) && fs::file_size(recording) > 200000) &&
           std::chrono::steady_clock::now() < until)
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
    ASSERT_TRUE(fs::exists(recording));
    test::ExpectCtrlCStops(recorder, pid, "long.dm_68", "alpha.dm_68",
                           out + "/baseq3_long (failed).avi");
    EXPECT_FALSE(fs::exists(out + "/baseq3_alpha.avi"));
    EXPECT_FALSE(fs::exists(recording));
    EXPECT_TRUE(NoTemporaryConfig());
}

TEST_F(RecordTest, TheOriginalGameRecordsOneAtATimeAndADemoFileIsPlayedFromTheDemosFolder) {
    WriteFile(root / "elsewhere/delta.dm_68", "length 0.4\n");
    ASSERT_EQ(recorder.Run({"--jobs", "2", "alpha", root / "elsewhere/delta.dm_68", "--resolution",
                            "0", "--fps", "25"}),
              0)
        << recorder.Errors();
    EXPECT_NE(recorder.Output().find("the demos are recorded one at a time"), std::string::npos);
    EXPECT_EQ(test::VideoFrames(out + "/baseq3_alpha.avi"), 10);
    EXPECT_EQ(test::VideoFrames(out + "/baseq3_delta.avi"), 10);
    // The copy the game played is gone again; the file itself stays.
    EXPECT_FALSE(fs::exists(mod + "/demos/delta.dm_68"));
    EXPECT_TRUE(fs::exists(root / "elsewhere/delta.dm_68"));
}

// The container and sound as flags: the video gets the container's extension.
TEST_F(RecordTest, TheContainerIsAFlag) {
    ASSERT_EQ(recorder.Run({"--container", "mkv", "--codec", "HEVC", "--fps", "25", "alpha"}), 0)
        << recorder.Errors();
    EXPECT_EQ(test::VideoFrames(out + "/baseq3_alpha.mkv"), 10);
}

TEST_F(RecordTest, BadUsageAndSettingsExitWith2AndSayWhat) {
    const std::vector<std::pair<std::vector<std::string>, std::string>> cases = {
        {{"--fps", "0", "alpha"}, "--fps takes a whole number from 1 to 100"},
        {{"--mod", "cpma", "alpha"}, "has no modification \"cpma\"; it has baseq3"},
        {{"zulu"}, "there is no demo \"zulu\" in baseq3's demos"},
        {{"--codec", "nothing", "alpha"}, "no compressor is called \"nothing\""},
        {{"--container", "webm", "alpha"}, "--container takes avi, mkv or mp4"},
        {{"--container", "mp4", "--sound", "pcm", "alpha"}, "they take aac"},
        {{"--container", "mp4", "--codec", "HFYU", "alpha"}, "cannot be stored in an MP4 file"},
        {{"--game", root / "nowhere", "alpha"}, "there is no game in"},
        {{}, "no demo to record"},
    };
    for (const auto& [args, text] : cases) {
        EXPECT_EQ(recorder.Run(args), 2) << text;
        EXPECT_NE(recorder.Errors().find(text), std::string::npos) << recorder.Errors();
    }
    ASSERT_EQ(recorder.Run({"--list-compressors"}), 0);
    EXPECT_NE(recorder.Output().find("HFYU  Huffyuv lossless codec"), std::string::npos);
    ASSERT_EQ(recorder.Run({"--list-demos"}), 0);
    EXPECT_NE(recorder.Output().find("bravo.dm_68\n"), std::string::npos);
    ASSERT_EQ(recorder.Run({"--help"}), 0);
    EXPECT_NE(recorder.Output().find("--list-compressors"), std::string::npos);
}

} // namespace
} // namespace vexo
