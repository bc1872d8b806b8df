// vexo-record with the real engine (ioquake3 with OpenArena's data), on a machine without a
// display as a job runner has it: two demos at a time with one that fails, Ctrl-C in the
// middle of a long demo, and GNU parallel running one recorder per demo.
#include <gtest/gtest.h>

#include <chrono>
#include <filesystem>
#include <set>
#include <thread>

#include "support/real_engine.h"
#include "support/recorder.h"

namespace vexo {
namespace {

namespace fs = std::filesystem;
using test::Recorder;

class RecordRealEngineTest : public ::testing::Test {
protected:
    void SetUp() override {
        if (!test::RealEngineInstalled())
            GTEST_SKIP() << "ioquake3 and openarena are not installed";
        fs::create_directories(out);
        for (const char* name : {"short2", "short3", "short4"})
            fs::copy_file(mod + "/demos/short.dm_71", mod + "/demos/" + name + ".dm_71");
        test::WriteFile(mod + "/q3config.cfg", kPlayerConfig);
    }
    // What the recordings leave in the game's folder: nothing of their own, the player's
    // config as it was.
    void ExpectGameLeftAsItWas() const {
        for (const auto& entry : fs::recursive_directory_iterator(mod)) {
            const std::string name = entry.path().filename().string();
            EXPECT_NE(name.rfind("vexo_", 0), 0u) << entry.path();
        }
        EXPECT_EQ(test::ReadFile(mod + "/q3config.cfg"), kPlayerConfig);
    }
    void ExpectRecorded(const test::JsonReport& r, const std::string& demo) const {
        EXPECT_EQ(r.result, "recorded") << r.reason;
        EXPECT_EQ(r.video, out + "/baseoa_" + demo + ".avi");
        EXPECT_GT(r.frames, 150);
        EXPECT_EQ(test::VideoFrames(r.video), r.frames);
        EXPECT_TRUE(r.sound);
    }

    static constexpr const char* kPlayerConfig = "seta r_mode \"6\"\nseta cg_drawGun \"0\"\n";
    test::TempDir root;
    std::string base = test::LayOutOpenArena(root);
    std::string mod = base + "/baseoa";
    std::string out = root / "videos";
    Recorder recorder{base, out, test::ReadFile(VEXO_DEFAULT_CONFIG)};
};

TEST_F(RecordRealEngineTest, TwoJobsWithoutDisplayRecordTheDemosAndNameTheOneThatFails) {
    // The demo that fails ends first: the next one starts while the other game writes its
    // settings into the player's config.
    ASSERT_EQ(recorder.Run(
                  {"flyby_compromise.dm_70", "short", "short2", "short3", "--jobs", "2", "--json"}),
              1)
        << recorder.Errors();
    const auto reports = recorder.Reports();
    ASSERT_EQ(reports.size(), 4u) << recorder.Output();
    for (const char* demo : {"short", "short2", "short3"})
        ExpectRecorded(reports.at(std::string(demo) + ".dm_71"), demo);
    const test::JsonReport& failed = reports.at("flyby_compromise.dm_70");
    EXPECT_EQ(failed.result, "failed");
    EXPECT_NE(failed.reason.find("couldn't open demos/flyby_compromise.dm_66"), std::string::npos)
        << failed.reason;
    // Each game had a display of its own, and none is left running.
    const std::string errors = recorder.Errors();
    std::set<std::string> displays;
    for (size_t at = 0; (at = errors.find("virtual display :", at)) != std::string::npos; ++at)
        displays.insert(errors.substr(at + 16, errors.find('.', at) - at - 16));
    EXPECT_GE(displays.size(), 2u) << errors;
    for (const std::string& display : displays)
        EXPECT_FALSE(fs::exists("/tmp/.X11-unix/X" + display.substr(1))) << display;
    ExpectGameLeftAsItWas();
}

TEST_F(RecordRealEngineTest, CtrlCInTheMiddleOfADemoKeepsItsFramesAndExits130) {
    // OpenArena's own test demo, packed in its pk3 files, plays for about three minutes.
    const pid_t pid = recorder.Start({"demo088-test1", "short", "--realtime", "--json"});
    const std::string recording = out + "/baseoa_demo088-test1 (recording).avi";
    const auto until = std::chrono::steady_clock::now() + std::chrono::seconds(120);
    while (!(fs::exists(recording) && fs::file_size(recording) > 20'000'000) &&
           std::chrono::steady_clock::now() < until)
        std::this_thread::sleep_for(std::chrono::milliseconds(100));
    ASSERT_TRUE(fs::exists(recording)) << recorder.Errors();
    test::ExpectCtrlCStops(recorder, pid, "demo088-test1.dm_71", "short.dm_71",
                           out + "/baseoa_demo088-test1 (failed).avi");
    EXPECT_FALSE(fs::exists(recording));
    ExpectGameLeftAsItWas();
}

TEST_F(RecordRealEngineTest, GnuParallelRunsOneRecorderPerDemoTwoAtATime) {
    const std::string command =
        "cd '" + recorder.program.path() + "' && env -u DISPLAY XDG_STATE_HOME='" +
        recorder.state.path() + "' parallel -j2 ./vexo-record --json {} ::: short short2 short3 " +
        "short4 >'" + recorder.Out() + "' 2>'" + recorder.Err() + "'; echo $?";
    ASSERT_EQ(test::Capture(command), "0\n") << recorder.Errors();
    const auto reports = recorder.Reports();
    ASSERT_EQ(reports.size(), 4u) << recorder.Output();
    for (const char* demo : {"short", "short2", "short3", "short4"})
        ExpectRecorded(reports.at(std::string(demo) + ".dm_71"), demo);
    ExpectGameLeftAsItWas();
}

} // namespace
} // namespace vexo
