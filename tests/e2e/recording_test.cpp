// End to end: the real main window, the stand-in game started as quake3.exe, and FFmpeg's
// own tools reading the AVI files written.
#include <gtest/gtest.h>

#include <QApplication>
#include <QCheckBox>
#include <QComboBox>
#include <QListWidget>
#include <QPushButton>
#include <QTest>
#include <clocale>
#include <filesystem>

#include "app/main_window.h"
#include "frames/avi_file.h"
#include "platform/fs.h"
#include "run/run_driver.h"
#include "support/game_tree.h"

namespace vexo {
namespace {

namespace fs = std::filesystem;
using test::ReadFile;
using test::RecordingWindow;
using test::TempDir;
using test::WriteFile;

class RecordingTest : public test::GameTreeTest {
protected:
    const std::vector<int> tenFrames = Sequence(10);
};

TEST_F(RecordingTest, TwoOfThreeCheckedDemosAreRecorded) {
    WriteConfig("set vexo_nopace 1\n");
    RecordingWindow& w = Open();
    ASSERT_EQ(w.Form().Controls.clbDemos.Count(), 3);
    Check(0);
    Check(2);
    PressStart();
    EXPECT_TRUE(w.boxes.empty()) << w.boxes[0].text;
    EXPECT_EQ(w.Form().Controls.status.SimpleText(), "Completed.");
    EXPECT_EQ(FrameNumbers(out + "/baseq3_alpha.avi"), tenFrames);
    EXPECT_EQ(FrameNumbers(out + "/baseq3_charlie.avi"), tenFrames);
    EXPECT_FALSE(fs::exists(out + "/baseq3_bravo.avi"));
    const MainControls& c = w.Form().Controls;
    EXPECT_FALSE(c.clbDemos.Checked(0));
    EXPECT_FALSE(c.clbDemos.Checked(2));
    EXPECT_TRUE(c.frmMain.Enabled());
    EXPECT_EQ(w.windowTitle(), "Vexograph | PUBLIC BETA v0.5");
    // The collector deleted the screenshots; the temporary config is gone.
    EXPECT_EQ(platform::CountMatchingFiles(mod + "/screenshots/shot*.tga"), 0);
    EXPECT_FALSE(fs::exists(mod + "/vexo_temp.cfg"));
    for (const char* s : {"Copying config file...", "Updating config...", "Launching Quake III...",
                          "Waiting for Quake III to finish...", "Cleaning up...", "Finalizing..."})
        EXPECT_NE(std::find(w.statuses.begin(), w.statuses.end(), s), w.statuses.end()) << s;
    const std::string probe =
        test::Capture("ffprobe -v error -select_streams v:0 -count_frames -show_entries "
                      "stream=r_frame_rate,nb_read_frames -of csv=p=0 '" +
                      out + "/baseq3_alpha.avi'");
    EXPECT_EQ(probe, "25/1,10\n");
}

TEST_F(RecordingTest, TheHeadlessEncoderWritesTheSameVideo) {
    WriteConfig("set vexo_nopace 1\n");
    RecordingWindow& w = Open();
    Check(0);
    PressStart();
    ASSERT_EQ(w.Form().Controls.status.SimpleText(), "Completed.");
    // The same screenshots again, made by the stand-in game with the same script.
    WriteFile(mod + "/again.cfg", "set vexo_nopace 1\nset r_mode \"0\"\nset cl_avidemo \"25\"\n"
                                  "timescale \"1.0\"\ndemo \"alpha\"\n");
    ASSERT_EQ(
        std::system(("cd '" + base + "' && ./quake3.exe +set fs_game baseq3 +exec again").c_str()),
        0);
    ASSERT_EQ(platform::CountMatchingFiles(mod + "/screenshots/shot*.tga"), 10);
    const std::string encoded = out + "/encoded.avi";
    const std::string command = std::string(VEXO_ENCODE) + " --interval 0 '" + mod +
                                "/screenshots' '" + encoded + "' 2>/dev/null";
    ASSERT_EQ(std::system(command.c_str()), 0);
    auto md5 = [](const std::string& avi) {
        return test::Capture("ffmpeg -v error -nostdin -i '" + avi + "' -f framemd5 - 2>/dev/null");
    };
    const std::string ours = md5(out + "/baseq3_alpha.avi");
    EXPECT_NE(ours.find("0,          9,"), std::string::npos) << ours;
    EXPECT_EQ(md5(encoded), ours);
    // Without --consume the screenshots were only read.
    EXPECT_EQ(platform::CountMatchingFiles(mod + "/screenshots/shot*.tga"), 10);
}

TEST_F(RecordingTest, RealtimeCollectsWhileTheGameRuns) {
    WriteConfig(""); // the game paces its frames in real time
    RecordingWindow& w = Open();
    w.Form().Controls.cbRealtime.SetChecked(true);
    Check(1);
    Check(2);
    PressStart();
    EXPECT_TRUE(w.boxes.empty());
    EXPECT_EQ(w.Form().Controls.status.SimpleText(), "Completed.");
    EXPECT_EQ(FrameNumbers(out + "/baseq3_bravo.avi"), tenFrames);
    EXPECT_EQ(FrameNumbers(out + "/baseq3_charlie.avi"), tenFrames);
}

TEST_F(RecordingTest, AFailedGameEndsTheRunKeepingItsFramesAndTheEarlierVideo) {
    RecordingWindow& w = Open();
    Check(1);
    PressStart();
    ASSERT_EQ(w.Form().Controls.status.SimpleText(), "Completed.");
    const std::string bravo = out + "/baseq3_bravo.avi";
    const std::string earlier = test::ReadFile(bravo);

    // The game of the first of two demos ends badly after writing its ten frames.
    WriteConfig("set vexo_nopace 1\nset vexo_exitcode 1\n");
    Check(1);
    Check(2);
    PressStart();
    const MainControls& c = w.Form().Controls;
    ASSERT_EQ(w.boxes.size(), 1u);
    EXPECT_EQ(w.boxes[0].text, "Quake III didn't shut down properly.");
    EXPECT_EQ(w.boxes[0].caption, "Error");
    EXPECT_EQ(c.status.SimpleText(), "Failed.");
    EXPECT_TRUE(c.clbDemos.Checked(1));
    EXPECT_TRUE(c.clbDemos.Checked(2));
    EXPECT_TRUE(c.frmMain.Enabled());
    // The earlier video is untouched; the frames the game wrote are kept as a failed
    // recording, and nothing is left in the screenshots folder.
    EXPECT_EQ(test::ReadFile(bravo), earlier);
    EXPECT_EQ(FrameNumbers(out + "/baseq3_bravo (failed).avi"), tenFrames);
    EXPECT_FALSE(fs::exists(out + "/baseq3_bravo (recording).avi"));
    EXPECT_EQ(Screenshots(), 0);
    EXPECT_FALSE(fs::exists(mod + "/vexo_temp.cfg"));

    // So the next Start records both at once.
    w.boxes.clear();
    WriteConfig("set vexo_nopace 1\n");
    PressStart();
    EXPECT_TRUE(w.boxes.empty());
    EXPECT_EQ(c.status.SimpleText(), "Completed.");
    EXPECT_EQ(FrameNumbers(bravo), tenFrames);
    EXPECT_EQ(FrameNumbers(out + "/baseq3_charlie.avi"), tenFrames);
}

TEST_F(RecordingTest, ScreenshotsLeftInTheFolderStopStartWithAQuestion) {
    for (const char* name : {"shot0000.tga", "shot0001.tga"})
        WriteFile(mod + "/screenshots/" + name, "x");
    RecordingWindow& w = Open();
    Check(0);
    w.reply = IDYES;
    PressStart();
    ASSERT_EQ(w.boxes.size(), 1u);
    EXPECT_EQ(w.boxes[0].caption, "Problem");
    EXPECT_EQ(w.boxes[0].text, "Found 2 screenshot(s) in \"baseq3/screenshots\".\n\n"
                               "You have to make sure this screenshots folder is absolutely\n"
                               "empty before you launch your demos. Please wipe it and try\n"
                               "again. Would you like to open the folder now?");
    EXPECT_EQ(w.boxes[0].flags, unsigned(MB_YESNO | MB_ICONWARNING));
    ASSERT_EQ(w.shell.size(), 1u);
    EXPECT_EQ(w.shell[0].directory, mod + "/screenshots");
    EXPECT_TRUE(w.Form().Controls.clbDemos.Checked(0));
}

// Under a German desktop the C library expects a decimal comma; the gamma item is still read
// with its point: "1.4" turns the game's blue of 90 into 168.
TEST_F(RecordingTest, GammaIsReadTheSameUnderACommaLocale) {
    if (!std::setlocale(LC_ALL, "de_DE.UTF-8"))
        GTEST_SKIP() << "no de_DE.UTF-8 locale (scripts/deps makes it)";
    RecordingWindow& w = Open();
    w.Form().Controls.cbGammas.SetItemIndex(14);
    ASSERT_EQ(w.Form().Controls.cbGammas.Text(), "1.4 - gentle brighten");
    Check(0);
    PressStart();
    std::setlocale(LC_ALL, "C");
    const auto frames = test::DecodeFrames(out + "/baseq3_alpha.avi", 320, 240);
    ASSERT_EQ(frames.size(), 10u);
    EXPECT_EQ(static_cast<uint8_t>(frames[0][2]), 168); // blue, in RGB order
}

TEST_F(RecordingTest, AGameThatCannotStartEndsTheRunCleanly) {
    fs::permissions(base + "/quake3.exe", fs::perms::owner_read | fs::perms::owner_write);
    RecordingWindow& w = Open();
    Check(0);
    PressStart();
    ASSERT_EQ(w.boxes.size(), 1u);
    EXPECT_EQ(w.boxes[0].text, "Error launching Quake III Arena.");
    EXPECT_EQ(w.Form().Controls.status.SimpleText(), "Failed.");
    EXPECT_TRUE(w.Form().Controls.clbDemos.Checked(0));
    EXPECT_TRUE(w.Form().Controls.frmMain.Enabled());
    EXPECT_FALSE(fs::exists(mod + "/vexo_temp.cfg"));
    EXPECT_FALSE(fs::exists(out + "/baseq3_alpha.avi"));
}

TEST_F(RecordingTest, AGameThatRecordsNothingEndsTheRunWithAMessage) {
    WriteConfig("quit\n"); // the game ends before the demo plays
    RecordingWindow& w = Open();
    w.Form().Controls.cbRealtime.SetChecked(true);
    Check(0);
    Check(1);
    PressStart();
    const MainControls& c = w.Form().Controls;
    ASSERT_EQ(w.boxes.size(), 1u);
    EXPECT_EQ(w.boxes[0].text.rfind("The game wrote no frames for the demo \"alpha.dm_68\".", 0),
              0u);
    EXPECT_EQ(w.boxes[0].caption, "Error");
    EXPECT_EQ(c.status.SimpleText(), "Failed.");
    EXPECT_TRUE(c.clbDemos.Checked(0));
    EXPECT_TRUE(c.clbDemos.Checked(1));
    EXPECT_TRUE(c.frmMain.Enabled());
    EXPECT_FALSE(fs::exists(out + "/baseq3_alpha.avi"));
    EXPECT_FALSE(fs::exists(mod + "/vexo_temp.cfg"));
}

TEST_F(RecordingTest, ADemoGoneBeforeItsGameStartsEndsTheRunNamingIt) {
    RecordingWindow& w = Open();
    Check(0);
    PressStart();
    const std::string alpha = out + "/baseq3_alpha.avi";
    const std::string earlier = test::ReadFile(alpha);
    Check(0);
    Check(1);
    fs::remove(mod + "/demos/alpha.dm_68");
    w.statuses.clear();
    PressStart();
    const MainControls& c = w.Form().Controls;
    ASSERT_EQ(w.boxes.size(), 1u);
    EXPECT_EQ(w.boxes[0].text, "The demo \"alpha.dm_68\" is no longer in the modification's "
                               "demos folder. Refresh the demo list and try again.");
    EXPECT_EQ(c.status.SimpleText(), "Failed.");
    EXPECT_FALSE(Contains(w.statuses, "Launching Quake III..."));
    EXPECT_TRUE(c.clbDemos.Checked(0));
    EXPECT_TRUE(c.clbDemos.Checked(1));
    EXPECT_TRUE(c.frmMain.Enabled());
    EXPECT_EQ(test::ReadFile(alpha), earlier);
    EXPECT_FALSE(fs::exists(mod + "/vexo_temp.cfg"));
}

TEST_F(RecordingTest, TheTimescaleTakesADecimalCommaAndMustBePositive) {
    RecordingWindow& w = Open();
    MainControls& c = w.Form().Controls;
    Check(0);
    for (const char* bad : {"0", "-1", "x", "0,0"}) {
        w.boxes.clear();
        c.edTimeScale.SetText(bad);
        PressStart();
        ASSERT_EQ(w.boxes.size(), 1u) << bad;
        EXPECT_EQ(w.boxes[0].text, "The timescale must be a number greater than 0, such as 1.0 "
                                   "or 0.5.");
        EXPECT_FALSE(fs::exists(mod + "/vexo_temp.cfg"));
    }
    // "0,5" is half speed: twice the frames (the game would read the comma as the end).
    w.boxes.clear();
    c.edTimeScale.SetText("0,5");
    PressStart();
    EXPECT_TRUE(w.boxes.empty());
    EXPECT_EQ(FrameNumbers(out + "/baseq3_alpha.avi"), Sequence(20));
}

TEST_F(RecordingTest, AnUnwritableSettingsFileStillGivesAWorkingWindow) {
    const std::string ini = program.path() + "/vexo.ini";
    fs::remove(ini);
    fs::create_directories(ini); // nothing can be read from it or written to it
    window = std::make_unique<RecordingWindow>(writer, queue);
    window->Form().Guard([&] { window->Form().FormCreate(); });
    window->show();
    RecordingWindow& w = *window;
    const MainControls& c = w.Form().Controls;
    ASSERT_EQ(w.boxes.size(), 1u);
    EXPECT_EQ(w.boxes[0].text, "In " + ini + " kann nicht geschrieben werden.");
    EXPECT_EQ(c.status.SimpleText(), "Ready.");
    EXPECT_EQ(c.edAviFps.Text(), "25");
    EXPECT_EQ(c.edFps.Text(), "35");
    EXPECT_EQ(c.edTimeScale.Text(), "1.0");
    EXPECT_EQ(c.cbModes.ItemIndex(), 3);
    EXPECT_EQ(c.cbGammas.ItemIndex(), 10);
    EXPECT_EQ(c.cbConfigs.Text(), "default.cfg");
    EXPECT_FALSE(c.edOutPath.Text().empty());
    // With the game directory typed in, a checked demo enables Start.
    w.Form().Guard([&] { w.Form().Controls.edBasePath.SetText(base); });
    EXPECT_EQ(c.cbMods.Text(), "baseq3");
    ASSERT_EQ(c.clbDemos.Count(), 3);
    Check(0);
    auto* start = w.findChild<QPushButton*>("btnStart");
    EXPECT_TRUE(QTest::qWaitFor([&] { return start->isEnabled(); }, 2000));
}

TEST(HeadlessEncoder, ExitCodesTellWhetherEveryScreenshotBecameAFrame) {
    TempDir dir;
    auto q = [](const std::string& path) {
        std::string quoted = "'";
        quoted.append(path).append("'");
        return quoted;
    };
    auto run = [&](const std::string& args) {
        std::string command = VEXO_ENCODE;
        command.append(" ").append(args).append(" 2>/dev/null");
        const int status = std::system(command.c_str());
        return WEXITSTATUS(status);
    };
    const std::string shots = dir / "shots";
    EXPECT_EQ(run(""), 2);
    EXPECT_EQ(run("--fps 0 " + q(dir.path()) + " x.avi"), 2);
    EXPECT_EQ(run("--fourcc ABCDE " + q(dir.path()) + " x.avi"), 2);
    EXPECT_EQ(run("--fourcc NOPE " + q(dir.path()) + " " + q(dir / "x.avi")), 2);
    EXPECT_EQ(run(q(dir / "missing") + " " + q(dir / "x.avi")), 2);

    fs::create_directories(shots);
    test::WriteTga(shots + "/shot0000.tga", 32, 16, 10, 20, 30);
    test::WriteTga(shots + "/shot0001.tga", 32, 16, 40, 50, 60);
    EXPECT_EQ(run("--interval 0 --fourcc HFYU --consume " + q(shots) + " " + q(dir / "ok.avi")), 0);
    EXPECT_EQ(test::DecodeFrames(dir / "ok.avi", 32, 16).size(), 2u);
    EXPECT_EQ(platform::CountMatchingFiles(shots + "/shot*.tga"), 0); // consumed

    WriteFile(shots + "/shot0002.tga", "not a picture");
    EXPECT_EQ(run("--interval 0 " + q(shots) + " " + q(dir / "bad.avi")), 1);
}

TEST_F(RecordingTest, DemosTheGameCannotPlayFailAndTheRunGoesOn) {
    WriteFile(mod + "/demos/alpha.dm_68", "error \"couldn't open demos/alpha.dm_66\"\n");
    WriteFile(mod + "/demos/bravo.dm_68", "stall\n");
    // The config does not quit after a demo: charlie's game, its demo played to the end, then
    // waits in its menu (longer than a stall), and is ended with its video complete.
    WriteConfig("set vexo_nopace 1\nset vexo_stay 1\n");
    SetStallSecondsForTesting(2);
    RecordingWindow& w = Open();
    for (int item : {0, 1, 2})
        Check(item);
    PressStart();
    SetStallSecondsForTesting(0);
    const MainControls& c = w.Form().Controls;
    EXPECT_EQ(c.status.SimpleText(), "Failed.");
    EXPECT_TRUE(c.frmMain.Enabled());
    // One message at the end names both demos, with the game's own words for the first.
    ASSERT_EQ(w.boxes.size(), 1u);
    EXPECT_EQ(w.boxes[0].caption, "Error");
    EXPECT_EQ(w.boxes[0].text,
              FailedDemosText({EngineErrorText("alpha.dm_68", "couldn't open demos/alpha.dm_66"),
                               StalledText("bravo.dm_68", 2)}));
    EXPECT_NE(w.boxes[0].text.find("The game could not play the demo \"alpha.dm_68\": "
                                   "\"couldn't open demos/alpha.dm_66\"."),
              std::string::npos);
    EXPECT_TRUE(c.clbDemos.Checked(0));
    EXPECT_TRUE(c.clbDemos.Checked(1));
    EXPECT_FALSE(c.clbDemos.Checked(2));
    EXPECT_EQ(FrameNumbers(out + "/baseq3_charlie.avi"), tenFrames);
    for (const char* name : {"alpha", "bravo"})
        for (const char* suffix : {".avi", " (failed).avi", " (recording).avi"})
            EXPECT_FALSE(fs::exists(out + "/baseq3_" + name + suffix)) << name << suffix;
    EXPECT_FALSE(fs::exists(mod + "/vexo_temp.cfg"));
}

TEST_F(RecordingTest, MotionBlurCapturesFourSubFramesAndBlendsThemIntoEachFrame) {
    WriteFile(program.path() + "/vexo.ini",
              "[paths]\nquake=" + base + "\noutput=" + out + "\n[settings]\nmotionblur=4\n");
    RecordingWindow& w = Open();
    Check(0);
    PressStart();
    ASSERT_EQ(w.Form().Controls.status.SimpleText(), "Completed.");
    // The game wrote 40 sub-frames (0.4 s at 4 x 25 a second); each frame is the average of
    // four, n to n + 3, whose red and green bytes count n: 4j + 1.5, rounded to the even 4j + 2.
    std::vector<int> expected;
    for (int j = 0; j < 10; ++j)
        expected.push_back(4 * j + 2);
    EXPECT_EQ(FrameNumbers(out + "/baseq3_alpha.avi"), expected);
    EXPECT_EQ(Screenshots(), 0);
}

} // namespace
} // namespace vexo
