// Faults outside the program during a recording run: an output file that cannot grow, a game
// killed by a signal, folders that vanish.
#include <sys/mount.h>

#include "fault_fixture.h"

namespace vexo::faults {
namespace {

constexpr char kWriteError[] = "Error writing AVI frame to output file.";

using RecordingFaultTest = GameTreeTest;

TEST_F(RecordingFaultTest, AnOutputFileThatCannotGrowEndsTheDemoNotTheRun) {
    RecordingWindow& w = Open();
    Check(0);
    Check(2);
    // Screenshots of 320 x 240 (225 KiB) pass; the AVI file stops growing at 1 MiB, within
    // the first demo's ten uncompressed frames.
    // The limit is lifted for the second demo.
    int leftAfterFirst = -1;
    auto limit = std::make_unique<FileSizeLimit>(1 << 20);
    w.onStatus = [&](const std::string& status) {
        if (status == "Finalizing...")
            limit.reset();
        if (status == "Copying config file..." && w.boxes.size() == 1)
            leftAfterFirst = Screenshots();
    };
    PressStart();
    limit.reset();
    const MainControls& c = w.Form().Controls;
    // The first demo met the limit; it was finalized and unchecked, and the run went on.
    ASSERT_EQ(w.boxes.size(), 1u);
    for (const auto& box : w.boxes) {
        EXPECT_EQ(box.text, kWriteError);
        EXPECT_EQ(box.caption, "Error");
        EXPECT_EQ(box.flags, unsigned(MB_OK | MB_ICONERROR));
    }
    EXPECT_EQ(c.status.SimpleText(), "Completed.");
    EXPECT_FALSE(c.clbDemos.Checked(0));
    EXPECT_FALSE(c.clbDemos.Checked(2));
    EXPECT_TRUE(c.frmMain.Enabled());

    // The first demo's recording is kept as a failed one: every frame written before the
    // failing one, in order, complete enough for ffprobe; the screenshots after the failing
    // one were not taken.
    EXPECT_FALSE(fs::exists(out + "/baseq3_alpha.avi"));
    const std::string alpha = out + "/baseq3_alpha (failed).avi";
    const int frames = CountPackets(alpha);
    ASSERT_GE(frames, 1);
    ASSERT_LT(frames, 10);
    EXPECT_EQ(FrameNumbers(alpha), Sequence(frames));
    EXPECT_LE(fs::file_size(alpha), 1u << 20);
    EXPECT_EQ(leftAfterFirst, 10 - frames - 1);

    // The second demo's file holds its own ten frames and nothing of the first demo's
    // screenshots left behind; those stay in the folder for the user to see.
    const std::string charlie = out + "/baseq3_charlie.avi";
    EXPECT_EQ(FrameNumbers(charlie), Sequence(10));
    EXPECT_EQ(CountPackets(charlie), 10);
    EXPECT_EQ(Screenshots(), leftAfterFirst);
}

// A small file system that fills up: the same course, with ENOSPC instead of EFBIG.
TEST_F(RecordingFaultTest, AFullFileSystemKeepsTheFramesWrittenBefore) {
    const std::string small = root / "small";
    fs::create_directories(small);
    if (::mount("tmpfs", small.c_str(), "tmpfs", 0, "size=2m") != 0)
        GTEST_SKIP() << "cannot mount a small tmpfs here";
    struct Unmount {
        std::string dir;
        ~Unmount() { ::umount2(dir.c_str(), MNT_DETACH); }
    } unmount{small};
    WriteFile(program.path() + "/vexo.ini", "[paths]\nquake=" + base + "\noutput=" + small + "\n");
    RecordingWindow& w = Open();
    Check(1);
    PressStart();
    ASSERT_EQ(w.boxes.size(), 1u);
    EXPECT_EQ(w.boxes[0].text, kWriteError);
    EXPECT_EQ(w.Form().Controls.status.SimpleText(), "Completed.");
    EXPECT_FALSE(w.Form().Controls.clbDemos.Checked(1));
    const std::string bravo = small + "/baseq3_bravo (failed).avi";
    const int frames = CountPackets(bravo);
    ASSERT_GE(frames, 1);
    ASSERT_LT(frames, 10);
    EXPECT_EQ(FrameNumbers(bravo), Sequence(frames));
}

TEST_F(RecordingFaultTest, AGameKilledMidDemoFailsTheRunWithoutHanging) {
    for (bool realtime : {false, true}) {
        SCOPED_TRACE(realtime ? "realtime" : "after the game");
        WriteConfig(std::string(realtime ? "" : "set vexo_nopace 1\n") + "set vexo_crash 1\n");
        RecordingWindow& w = Open();
        w.Form().Controls.cbRealtime.SetChecked(realtime);
        Check(0);
        Check(1);
        PressStart();
        const MainControls& c = w.Form().Controls;
        ASSERT_EQ(w.boxes.size(), 1u);
        EXPECT_EQ(w.boxes[0].text, "Quake III didn't shut down properly.");
        EXPECT_EQ(c.status.SimpleText(), "Failed.");
        EXPECT_TRUE(c.clbDemos.Checked(0));
        EXPECT_TRUE(c.clbDemos.Checked(1));
        EXPECT_TRUE(c.frmMain.Enabled());
        EXPECT_EQ(w.windowTitle(), "Vexograph | PUBLIC BETA v0.5");
        EXPECT_FALSE(fs::exists(mod + "/vexo_temp.cfg"));
        // The game died halfway: its five frames are kept, in order, as a failed
        // recording, and the screenshots folder is left empty.
        EXPECT_FALSE(fs::exists(out + "/baseq3_alpha.avi"));
        const std::string alpha = out + "/baseq3_alpha (failed).avi";
        EXPECT_EQ(FrameNumbers(alpha), Sequence(5));
        EXPECT_EQ(Screenshots(), 0);
        fs::remove(alpha);
        window.reset();
    }
}

TEST_F(RecordingFaultTest, TheScreenshotsFolderVanishingMidRunEndsCleanly) {
    // Three seconds of real-time frames; the folder goes once the first frame is written.
    WriteFile(mod + "/demos/alpha.dm_68", "length 3\n");
    WriteConfig("");
    RecordingWindow& w = Open();
    w.Form().Controls.cbRealtime.SetChecked(true);
    Check(0);
    bool removed = false;
    w.onStatus = [&](const std::string& status) {
        if (!removed && status.rfind("Writing frame", 0) == 0) {
            removed = true;
            fs::remove_all(mod + "/screenshots");
        }
    };
    PressStart();
    ASSERT_TRUE(removed);
    const MainControls& c = w.Form().Controls;
    EXPECT_TRUE(c.frmMain.Enabled());
    EXPECT_FALSE(fs::exists(mod + "/vexo_temp.cfg"));
    // The game cannot write its next screenshot and fails; the collector may first report
    // the screenshot it had listed and then lost.
    ASSERT_FALSE(w.boxes.empty());
    EXPECT_EQ(w.boxes.back().text, "Quake III didn't shut down properly.");
    if (w.boxes.size() == 2) {
        EXPECT_EQ(w.boxes[0].text, "Error reading a generated TGA file.");
    }
    EXPECT_LE(w.boxes.size(), 2u);
    EXPECT_EQ(c.status.SimpleText(), "Failed.");
    EXPECT_TRUE(c.clbDemos.Checked(0));
    // The frames collected before are a complete, readable file kept as a failed
    // recording (none when the folder went before the first frame was written).
    EXPECT_FALSE(fs::exists(out + "/baseq3_alpha.avi"));
    const std::string alpha = out + "/baseq3_alpha (failed).avi";
    if (fs::exists(alpha)) {
        const int frames = CountPackets(alpha);
        ASSERT_GE(frames, 1);
        EXPECT_EQ(FrameNumbers(alpha), Sequence(frames));
    }
}

TEST_F(RecordingFaultTest, AnOutputFolderRemovedBeforeStartIsReported) {
    RecordingWindow& w = Open();
    Check(0);
    fs::remove_all(out);
    PressStart();
    ASSERT_EQ(w.boxes.size(), 1u);
    EXPECT_EQ(w.boxes[0].text, "Output directory does not exist.");
    EXPECT_EQ(w.boxes[0].caption, "Error");
    EXPECT_TRUE(w.Form().Controls.clbDemos.Checked(0));
    EXPECT_TRUE(w.Form().Controls.frmMain.Enabled());
    EXPECT_FALSE(fs::exists(out));
    EXPECT_FALSE(fs::exists(mod + "/vexo_temp.cfg"));
    EXPECT_EQ(Screenshots(), 0);
}

TEST_F(RecordingFaultTest, ABrokenCompressorStateStopsStartButGarbageNumbersDoNot) {
    // A state of 100 bytes whose text cannot supply them.
    WriteFile(program.path() + "/vexo.ini", "[paths]\nquake=" + base + "\noutput=" + out +
                                                "\n[codec]\nfcc=1129469256\nsds=100\n"
                                                "csd=!!not*base64!!\n");
    RecordingWindow& w = Open();
    Check(0);
    PressStart();
    ASSERT_EQ(w.boxes.size(), 1u);
    EXPECT_EQ(w.boxes[0].text, "You didn't select an AVI codec yet.");
    EXPECT_EQ(w.Form().Controls.status.SimpleText(), "Failed.");
    EXPECT_TRUE(w.Form().Controls.clbDemos.Checked(0));
    EXPECT_FALSE(fs::exists(out + "/baseq3_alpha.avi"));
    EXPECT_FALSE(fs::exists(mod + "/vexo_temp.cfg"));
    window.reset();

    // Numbers that are no numbers read as the defaults: uncompressed frames.
    WriteFile(program.path() + "/vexo.ini", "[paths]\nquake=" + base + "\noutput=" + out +
                                                "\n[codec]\nfcc=\x01\x02zz\nkey=-\nqty=lots\n"
                                                "drt=0x\nsds=ten\ncsd=\xff\xfe\n");
    RecordingWindow& again = Open();
    Check(0);
    PressStart();
    EXPECT_TRUE(again.boxes.empty()) << again.boxes[0].text;
    EXPECT_EQ(again.Form().Controls.status.SimpleText(), "Completed.");
    EXPECT_EQ(FrameNumbers(out + "/baseq3_alpha.avi"), Sequence(10));
}

} // namespace
} // namespace vexo::faults
