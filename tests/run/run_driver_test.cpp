#include <gtest/gtest.h>

#include <csignal>
#include <filesystem>
#include <stdexcept>

#include "form/frm_main.h"
#include "frames/avi_file.h"
#include "platform/fs.h"
#include "run/run_driver.h"
#include "support/fake_host.h"
#include "support/temp_dir.h"

namespace vexo {
namespace {

namespace fs = std::filesystem;
using test::TempDir;
using test::WriteFile;

TEST(RunRules, AviRateAndGammaFromTheControls) {
    for (const char* text : {"", "0", "letters", "101", "150", "-3"})
        EXPECT_EQ(AviRateFromText(text), 25) << text;
    EXPECT_EQ(AviRateFromText("100"), 100);
    EXPECT_EQ(AviRateFromText("1"), 1);
    EXPECT_EQ(AviRateFromText("30 and letters"), 30);
    EXPECT_FLOAT_EQ(GammaFromItem("1.3 - the tarvik network"), 1.3f);
    EXPECT_FLOAT_EQ(GammaFromItem("5.0 - need a doc?"), 5.0f);
    EXPECT_FLOAT_EQ(GammaFromItem("0.0 - black"), 0.0f);
    EXPECT_FLOAT_EQ(GammaFromItem("2.7"), 2.7f);
}

TEST(RunRules, AviFileNamesJoinWithoutNormalising) {
    EXPECT_EQ(AviFileName("D:\\Video", "baseq3", "demo1", '\\'), "D:\\Video\\baseq3_demo1.avi");
    EXPECT_EQ(AviFileName("C:", "baseq3", "demo1", '\\'), "C:\\baseq3_demo1.avi");
    EXPECT_EQ(AviFileName("D:\\Video\\", "cpma", "a", '\\'), "D:\\Video\\\\cpma_a.avi");
}

// The video's name takes the container's extension; the recording's and the failed one's
// follow it.
TEST(RunRules, VideoNamesTakeTheContainersExtension) {
    const std::string mkv = VideoFileName("/v", "baseq3", "demo1.x", '/', ".mkv");
    EXPECT_EQ(mkv, "/v/baseq3_demo1.x.mkv");
    EXPECT_EQ(RecordingFileName(mkv), "/v/baseq3_demo1.x (recording).mkv");
    EXPECT_EQ(FailedFileName("/v/baseq3_a.mp4"), "/v/baseq3_a (failed).mp4");
    EXPECT_EQ(VideoOfRecording(RecordingFileName(mkv)), mkv);
    EXPECT_EQ(VideoOfRecording("/v/baseq3_a.mp4"), "/v/baseq3_a.mp4");
    EXPECT_EQ(RecordingFileName("/v.d/noextension"), "/v.d/noextension (recording)");
}

TEST(RunRules, MakePathCreatesEveryDirectoryAlongThePath) {
    TempDir dir;
    MakePath(dir / "a/b/");
    EXPECT_TRUE(fs::is_directory(dir / "a/b"));
    MakePath(dir / "c/d");
    EXPECT_TRUE(fs::is_directory(dir / "c/d"));
    MakePath(dir / "c/d"); // already there: nothing happens
    WriteFile(dir / "file", "x");
    MakePath(dir / "file/sub"); // cannot be made: ignored
    EXPECT_FALSE(fs::exists(dir / "file/sub"));
}

TEST(RunRules, TheScreenshotWarningText) {
    EXPECT_EQ(ScreenshotWarningText(1, "BaseQ3"),
              "Found 1 screenshot(s) in \"baseq3/screenshots\".\n\n"
              "You have to make sure this screenshots folder is absolutely\n"
              "empty before you launch your demos. Please wipe it and try\n"
              "again. Would you like to open the folder now?");
}

// The checks before a run, on a headless main window.
class StartChecks : public ::testing::Test {
protected:
    StartChecks() {
        platform::SetProgramDirectoryForTesting(program.path());
        fs::create_directories(base + "/baseq3/demos");
        WriteFile(base + "/baseq3/pak0.pk3", "pak");
        WriteFile(base + "/baseq3/demos/one.dm_68", "length 1\n");
        WriteFile(base + "/quake3.exe", "not started by these tests");
        WriteFile(program / "configs/default.cfg", "");
        WriteFile(program / "vexo.ini", "[paths]\nquake=" + base + "\noutput=" + out.path() + "\n");
        form = std::make_unique<TfrmMain>(host, writer, queue);
        form->FormCreate();
    }
    ~StartChecks() override { platform::SetProgramDirectoryForTesting(""); }

