// End to end with a real engine: the main window records a demo through Debian's ioquake3
// with OpenArena's data, and FFmpeg's own tools compare the AVI with the engine's own
// recording of the same demo.
#include <gtest/gtest.h>

#include <QCheckBox>
#include <QTimer>
#include <filesystem>

#include "game/game_script.h"
#include "run/run_driver.h"
#include "settings/ini.h"
#include "support/game_tree.h"
#include "support/real_engine.h"

namespace vexo {
namespace {

namespace fs = std::filesystem;
using test::Capture;

class RealEngineTest : public ::testing::Test {
protected:
    void SetUp() override {
        if (!test::RealEngineInstalled())
            GTEST_SKIP() << "ioquake3 and openarena are not installed (scripts/deps installs them)";
        ASSERT_TRUE(test::VirtualDisplay::Start()) << "Xvfb could not be started";
        base = test::LayOutOpenArena(root);
        mod = base + "/baseoa";
        fs::create_directories(out);
        test::WriteFile(program / "configs/default.cfg", test::ReadFile(VEXO_DEFAULT_CONFIG));
        test::WriteFile(program / "vexo.ini", "[paths]\nquake=" + base + "\noutput=" + out + "\n");
        platform::SetProgramDirectoryForTesting(program.path());
        // A test's own state folder: a journal another test left when it was killed is not
        // this one's to put right.
        const char* state = std::getenv("XDG_STATE_HOME");
        savedState = state ? state : "";
        ::setenv("XDG_STATE_HOME", (root / "state").c_str(), 1);
    }
    void TearDown() override {
        window.reset();
        platform::SetProgramDirectoryForTesting("");
        savedState.empty() ? ::unsetenv("XDG_STATE_HOME")
                           : ::setenv("XDG_STATE_HOME", savedState.c_str(), 1);
    }
    test::RecordingWindow& Open() {
        window = std::make_unique<test::RecordingWindow>(writer, queue);
        window->Form().Guard([&] { window->Form().FormCreate(); });
        window->show();
        MainControls& c = window->Form().Controls;
        c.cbModes.SetItemIndex(3); // 640 x 480
        c.cbWindowed.SetChecked(true);
        c.edFps.SetText("25");
        c.edAviFps.SetText("25");
        return *window;
    }
    // The demo list's item of a demo, listed among OpenArena's own (packed in its pk3 files);
    // -1 when it is not listed once.
    int Item(const std::string& demo) {
        auto* demos = window->findChild<QListWidget*>("clbDemos");
        const QList<QListWidgetItem*> found =
            demos->findItems(QString::fromStdString(demo), Qt::MatchExactly);
        if (found.size() != 1) {
            ADD_FAILURE() << demo << " is not listed once";
            return -1;
        }
        return demos->row(found.value(0));
    }
    // Checks a demo in the list as a user's click does; its item.
    int Check(const std::string& demo) {
        const int item = Item(demo);
        if (item >= 0)
            window->findChild<QListWidget*>("clbDemos")->item(item)->setCheckState(Qt::Checked);
        return item;
    }
    void Record(bool realtime) {
        test::RecordingWindow& w = Open();
        ASSERT_EQ(w.Form().Controls.clbDemos.Count(), 11);
        w.Form().Controls.cbRealtime.SetChecked(realtime);
        Check("short.dm_71");
        auto* start = w.findChild<QPushButton*>("btnStart");
        ASSERT_TRUE(QTest::qWaitFor([&] { return start->isEnabled(); }, 2000));
        QTest::mouseClick(start, Qt::LeftButton);
        ASSERT_TRUE(w.boxes.empty()) << w.boxes[0].text;
        EXPECT_EQ(w.Form().Controls.status.SimpleText(), "Completed.");
    }
    // The engine's own recording of the demo with the same config and script. engine: its
    // command line up to the game's paths; by default the release layout's.
    std::string Reference(std::string engine = "") {
        if (engine.empty())
            engine = "cd '" + base + "' && ./ioquake3.x86_64 +set fs_basepath '" + base +
                     "' +set fs_homepath '" + base + "'";
        CaptureOptions options;
        options.ModeIndex = 3;
        options.Windowed = true;
        options.DrawGun = true; // as the settings file's defaults have it
        options.CaptureRate = "25";
        options.TimeScale = "1.0";
        std::string script = BuildGameScript(options, "short", true);
        script.replace(script.find("vexo_capture"), 12, "reference");
        test::WriteFile(mod + "/reference.cfg", test::ReadFile(VEXO_DEFAULT_CONFIG) + script);
        const std::string command =
            engine +
            " +set com_basegame baseoa +set fs_game baseoa +exec reference >/dev/null 2>&1";
        EXPECT_EQ(std::system(command.c_str()), 0);
        fs::remove(mod + "/reference.cfg");
        const std::string reference = root / "reference.avi";
        fs::rename(mod + "/videos/reference.avi", reference);
        fs::remove_all(mod + "/videos");
        return reference;
    }
    static std::string Probe(const std::string& avi, const std::string& stream,
                             const std::string& entries) {
        return Capture("ffprobe -v error -select_streams " + stream +
                       " -count_frames "
                       "-show_entries stream=" +
                       entries + " -of csv=p=0 '" + avi + "'");
    }
    void ExpectLikeTheEngines(const std::string& avi, const std::string& reference) {
        const std::string frames = Probe(reference, "v:0", "nb_read_frames");
        ASSERT_GT(std::stoi(frames), 100); // about five seconds at 25 frames a second
        EXPECT_EQ(Probe(avi, "v:0", "nb_read_frames"), frames);
        const std::string psnr = Capture("ffmpeg -nostdin -i '" + avi + "' -i '" + reference +
                                         "' -lavfi '[0:v][1:v]psnr' -f null - 2>&1");
        const size_t at = psnr.find("average:");
        ASSERT_NE(at, std::string::npos) << psnr;
        const std::string average = psnr.substr(at + 8, psnr.find(' ', at) - at - 8);
        EXPECT_TRUE(average == "inf" || std::stod(average) >= 40.0) << average;
        // The game's sound, for the demo's length.
        EXPECT_EQ(Probe(avi, "a:0", "codec_name,sample_rate,channels"), "pcm_s16le,22050,2\n");
        const double video = std::stod(Probe(avi, "v:0", "duration"));
        // Decoded sample frames of 4 bytes at 22050 a second.
        const double sound = std::stod(Capture("ffmpeg -v error -nostdin -i '" + avi +
                                               "' -map 0:a -f s16le - | wc -c")) /
                             4 / 22050;
        EXPECT_NEAR(sound, video, 0.5);
        const std::string volume =
            Capture("ffmpeg -nostdin -i '" + avi + "' -map 0:a -af volumedetect -f null - 2>&1");
        const size_t mean = volume.find("mean_volume: ");
        ASSERT_NE(mean, std::string::npos);
        EXPECT_GT(std::stod(volume.substr(mean + 13)), -60.0) << "silence";
    }
    // A demo OpenArena ships inside its pk3 files, copied out into the demos folder as a
    // player who downloads demos has them.
    void CopyOutPackedDemo(const std::string& name) {
        ASSERT_EQ(std::system(("python3 -c \"import glob, zipfile, sys\n"
                               "for p in glob.glob('" +
                               std::string(test::kOpenArenaData) +
                               "/*.pk3'):\n"
                               "    z = zipfile.ZipFile(p)\n"
                               "    if 'demos/" +
                               name +
                               "' in z.namelist():\n"
                               "        open(sys.argv[1], 'wb').write(z.read('demos/" +
                               name +
                               "')); sys.exit(0)\n"
                               "sys.exit(1)\" '" +
                               mod + "/demos/" + name + "'")
                                  .c_str()),
                  0);
    }
    // Runs act once, on the window thread, as soon as the engine's recording holds frames
    // pictures of 640 x 480 (while the run waits for the game).
    void WhenRecorded(int frames, std::function<void()> act) {
        auto* timer = new QTimer(window.get());
        QObject::connect(timer, &QTimer::timeout, timer, [=, this] {
            std::error_code error;
            const auto size = fs::file_size(mod + "/videos/vexo_capture.avi", error);
            if (!error && size > static_cast<uintmax_t>(frames) * 640 * 480 * 3) {
                timer->stop();
                act();
            }
        });
        timer->start(50);
    }
    // Input into the game's window through the X server, as a user's mouse and keyboard
    // would give it.
    static void SendToGame(const std::string& input) {
        const char* display = std::getenv("DISPLAY");
        ASSERT_NE(display, nullptr);
        const std::string command = "DISPLAY='" + std::string(display) +
                                    "' xdotool search --sync --name '^ioquake3$' mousemove "
                                    "--window %1 100 100 " +
                                    input;
        // A loaded machine may keep the X server from answering at once: a few tries.
        int status = -1;
        for (int attempt = 0; attempt < 5 && status != 0; ++attempt)
            status = std::system(command.c_str());
        EXPECT_EQ(status, 0) << command;
    }
    void ExpectNothingLeftBehind() {
        EXPECT_FALSE(fs::exists(mod + "/vexo_temp.cfg"));
        EXPECT_FALSE(fs::exists(mod + "/videos")); // the engine made it for its recording
        EXPECT_EQ(platform::CountMatchingFiles(mod + "/screenshots/shot*.tga"), 0);
    }

