// End to end: the real main window, the stand-in game started as quake3.exe, and FFmpeg's
// own tools reading the AVI files written.
#include <gtest/gtest.h>

#include <QApplication>
#include <QCheckBox>
#include <QComboBox>
#include <QListWidget>
#include <QPushButton>
#include <QTest>
#include <filesystem>

#include "app/main_window.h"
#include "frames/avi_file.h"
#include "platform/fs.h"
#include "support/fake_host.h"
#include "support/tga_file.h"

namespace vexo {
namespace {

namespace fs = std::filesystem;
using test::ReadFile;
using test::TempDir;
using test::WriteFile;

// The real window, with message boxes and the shell recorded instead of shown.
class RecordingWindow : public MainWindow {
public:
    using MainWindow::MainWindow;
    int MessageBox(const std::string& text, const std::string& caption, unsigned flags) override {
        boxes.push_back({text, caption, flags});
        return (flags & 0x0F) == MB_YESNO ? reply : IDOK;
    }
    void ShellExecute(const std::string& verb, const std::string& file, const std::string& params,
                      const std::string& directory, int show) override {
        shell.push_back({verb, file, params, directory, show});
    }
    void ProcessMessages() override {
        MainWindow::ProcessMessages();
        const std::string status = Form().Controls.status.SimpleText();
        if (status != lastStatus) {
            statuses.push_back(status);
            lastStatus = status;
            if (onStatus)
                onStatus(status);
        }
    }
    std::vector<test::MessageBoxCall> boxes;
    std::vector<test::ShellCall> shell;
    std::vector<std::string> statuses;
    std::string lastStatus;
    std::function<void(const std::string&)> onStatus;
    int reply = IDNO;
};

class RecordingTest : public ::testing::Test {
protected:
    RecordingTest() {
        // A game installation with blanks in its name, three short demos.
        fs::create_directories(mod + "/demos");
        fs::copy_file(VEXO_STAND_IN_GAME, base + "/quake3.exe");
        WriteFile(mod + "/pak0.pk3", "pak");
        for (const char* demo : {"alpha.dm_68", "bravo.dm_68", "charlie.dm_68"})
            WriteFile(mod + "/demos/" + demo, "length 0.4\n");
        fs::create_directories(out);
        WriteConfig("");
        WriteFile(program.path() + "/vexo.ini",
                  "[paths]\nquake=" + base + "\noutput=" + out + "\n");
        platform::SetProgramDirectoryForTesting(program.path());
    }
    ~RecordingTest() override {
        window.reset();
        platform::SetProgramDirectoryForTesting("");
    }
    void WriteConfig(const std::string& extra) {
        WriteFile(program.path() + "/configs/default.cfg", "seta com_maxfps 125\n" + extra);
    }
    RecordingWindow& Open() {
        window = std::make_unique<RecordingWindow>(writer, queue);
        window->Form().Guard([&] { window->Form().FormCreate(); });
        window->CreateAuxiliaryWindows();
        window->show();
        MainControls& c = window->Form().Controls;
        c.cbModes.SetItemIndex(0); // 320 x 240 keeps the files small
        c.edFps.SetText("25");
        return *window;
    }
    void Check(int item) {
        auto* list = window->findChild<QListWidget*>("clbDemos");
        list->item(item)->setCheckState(Qt::Checked);
    }
    void PressStart() {
        auto* start = window->findChild<QPushButton*>("btnStart");
        ASSERT_TRUE(QTest::qWaitFor([&] { return start->isEnabled(); }, 2000));
        QTest::mouseClick(start, Qt::LeftButton);
    }
    // The frame numbers the stand-in game painted into each decoded frame.
    std::vector<int> FrameNumbers(const std::string& avi) {
        std::vector<int> numbers;
        for (const std::string& frame : test::DecodeFrames(avi, 320, 240)) {
            // The top left pixel holds red = n & 255, green = n >> 8; the bottom rows are white.
            numbers.push_back(static_cast<uint8_t>(frame[0]) |
                              (static_cast<uint8_t>(frame[1]) << 8));
            EXPECT_EQ(static_cast<uint8_t>(frame[frame.size() - 1]), 255) << "upside down";
        }
        return numbers;
    }

