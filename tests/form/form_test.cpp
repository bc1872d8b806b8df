#include <gtest/gtest.h>

#include "form/frm_main.h"
#include "frames/avi_file.h"
#include "platform/fs.h"
#include "settings/ini.h"
#include "support/fake_host.h"
#include "support/system_games.h"
#include "support/temp_dir.h"

namespace vexo {
namespace {

using test::FakeHost;
using test::ReadFile;
using test::TempDir;
using test::WriteFile;

// A main window without pixels, its program directory pointing at a temporary folder.
class FormTest : public ::testing::Test {
protected:
    FormTest() { platform::SetProgramDirectoryForTesting(dir.path()); }
    ~FormTest() override { platform::SetProgramDirectoryForTesting(""); }

    TfrmMain& Start() {
        form = std::make_unique<TfrmMain>(host, writer, queue);
        form->Guard([&] { form->FormCreate(); });
        return *form;
    }
    std::string Ini() const { return dir / "vexo.ini"; }
    std::string Read(const char* section, const char* key) {
        return ReadIniString(Ini(), section, key, "<missing>");
    }

    test::SystemGames system; // no game installed on this machine is found
    TempDir dir;
    FakeHost host;
    CAviFile writer;
    platform::MainThreadQueue queue;
    std::unique_ptr<TfrmMain> form;
};

TEST_F(FormTest, FirstStartWithoutSettingsFile) {
    MainControls& c = Start().Controls;
    EXPECT_TRUE(c.cbWindowed.Checked());
    EXPECT_TRUE(c.cbDrawGun.Checked());
    EXPECT_FALSE(c.cbRealtime.Checked());
    EXPECT_FALSE(c.cbDraw2D.Checked());
    EXPECT_EQ(c.edAviFps.Text(), "25");
    EXPECT_EQ(c.edFps.Text(), "35");
    EXPECT_EQ(c.edTimeScale.Text(), "1.0");
    EXPECT_EQ(c.edBasePath.Text(), "");
    EXPECT_EQ(c.edOutPath.Text(), DefaultOutputDirectory());
    EXPECT_EQ(c.cbModes.Text(), "03 - 640 x 480");
    EXPECT_EQ(c.cbGammas.Text(), "1.0 - do not change");
    EXPECT_EQ(c.status.SimpleText(), "Ready.");
    EXPECT_EQ(host.title, "Vexograph | PUBLIC BETA v0.5");
    EXPECT_TRUE(host.boxes.empty());
    // The file now holds the values written back by the change handlers.
    EXPECT_EQ(Read("settings", "avifps"), "25");
    EXPECT_EQ(Read("settings", "fps"), "35");
    EXPECT_EQ(Read("settings", "timescale"), "1.0");
    // Check boxes that kept their initial state wrote nothing.
    EXPECT_EQ(Read("settings", "windowed"), "<missing>");
}

TEST_F(FormTest, StoredValuesOfTheWrongFormAreRepaired) {
    WriteFile(Ini(), "[settings]\navifps=letters\nfps=-5\ntimescale=\ndraw2D=5\n"
                     "windowed=0\n[paths]\noutput=/no/such/dir\n");
    MainControls& c = Start().Controls;
    EXPECT_EQ(c.edAviFps.Text(), "25");
    EXPECT_EQ(Read("settings", "avifps"), "25");
    EXPECT_EQ(c.edFps.Text(), "-5");
    EXPECT_EQ(Read("settings", "fps"), "-5");
    EXPECT_EQ(c.edTimeScale.Text(), "");
    EXPECT_EQ(Read("settings", "timescale"), "");
    EXPECT_TRUE(c.cbDraw2D.Checked());
    EXPECT_EQ(Read("settings", "draw2D"), "1");
    EXPECT_FALSE(c.cbWindowed.Checked());
    EXPECT_EQ(c.edOutPath.Text(), DefaultOutputDirectory());
    EXPECT_EQ(Read("paths", "output"), "/no/such/dir");
    c.clbDemos.SetChecked(0, true);
    form->timerTimer();
    EXPECT_FALSE(c.btnStart.Enabled()); // fps -5 is out of range
}

// The videos folder as xdg-user-dir finds it, else the home $HOME names (not the account's).
TEST_F(FormTest, TheDefaultOutputFolderIsTheVideosFolderWhereItExists) {
    const char* saved = std::getenv("XDG_CONFIG_HOME");
    const std::string savedConfig = saved ? saved : "";
    ::unsetenv("XDG_CONFIG_HOME");
    EXPECT_EQ(Start().Controls.edOutPath.Text(), system.home.path());
    WriteFile(system.home / ".config/user-dirs.dirs",
              "# written by xdg-user-dirs-update\nXDG_VIDEOS_DIR=\"$HOME/Videos\"\n"
              "XDG_DESKTOP_DIR=\"$HOME/Desktop\"\n  XDG_VIDEOS_DIR=\"$HOME/My \\\"Videos\\\"/\"\n");
    EXPECT_EQ(Start().Controls.edOutPath.Text(), system.home.path()); // not made yet
    std::filesystem::create_directories(system.home / "My \"Videos\"");
    EXPECT_EQ(Start().Controls.edOutPath.Text(), system.home / "My \"Videos\"");
    EXPECT_EQ(Read("paths", "output"), "<missing>"); // shown, not stored

    TempDir config, videos;
    ::setenv("XDG_CONFIG_HOME", config.path().c_str(), 1);
    WriteFile(config / "user-dirs.dirs", "XDG_VIDEOS_DIR=\"" + videos.path() + "\"\n");
    EXPECT_EQ(Start().Controls.edOutPath.Text(), videos.path());
    if (saved)
        ::setenv("XDG_CONFIG_HOME", savedConfig.c_str(), 1);
    else
        ::unsetenv("XDG_CONFIG_HOME");
}

TEST_F(FormTest, HexadecimalRatesAreRewrittenInDecimal) {
    WriteFile(Ini(), "[settings]\nfps=0x1E\n[paths]\noutput=" + dir.path() + "\n");
    MainControls& c = Start().Controls;
    EXPECT_EQ(c.edFps.Text(), "30");
    EXPECT_EQ(Read("settings", "fps"), "30");
    EXPECT_EQ(c.edOutPath.Text(), dir.path());
}

TEST_F(FormTest, OptionChangesAreStoredAtOnce) {
    MainControls& c = Start().Controls;
    c.cbWindowed.SetChecked(false);
    c.cbRealtime.SetChecked(true);
    c.cbDraw2D.SetChecked(true);
    c.cbDrawGun.SetChecked(false);
    EXPECT_EQ(Read("settings", "windowed"), "0");
    EXPECT_EQ(Read("settings", "realtime"), "1");
    EXPECT_EQ(Read("settings", "draw2D"), "1");
    EXPECT_EQ(Read("settings", "drawGun"), "0");
    c.edFps.SetText("30 and some letters");
    EXPECT_EQ(Read("settings", "fps"), "30");
    EXPECT_EQ(c.edFps.Text(), "30 and some letters");
    c.edAviFps.SetText("letters");
    EXPECT_EQ(Read("settings", "avifps"), "0");
    c.edTimeScale.SetText("2,5");
    EXPECT_EQ(Read("settings", "timescale"), "2,5");
    c.edTimeScale.SetText("");
    EXPECT_EQ(Read("settings", "timescale"), "");

    // The next start shows what was stored.
    form.reset();
    MainControls& again = Start().Controls;
    EXPECT_EQ(again.edFps.Text(), "30");
    EXPECT_EQ(again.edAviFps.Text(), "0");
    EXPECT_FALSE(again.cbWindowed.Checked());
}

TEST_F(FormTest, StartIsEnabledOnlyByTheTimerRule) {
    MainControls& c = Start().Controls;
    struct Case {
        const char* fps;
        const char* aviFps;
        bool checked;
        bool enabled;
    };
    const Case cases[] = {
        {"35", "25", true, true},   {"101", "25", true, false},  {"100", "25", true, true},
        {"1", "1", true, true},     {"35", "200", true, true},   {"35", "201", true, false},
        {"0", "25", true, false},   {"35", "0", true, false},    {"", "25", true, false},
        {"35", "", true, false},    {"30fps", "25", true, true}, {"35", "150", true, true},
        {"35", "25", false, false},
    };
    for (const Case& k : cases) {
        c.edFps.SetText(k.fps);
        c.edAviFps.SetText(k.aviFps);
        c.clbDemos.SetChecked(1, k.checked);
        form->timerTimer();
        EXPECT_EQ(c.btnStart.Enabled(), k.enabled) << k.fps << " / " << k.aviFps;
    }
}

TEST_F(FormTest, QuickHelpOpensOnceOnTheFirstRun) {
    WriteFile(Ini(), "[settings]\nfirstrun=1\n");
    TfrmMain& f = Start();
    f.Guard([&] { f.FormShow(); });
    f.Guard([&] { f.FormShow(); }); // minimised and restored
    EXPECT_EQ(host.helpShown, 1);
    EXPECT_EQ(Read("settings", "firstrun"), "0");
    form.reset();
    TfrmMain& next = Start();
    next.Guard([&] { next.FormShow(); });
    EXPECT_EQ(host.helpShown, 1);
}

TEST_F(FormTest, WithoutTheFirstRunKeyQuickHelpNeverOpens) {
    TfrmMain& f = Start();
    f.FormShow();
    EXPECT_EQ(host.helpShown, 0);
    EXPECT_EQ(Read("settings", "firstrun"), "<missing>");
}

TEST_F(FormTest, AFailedSettingsWriteIsReportedAndTheProgramGoesOn) {
    WriteFile(dir / "blocker", "a file where a directory should be");
    platform::SetProgramDirectoryForTesting(dir / "blocker");
    const std::string ini = dir / "blocker/vexo.ini";
    TfrmMain& f = Start();
    // Every write fails, yet start-up runs to its end and reports it once.
    ASSERT_EQ(host.boxes.size(), 1u);
    EXPECT_EQ(host.boxes[0].text, "In " + ini + " kann nicht geschrieben werden.");
    EXPECT_EQ(host.boxes[0].caption, "Vexograph | PUBLIC BETA v0.5");
    EXPECT_EQ(host.boxes[0].flags & MB_ICONERROR, MB_ICONERROR);
    EXPECT_EQ(f.Controls.status.SimpleText(), "Ready.");
    EXPECT_EQ(f.Controls.cbModes.ItemIndex(), 3);
    EXPECT_EQ(f.Controls.edTimeScale.Text(), "1.0");
    // Later handlers report the same way; the value stays in the control.
    f.Guard([&] { f.Controls.cbRealtime.SetChecked(true); });
    ASSERT_EQ(host.boxes.size(), 2u);
    EXPECT_EQ(host.boxes[1].text, host.boxes[0].text);
    EXPECT_TRUE(f.Controls.cbRealtime.Checked());
}

TEST_F(FormTest, TheGenericErrorBoxEndsTheMessageWithAPeriod) {
    TfrmMain& f = Start();
    f.ShowErrorBox("Disk full");
    f.ShowErrorBox("Already ends.");
    f.ShowErrorBox("Shouting!");
    f.ShowErrorBox("");
    ASSERT_EQ(host.boxes.size(), 4u);
    EXPECT_EQ(host.boxes[0].text, "Disk full.");
    EXPECT_EQ(host.boxes[1].text, "Already ends.");
    EXPECT_EQ(host.boxes[2].text, "Shouting!"); // "!" sorts before "."
    EXPECT_EQ(host.boxes[3].text, "");
}

TEST_F(FormTest, QuitClosesTheWindowWithoutAQuestion) {
    TfrmMain& f = Start();
    f.btnQuitClick();
    EXPECT_EQ(host.closed, 1);
    EXPECT_TRUE(host.boxes.empty());
}

} // namespace
} // namespace vexo