    test::TempDir root, program;
    std::string base, mod, savedState;
    std::string out = root / "videos";
    CAviFile writer;
    platform::MainThreadQueue queue;
    std::unique_ptr<test::RecordingWindow> window;
};

TEST_F(RealEngineTest, ADemoBecomesTheEnginesFramesAndSoundWithRealtimeOffAndOn) {
    const std::string reference = Reference();
    Record(false);
    ExpectLikeTheEngines(out + "/baseoa_short.avi", reference);
    ExpectNothingLeftBehind();
    fs::remove(out + "/baseoa_short.avi");
    Record(true);
    ExpectLikeTheEngines(out + "/baseoa_short.avi", reference);
    ExpectNothingLeftBehind();
}

// Recorded into MP4 with H.264, the engine's sound becomes AAC, as long as the picture.
TEST_F(RealEngineTest, ADemoRecordedIntoMp4HasTheEnginesFramesAndItsSoundAsAac) {
    const std::string reference = Reference();
    test::WriteFile(program / "vexo.ini",
                    "[paths]\nquake=" + base + "\noutput=" + out +
                        "\n[codec]\nfcc=" + std::to_string(media::MakeFourCC('H', '2', '6', '4')) +
                        "\nqty=6800\ncontainer=mp4\n");
    Record(true);
    const std::string mp4 = out + "/baseoa_short.mp4";
    EXPECT_EQ(Probe(mp4, "v:0", "codec_name,nb_read_frames"),
              "h264," + Probe(reference, "v:0", "nb_read_frames"));
    EXPECT_EQ(Probe(mp4, "a:0", "codec_name,sample_rate,channels"), "aac,22050,2\n");
    EXPECT_NEAR(std::stod(Probe(mp4, "a:0", "duration")), std::stod(Probe(mp4, "v:0", "duration")),
                0.05);
    const std::string volume =
        Capture("ffmpeg -nostdin -i '" + mp4 + "' -map 0:a -af volumedetect -f null - 2>&1");
    const size_t mean = volume.find("mean_volume: ");
    ASSERT_NE(mean, std::string::npos);
    EXPECT_GT(std::stod(volume.substr(mean + 13)), -60.0) << "silence";
    EXPECT_EQ(std::distance(fs::directory_iterator(out), fs::directory_iterator()), 1)
        << "a recording or rewrite left beside the video";
    ExpectNothingLeftBehind();
}

TEST_F(RealEngineTest, AGameThatQuitsAtOnceEndsTheRunWithAMessage) {
    test::WriteFile(program / "configs/default.cfg", "quit\n");
    test::RecordingWindow& w = Open();
    const int item = Check("short.dm_71");
    auto* start = w.findChild<QPushButton*>("btnStart");
    ASSERT_TRUE(QTest::qWaitFor([&] { return start->isEnabled(); }, 2000));
    QTest::mouseClick(start, Qt::LeftButton);
    ASSERT_EQ(w.boxes.size(), 1u);
    EXPECT_EQ(w.boxes[0].text.rfind("The game wrote no frames for the demo \"short.dm_71\".", 0),
              0u);
    EXPECT_EQ(w.Form().Controls.status.SimpleText(), "Failed.");
    EXPECT_TRUE(w.Form().Controls.clbDemos.Checked(item));
    EXPECT_TRUE(w.Form().Controls.frmMain.Enabled());
    EXPECT_FALSE(fs::exists(out + "/baseoa_short.avi"));
    ExpectNothingLeftBehind();
}

// The engine asked for a missing demo would wait in its menu, and at timescale "0,5" read
// as 0 it would never end the demo: neither may keep the run waiting.
TEST_F(RealEngineTest, AMissingDemoAndACommaTimescaleEndTheirRuns) {
    test::RecordingWindow& w = Open();
    Check("short.dm_71");
    const std::string demo = mod + "/demos/short.dm_71";
    fs::rename(demo, root / "short.dm_71");
    auto* start = w.findChild<QPushButton*>("btnStart");
    ASSERT_TRUE(QTest::qWaitFor([&] { return start->isEnabled(); }, 2000));
    QTest::mouseClick(start, Qt::LeftButton);
    ASSERT_EQ(w.boxes.size(), 1u);
    EXPECT_EQ(w.boxes[0].text.rfind("The demo \"short.dm_71\" is no longer", 0), 0u);
    EXPECT_EQ(w.Form().Controls.status.SimpleText(), "Failed.");

    fs::rename(root / "short.dm_71", demo);
    w.boxes.clear();
    w.Form().Controls.edTimeScale.SetText("0,5");
    ASSERT_TRUE(QTest::qWaitFor([&] { return start->isEnabled(); }, 2000));
    QTest::mouseClick(start, Qt::LeftButton);
    ASSERT_TRUE(w.boxes.empty()) << w.boxes[0].text;
    // Half speed: about twice the 135 frames of the demo at full speed, as the original game
    // would record it.
    const int frames = std::stoi(Probe(out + "/baseoa_short.avi", "v:0", "nb_read_frames"));
    EXPECT_GT(frames, 240);
    EXPECT_LT(frames, 300);
    ExpectNothingLeftBehind();
}

// A desktop's sound goes through OpenAL, whose output the engine does not record: the
// program starts the engine with its own mixer, so the video has the demo's sound anyway.
TEST_F(RealEngineTest, TheVideoHasTheDemosSoundOnADesktopWhoseOpenALWorks) {
    const char* saved = std::getenv("ALSOFT_DRIVERS");
    ::setenv("ALSOFT_DRIVERS", "null", 1); // OpenAL opens its output as on a desktop
    const std::string reference = Reference();
    Record(true);
    saved ? ::setenv("ALSOFT_DRIVERS", saved, 1) : ::unsetenv("ALSOFT_DRIVERS");
    ExpectLikeTheEngines(out + "/baseoa_short.avi", reference);
}

// A demo the engine cannot play ends with the engine's own words, and the run goes on; the
// hunk is large enough for OpenArena's own demo, which the engine's default is not.
TEST_F(RealEngineTest, AnUnplayableDemoFailsWithTheEnginesWordsAndTheRunGoesOn) {
    // Both as OpenArena ships them, packed in its pk3 files.
    test::WriteFile(mod + "/q3config.cfg", "seta com_hunkMegs \"128\"\n");
    test::RecordingWindow& w = Open();
    MainControls& c = w.Form().Controls;
    ASSERT_EQ(c.clbDemos.Count(), 11);
    c.cbModes.SetItemIndex(0); // 320 x 240 at five frames a second: a quick look at the
    c.edFps.SetText("5");      // whole long demo
    c.cbRealtime.SetChecked(true);
    const int flyby = Check("flyby_oa_dm3.dm_70"), test1 = Check("demo088-test1.dm_71");
    auto* start = w.findChild<QPushButton*>("btnStart");
    ASSERT_TRUE(QTest::qWaitFor([&] { return start->isEnabled(); }, 2000));
    QTest::mouseClick(start, Qt::LeftButton);
    EXPECT_EQ(c.status.SimpleText(), "Failed.");
    ASSERT_EQ(w.boxes.size(), 1u);
    EXPECT_NE(w.boxes[0].text.find("The game could not play the demo \"flyby_oa_dm3.dm_70\": "
                                   "\"couldn't open demos/flyby_oa_dm3.dm_"),
              std::string::npos)
        << w.boxes[0].text;
    EXPECT_TRUE(c.clbDemos.Checked(flyby));
    EXPECT_FALSE(c.clbDemos.Checked(test1));
    // About 170 seconds of demo at five frames a second.
    const int frames = std::stoi(Probe(out + "/baseoa_demo088-test1.avi", "v:0", "nb_read_frames"));
    EXPECT_GT(frames, 800);
    EXPECT_FALSE(fs::exists(out + "/baseoa_flyby_oa_dm3 (failed).avi"));
    ExpectNothingLeftBehind();
}

// A click or a key in the game's window no longer ends the demo; Escape still leaves it, and
// what was recorded then is kept as a failed video, not as a complete one.
TEST_F(RealEngineTest, AClickInTheGameIsIgnoredAndADemoLeftEarlyIsKeptAsFailed) {
    CopyOutPackedDemo("demo088-test1.dm_71");
    test::RecordingWindow& w = Open();
    MainControls& c = w.Form().Controls;
    c.cbRealtime.SetChecked(true);
    const int test1 = Check("demo088-test1.dm_71"), shortDemo = Check("short.dm_71");
    WhenRecorded(40, [&] {
        SendToGame("click 1 key a");
        WhenRecorded(120, [&] { SendToGame("key Escape"); });
    });
    auto* start = w.findChild<QPushButton*>("btnStart");
    ASSERT_TRUE(QTest::qWaitFor([&] { return start->isEnabled(); }, 2000));
    QTest::mouseClick(start, Qt::LeftButton);
    EXPECT_EQ(c.status.SimpleText(), "Failed.");
    const std::string failed = out + "/baseoa_demo088-test1 (failed).avi";
    ASSERT_EQ(w.boxes.size(), 1u);
    EXPECT_EQ(w.boxes[0].text, FailedDemosText({LeftEarlyText("demo088-test1.dm_71", failed)}));
    EXPECT_FALSE(fs::exists(out + "/baseoa_demo088-test1.avi"));
    const int frames = std::stoi(Probe(failed, "v:0", "nb_read_frames"));
    EXPECT_GE(frames, 120); // past the click
    EXPECT_LT(frames, 1000);
    // The run went on with the next demo.
    EXPECT_TRUE(c.clbDemos.Checked(test1));
    EXPECT_FALSE(c.clbDemos.Checked(shortDemo));
    EXPECT_TRUE(fs::exists(out + "/baseoa_short.avi"));
    ExpectNothingLeftBehind();
}

// Closing the window during a recording asks; yes ends the game and keeps what was recorded.
TEST_F(RealEngineTest, ClosingTheWindowStopsTheRecording) {
    CopyOutPackedDemo("demo088-test1.dm_71");
    test::RecordingWindow& w = Open();
    MainControls& c = w.Form().Controls;
    c.cbRealtime.SetChecked(true);
    const int test1 = Check("demo088-test1.dm_71"), shortDemo = Check("short.dm_71");
    w.reply = IDYES;
    WhenRecorded(30, [&] { w.close(); });
    auto* start = w.findChild<QPushButton*>("btnStart");
    ASSERT_TRUE(QTest::qWaitFor([&] { return start->isEnabled(); }, 2000));
    QTest::mouseClick(start, Qt::LeftButton);
    ASSERT_EQ(w.boxes.size(), 1u);
    EXPECT_EQ(w.boxes[0].text, kStopRunText);
    EXPECT_EQ(w.boxes[0].caption, "Problem");
    EXPECT_TRUE(w.isVisible());
    EXPECT_EQ(c.status.SimpleText(), "Failed.");
    EXPECT_TRUE(c.frmMain.Enabled());
    EXPECT_TRUE(c.clbDemos.Checked(test1));
    EXPECT_TRUE(c.clbDemos.Checked(shortDemo));
    EXPECT_GE(std::stoi(Probe(out + "/baseoa_demo088-test1 (failed).avi", "v:0", "nb_read_frames")),
              25); // the last one cut short when the game was ended
    EXPECT_FALSE(fs::exists(out + "/baseoa_short.avi"));
    ExpectNothingLeftBehind();
}

// Motion blur with the real engine: four sub-frames a frame, the video as long as without
// blur, its sound as long as its picture.
TEST_F(RealEngineTest, MotionBlurKeepsTheVideosFramesAndSound) {
    test::WriteFile(program / "vexo.ini",
                    "[paths]\nquake=" + base + "\noutput=" + out + "\n[settings]\nmotionblur=4\n");
    Record(true);
    const std::string avi = out + "/baseoa_short.avi";
    const int frames = std::stoi(Probe(avi, "v:0", "nb_read_frames"));
    EXPECT_NEAR(frames, 135, 2); // 5.4 s at 25 frames a second, as without blur
    const double video = frames / 25.0;
    const double sound = std::stod(Capture("ffmpeg -v error -nostdin -i '" + avi +
                                           "' -map 0:a -f s16le - | wc -c")) /
                         4 / 22050;
    EXPECT_NEAR(sound, video, 1.0 / 25);
    ExpectNothingLeftBehind();
}

// OpenArena exactly as apt-get install openarena lays it out: the data in /usr/lib/openarena,
// the engine /usr/lib/ioquake3/ioquake3, the player's files in ~/.openarena of a temporary
// HOME. No settings file names the game directory.
class PackagedOpenArenaTest : public RealEngineTest {
protected:
    void SetUp() override {
        RealEngineTest::SetUp();
        if (IsSkipped() || HasFatalFailure())
            return;
        ::setenv("HOME", home.path().c_str(), 1);
        mod = home / ".openarena/baseoa";
        fs::create_directories(mod + "/demos");
        fs::copy_file(base + "/baseoa/demos/short.dm_71", mod + "/demos/short.dm_71");
        test::WriteFile(program / "vexo.ini", "[paths]\noutput=" + out + "\n");
    }
    void TearDown() override {
        ::setenv("HOME", savedHome.c_str(), 1);
        RealEngineTest::TearDown();
    }
    std::string HomeFiles() { return Capture("cd '" + mod + "/..' && find . -type f | sort"); }
    const std::string savedHome = std::getenv("HOME");
    test::TempDir home;
};

TEST_F(PackagedOpenArenaTest, AHomeDemoIsFoundAndRecordedWithNothingWrittenBelowTheGame) {
    test::WriteFile(root / "start", "");
    const std::string reference =
        Reference("/usr/lib/ioquake3/ioquake3 +set fs_basepath /usr/lib/openarena "
                  "+set fs_homepath '" +
                  home / ".openarena'");
    const std::string engineFiles = HomeFiles(); // what the engine keeps there itself
    Record(true);
    const MainControls& c = window->Form().Controls;
    EXPECT_EQ(c.edBasePath.Text(), "/usr/lib/openarena"); // found by itself, not stored
    EXPECT_EQ(ReadIniString(program / "vexo.ini", "paths", "quake", "-"), "-");
    // The home's demo and the ten OpenArena ships in its pk3 files.
    ASSERT_EQ(c.clbDemos.Count(), 11);
    EXPECT_EQ(c.clbDemos.ItemText(0), "demo088-test1.dm_71");
    EXPECT_EQ(c.clbDemos.ItemText(1), "flyby_compromise.dm_70");
    EXPECT_EQ(c.clbDemos.ItemText(6), "short.dm_71");
    EXPECT_EQ(c.clbDemos.ItemText(10), "stress_schism.dm_70");
    ExpectLikeTheEngines(out + "/baseoa_short.avi", reference);
    ExpectNothingLeftBehind();
    EXPECT_EQ(HomeFiles(), engineFiles);
    // A file made there, even one removed again, would have changed its folder.
    EXPECT_EQ(Capture("find /usr/lib/openarena -newer '" + root / "start" + "'"), "");
}

// "R" starts the player's OpenArena as its own launcher does: with OpenArena's protocol.
TEST_F(PackagedOpenArenaTest, TheGameStartsWithOpenArenasProtocol) {
    test::RecordingWindow& w = Open();
    w.Form().btnRunModClick();
    ASSERT_EQ(w.shell.size(), 1u);
    const std::string said =
        Capture("cd '" + w.shell[0].directory + "' && '" + w.shell[0].file + "' " +
                w.shell[0].params + " +com_protocol +com_legacyprotocol +quit 2>&1");
    EXPECT_NE(said.find("\"com_protocol\" is:\"71"), std::string::npos) << said;
    EXPECT_NE(said.find("\"com_legacyprotocol\" is:\"71"), std::string::npos) << said;
}

} // namespace
} // namespace vexo