    TempDir root, program;
    std::string base = root / "Quake III Arena";
    std::string mod = base + "/baseq3";
    std::string out = root / "videos";
    CAviFile writer;
    platform::MainThreadQueue queue;
    std::unique_ptr<RecordingWindow> window;
    const std::vector<int> tenFrames{0, 1, 2, 3, 4, 5, 6, 7, 8, 9};
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
    const std::string probe = test::Capture(
        "ffprobe -v error -select_streams v:0 -count_frames -show_entries "
        "stream=r_frame_rate,nb_read_frames -of csv=p=0 '" + out + "/baseq3_alpha.avi'");
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
    ASSERT_EQ(std::system(("cd '" + base + "' && ./quake3.exe +set fs_game baseq3 +exec again")
                              .c_str()),
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
    RecordingWindow& w = Open(); // the game paces its frames in real time
    w.Form().Controls.cbRealtime.SetChecked(true);
    Check(1);
    Check(2);
    PressStart();
    EXPECT_TRUE(w.boxes.empty());
    EXPECT_EQ(w.Form().Controls.status.SimpleText(), "Completed.");
    EXPECT_EQ(FrameNumbers(out + "/baseq3_bravo.avi"), tenFrames);
    EXPECT_EQ(FrameNumbers(out + "/baseq3_charlie.avi"), tenFrames);
}

TEST_F(RecordingTest, AGameThatFailsOnTheSecondDemoEndsTheRun) {
    WriteConfig("set vexo_nopace 1\n");
    RecordingWindow& w = Open();
    w.onStatus = [&](const std::string& status) {
        if (status == "Finalizing...")
            WriteConfig("set vexo_nopace 1\nset vexo_exitcode 1\n");
    };
    for (int i = 0; i < 3; ++i)
        Check(i);
    PressStart();
    const MainControls& c = w.Form().Controls;
    ASSERT_EQ(w.boxes.size(), 1u);
    EXPECT_EQ(w.boxes[0].text, "Quake III didn't shut down properly.");
    EXPECT_EQ(w.boxes[0].caption, "Error");
    EXPECT_EQ(c.status.SimpleText(), "Failed.");
    EXPECT_FALSE(c.clbDemos.Checked(0));
    EXPECT_TRUE(c.clbDemos.Checked(1));
    EXPECT_TRUE(c.clbDemos.Checked(2));
    EXPECT_TRUE(c.frmMain.Enabled());
    EXPECT_EQ(FrameNumbers(out + "/baseq3_alpha.avi"), tenFrames);
    // The failed demo's AVI was closed without frames; its screenshots stay behind.
    EXPECT_TRUE(FrameNumbers(out + "/baseq3_bravo.avi").empty());
    EXPECT_EQ(platform::CountMatchingFiles(mod + "/screenshots/shot*.tga"), 10);
    EXPECT_FALSE(fs::exists(mod + "/vexo_temp.cfg"));

    // Now Start warns about the screenshots left behind.
    w.boxes.clear();
    w.reply = IDYES;
    PressStart();
    ASSERT_EQ(w.boxes.size(), 1u);
    EXPECT_EQ(w.boxes[0].caption, "Problem");
    EXPECT_EQ(w.boxes[0].text,
              "Found 10 screenshot(s) in \"baseq3/screenshots\".\n\n"
              "You have to make sure this screenshots folder is absolutely\n"
              "empty before you launch your demos. Please wipe it and try\n"
              "again. Would you like to open the folder now?");
    EXPECT_EQ(w.boxes[0].flags, unsigned(MB_YESNO | MB_ICONWARNING));
    ASSERT_EQ(w.shell.size(), 1u);
    EXPECT_EQ(w.shell[0].directory, mod + "/screenshots");
    EXPECT_TRUE(c.clbDemos.Checked(1));
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

} // namespace
} // namespace vexo