    std::string Start() {
        host.boxes.clear();
        form->btnStartClick();
        return host.boxes.empty() ? std::string() : host.boxes.back().text;
    }

    TempDir root, program, out;
    std::string base = root / "q3";
    test::FakeHost host{&queue}; // its message handling runs the work the worker hands over
    CAviFile writer;
    platform::MainThreadQueue queue;
    std::unique_ptr<TfrmMain> form;
};

TEST_F(StartChecks, WithoutAModificationStartSaysWhatToFixAndRecordsNothing) {
    MainControls& c = form->Controls;
    c.cbMods.SetItemIndex(-1);
    c.status.SetSimpleText("keep");
    EXPECT_EQ(Start(), "No modification is selected. Pick one under \"Use Modification:\".");
    c.edBasePath.SetText("X");
    EXPECT_EQ(Start(), "There is no game in \"X\": no folder there holds the game's pk3 files. "
                       "Correct \"Quake III Arena Path:\", or choose the game's folder (or its "
                       "quake3.exe) with the \"...\" button beside it.");
    EXPECT_EQ(host.boxes.back().caption, "Error");
    EXPECT_EQ(c.status.SimpleText(), "keep");
    EXPECT_FALSE(fs::exists(out / "baseq3_one.avi"));
}

TEST_F(StartChecks, TheFirstFailingCheckIsReportedInOrder) {
    MainControls& c = form->Controls;
    ASSERT_EQ(c.cbMods.Text(), "baseq3");
    c.edBasePath.SetText(root / "missing");
    c.cbMods.SetItemIndex(c.cbMods.Add("baseq3"));
    c.cbConfigs.SetItemIndex(-1);
    EXPECT_EQ(Start(), "You didn't select a config to use.");
    EXPECT_EQ(host.boxes.back().caption, "Error");
    EXPECT_EQ(c.status.SimpleText(), "");

    c.cbConfigs.SetItemIndex(0);
    EXPECT_EQ(Start(), "Quake III directory does not exist.");
    c.edBasePath.SetText(root.path());
    c.cbMods.SetItemIndex(c.cbMods.Add("baseq3"));
    EXPECT_EQ(Start(), "Quake III not found in selected directory.");
    c.edBasePath.SetText(base);
    c.edOutPath.SetText(root / "no-output");
    EXPECT_EQ(Start(), "Output directory does not exist.");
    c.edOutPath.SetText(out.path());
    c.cbMods.SetItemIndex(c.cbMods.Add("gone"));
    EXPECT_EQ(Start(), "Selected MOD directory does not exist.");
    c.cbMods.SetItemIndex(c.cbMods.IndexOfNoCase("baseq3"));
    // Only directories, dot files and other names in the screenshot folder: no warning.
    fs::create_directories(base + "/baseq3/screenshots/shotdir.tga");
    WriteFile(base + "/baseq3/screenshots/.shot0000.tga", "");
    WriteFile(base + "/baseq3/screenshots/other.tga", "");
    for (int i = 0; i < c.clbDemos.Count(); ++i)
        c.clbDemos.SetChecked(i, false);
    EXPECT_EQ(Start(), "You didn't select any demos in demo list.");
    EXPECT_TRUE(c.frmMain.Enabled());
    EXPECT_TRUE(host.shell.empty());
}

TEST_F(StartChecks, AStoredCodecThatCannotBeUsedStopsTheRun) {
    WriteFile(program / "vexo.ini", "[paths]\nquake=" + base + "\noutput=" + out.path() +
                                        "\n[codec]\nsds=7\ncsd=AQIDBAU=\n");
    form->Controls.clbDemos.SetChecked(0, true);
    EXPECT_EQ(Start(), "You didn't select an AVI codec yet.");
    EXPECT_EQ(form->Controls.status.SimpleText(), "Failed.");
    EXPECT_TRUE(form->Controls.frmMain.Enabled());
    EXPECT_TRUE(form->Controls.clbDemos.Checked(0));
}

TEST_F(StartChecks, AContainerThatCannotHoldTheCompressorStopsTheRun) {
    WriteFile(program / "vexo.ini",
              "[paths]\nquake=" + base + "\noutput=" + out.path() + "\n[codec]\ncontainer=mp4\n");
    form->Controls.clbDemos.SetChecked(0, true);
    EXPECT_EQ(Start(), "The compressor \"Full Frames (Uncompressed)\" cannot be stored in an MP4 "
                       "file. Choose another compressor or another container with the \"Codec\" "
                       "button.");
    EXPECT_EQ(form->Controls.status.SimpleText(), "Failed.");
    EXPECT_TRUE(form->Controls.frmMain.Enabled());
    EXPECT_TRUE(fs::is_empty(out.path()));
}

TEST_F(StartChecks, YesOpensTheScreenshotFolderAsItIsOnDisk) {
    // A modification stored as "CPMA" is listed (and so selected) as "cpma".
    WriteFile(base + "/CPMA/screenshots/shot0000.tga", "");
    MainControls& c = form->Controls;
    c.cbMods.SetItemIndex(c.cbMods.Add("cpma"));
    host.boxReplies.push_back(IDYES);
    EXPECT_EQ(Start().rfind("Found 1 screenshot(s) in \"cpma/screenshots\".", 0), 0u);
    ASSERT_EQ(host.shell.size(), 1u);
    EXPECT_EQ(host.shell[0].directory, base + "/CPMA/screenshots");
}

// An error that leaves a run while the game plays (here raised while the window's messages
// are handled) ends the game and the worker, closes the writer and gives the window back.
TEST_F(StartChecks, AnErrorInsideARunLeavesNothingRunning) {
    const std::string pidFile = root / "game.pid";
    WriteFile(base + "/quake3.exe", "#!/bin/sh\necho $$ > '" + pidFile + "'\nexec sleep 60\n");
    fs::permissions(base + "/quake3.exe", fs::perms::owner_all);
    MainControls& c = form->Controls;
    c.cbRealtime.SetChecked(true); // the worker runs beside the game
    c.clbDemos.SetChecked(0, true);
    bool thrown = false;
    host.onProcessMessages = [&] {
        if (!thrown && host.title == "VEXO [ waiting... ]" && !test::ReadFile(pidFile).empty()) {
            thrown = true;
            throw std::runtime_error("Out of memory");
        }
    };
    form->Guard([&] { form->btnStartClick(); });
    const pid_t game = std::stoi(test::ReadFile(pidFile));
    EXPECT_NE(::kill(game, SIGKILL), 0) << "the game still runs";
    ASSERT_EQ(host.boxes.size(), 1u);
    EXPECT_EQ(host.boxes[0].text, "Out of memory.");
    EXPECT_TRUE(c.frmMain.Enabled());
    EXPECT_EQ(c.status.SimpleText(), "Failed.");
    EXPECT_TRUE(writer.FileName.empty()) << "the writer is still open";
    EXPECT_FALSE(fs::exists(base + "/baseq3/vexo_temp.cfg"));
}

} // namespace
} // namespace vexo
