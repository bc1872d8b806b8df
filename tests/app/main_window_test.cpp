#include <gtest/gtest.h>

#include <QApplication>
#include <QCheckBox>
#include <QComboBox>
#include <QFontMetrics>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QMessageBox>
#include <QPushButton>
#include <QTest>
#include <QTimer>
#include <stdexcept>

#include "app/main_window.h"
#include "app/program.h"
#include "frames/avi_file.h"
#include "platform/fs.h"
#include "settings/ini.h"
#include "support/system_games.h"
#include "support/temp_dir.h"

namespace vexo {
namespace {

struct Expected {
    const char* name;
    int x, y, w, h;
    const char* text; // caption, or nullptr where the control has none
    const char* hint; // tool tip, or "" for none
};

// The designed window, control by control.
const Expected kControls[] = {
    {"Label7", 8, 100, 133, 13, "Quake III Arena Path:", ""},
    {"labCodecName", 148, 100, 232, 13, "(not visible)", ""},
    {"edBasePath", 8, 116, 373, 21, nullptr,
     "The full path to your Quake III Arena home directory."},
    {"btnBasePathSet", 386, 116, 23, 21, "...", "Click to locate your Quake III Arena executable"},
    {"Label8", 8, 140, 89, 13, "Output Path:", ""},
    {"edOutPath", 8, 156, 373, 21, nullptr, "The full output path for generated AVI video files."},
    {"btnOutPathSet", 386, 156, 23, 21, "...",
     "Click to locate the output directory to store AVI files in"},
    {"Label3", 8, 180, 105, 13, "Use Modification:", ""},
    {"btnRunMod", 120, 183, 16, 10, "R", "Launch Q3A and run the selected modification"},
    {"btnOpenModDir", 140, 183, 16, 10, "O", "Open selected modification folder"},
    {"cbMods", 8, 196, 149, 21, nullptr,
     "Pick the modification to use or \"baseq3\" for Classic Quake 3 Arena"},
    {"Label2", 8, 220, 113, 13, "Use Config:", ""},
    {"btnEditConfig", 120, 223, 16, 10, "E", "Edit selected config file with Notepad"},
    {"btnOpenConfigDir", 140, 223, 16, 10, "O", "Open configuration file folder"},
    {"cbConfigs", 8, 236, 149, 21, nullptr,
     "Pick the configuration file to use (see config/ directory in app folder)"},
    {"Label1", 8, 260, 149, 13, "Use Resolution:", ""},
    {"cbModes", 8, 276, 150, 21, nullptr, "Pick the resolution to use for the AVI output frames"},
    {"Label10", 8, 300, 45, 13, "AVI FPS:", ""},
    {"Label4", 56, 300, 45, 13, "FPS:", ""},
    {"Label5", 104, 300, 53, 13, "Timescale:", ""},
    {"edAviFps", 8, 316, 45, 21, nullptr,
     "Number of frames per second for the output AVI video file. This is NOT the Q3A fps number!"},
    {"edFps", 56, 316, 45, 21, nullptr,
     "Pick the number of Q3A frames to capture per second (the higher the smoother your video "
     "gets)"},
    {"edTimeScale", 104, 316, 53, 21, nullptr,
     "Use this to set the initial Q3A timescale (1.0 = normal speed, 0.5 = slower, 2 = faster)"},
    {"Label9", 8, 340, 149, 13, "AVI Gamma (very slow!):", ""},
    {"cbGammas", 8, 356, 149, 21, nullptr,
     "EXPERIMENTAL! Gamma correction for output AVI (a value other than 1.0 is currently slowing "
     "down A LOT). This is NOT the Q3A ingame gamma!"},
    {"cbWindowed", 8, 384, 73, 17, "&Windowed",
     "Check this to run Q3A windowed (recommended). Uncheck it if your output AVI frames look "
     "damaged."},
    {"cbDraw2D", 84, 384, 73, 17, "Draw &2D",
     "Check this to draw ingame 2D elements like the HUD. Uncheck it to hide 2D elements."},
    {"cbRealtime", 8, 404, 73, 17, "&Realtime",
     "EXPERIMENTAL! Check this to write the AVI while Q3 is running. Use this on POWERFUL systems "
     "only or your AVIs might screw up."},
    {"cbDrawGun", 84, 404, 73, 17, "Draw &Gun",
     "Check this to draw the ingame gun. Uncheck it to hide the gun."},
    {"Label6", 172, 180, 209, 13, "Select demos:", ""},
    {"Button1", 372, 183, 16, 10, "R", "Refresh list of demos for selected modification"},
    {"btnOpenDemosDir", 392, 183, 16, 10, "O", "Open demos folder of selected modification"},
    {"clbDemos", 172, 196, 237, 169, nullptr, ""},
    {"edDemoName", 172, 368, 237, 21, nullptr, "Name of selected demo. For easy copy and paste."},
    {"btnStart", 172, 396, 53, 25, "&Start",
     "Click this when you're happy with the settings and when you have picked demos above."},
    {"btnCodec", 228, 396, 45, 25, "&Codec",
     "Click here to select the video codec to use for the output AVI (I highly recommend the "
     "Huffyuv lossless compressor for intermediate files)"},
    {"btnAbout", 276, 396, 45, 25, "&About", ""},
    {"btnHelp", 324, 396, 25, 25, "?", "Need help?"},
    {"btnQuit", 365, 396, 45, 25, "&Quit", ""},
};

class MainWindowTest : public ::testing::Test {
protected:
    MainWindowTest() {
        platform::SetProgramDirectoryForTesting(dir.path());
        window = std::make_unique<MainWindow>(writer, queue);
        window->SetApplicationTitle("");
        window->Form().Guard([&] { window->Form().FormCreate(); });
        window->CreateAuxiliaryWindows();
    }
    ~MainWindowTest() override {
        window.reset();
        platform::SetProgramDirectoryForTesting("");
    }
    template <typename T> T* Find(const char* name) {
        T* w = window->findChild<T*>(name);
        EXPECT_NE(w, nullptr) << name;
        return w;
    }

    test::SystemGames system; // no game installed on this machine is found
    test::TempDir dir;
    CAviFile writer;
    platform::MainThreadQueue queue;
    std::unique_ptr<MainWindow> window;
};

QString Plain(const QString& caption) {
    return QString(caption).remove('&');
}

TEST_F(MainWindowTest, EveryControlIsWhereTheDesignPutsIt) {
    EXPECT_EQ(window->objectName(), "frmMain");
    EXPECT_EQ(window->windowTitle(), "Vexograph | PUBLIC BETA v0.5");
    EXPECT_EQ(window->size(), QSize(420, 448));
    EXPECT_EQ(window->minimumSize(), window->maximumSize()); // not resizable
    EXPECT_FALSE(window->windowFlags() & Qt::WindowMaximizeButtonHint);
    for (const Expected& e : kControls) {
        QWidget* w = Find<QWidget>(e.name);
        if (!w)
            continue;
        EXPECT_EQ(w->geometry(), QRect(e.x, e.y, e.w, e.h)) << e.name;
        EXPECT_EQ(w->toolTip(), QString(e.hint)) << e.name;
        if (!e.text)
            continue;
        QString text;
        if (auto* l = qobject_cast<QLabel*>(w))
            text = l->text();
        else if (auto* b = qobject_cast<QAbstractButton*>(w))
            text = b->text();
        EXPECT_EQ(text, QString(e.text)) << e.name;
    }
    QWidget* status = Find<QWidget>("status");
    QWidget* bar = status->parentWidget();
    EXPECT_EQ(bar->geometry(), QRect(0, 429, 420, 19));
    EXPECT_EQ(Find<QWidget>("Panel2")->geometry(), QRect(0, 0, 420, 31));
    EXPECT_EQ(Find<QWidget>("Panel1")->geometry(), QRect(0, 31, 420, 64));
    EXPECT_EQ(Find<QWidget>("imgAppBanner")->geometry(), QRect(0, 0, 420, 64));
    EXPECT_EQ(Find<QWidget>("Label11")->geometry(), QRect(16, 16, 37, 37));
}

TEST_F(MainWindowTest, CaptionsAreNotClipped) {
    for (const Expected& e : kControls) {
        QWidget* w = window->findChild<QWidget*>(e.name);
        if (!w || !e.text)
            continue;
        const QFontMetrics fm(w->font());
        const int textWidth = fm.horizontalAdvance(Plain(e.text));
        if (qobject_cast<QCheckBox*>(w))
            EXPECT_LE(w->sizeHint().width(), e.w) << e.name;
        else
            EXPECT_LE(textWidth, e.w) << e.name;
        EXPECT_LE(fm.height(), std::max(e.h, 13)) << e.name;
    }
}

TEST_F(MainWindowTest, InitialStatesAfterStartUp) {
    EXPECT_FALSE(Find<QPushButton>("btnStart")->isEnabled());
    EXPECT_TRUE(Find<QPushButton>("btnStart")->font().bold());
    EXPECT_TRUE(Find<QLineEdit>("edOutPath")->isReadOnly());
    EXPECT_TRUE(Find<QLineEdit>("edDemoName")->isReadOnly());
    EXPECT_FALSE(Find<QLineEdit>("edBasePath")->isReadOnly());
    EXPECT_TRUE(Find<QWidget>("labCodecName")->isHidden());
    EXPECT_TRUE(Find<QCheckBox>("cbWindowed")->isChecked());
    EXPECT_TRUE(Find<QCheckBox>("cbDrawGun")->isChecked());
    EXPECT_FALSE(Find<QCheckBox>("cbRealtime")->isChecked());
    EXPECT_FALSE(Find<QCheckBox>("cbDraw2D")->isChecked());
    EXPECT_EQ(Find<QLineEdit>("edAviFps")->text(), "25");
    EXPECT_EQ(Find<QLineEdit>("edFps")->text(), "35");
    EXPECT_EQ(Find<QLineEdit>("edTimeScale")->text(), "1.0");
    auto* modes = Find<QComboBox>("cbModes");
    ASSERT_EQ(modes->count(), 12);
    EXPECT_EQ(modes->itemText(0), "00 - 320 x 240");
    EXPECT_EQ(modes->itemText(11), "11 - 856 x 480");
    EXPECT_EQ(modes->currentText(), "03 - 640 x 480");
    auto* gammas = Find<QComboBox>("cbGammas");
    ASSERT_EQ(gammas->count(), 51);
    EXPECT_EQ(gammas->itemText(0), "0.0 - black");
    EXPECT_EQ(gammas->itemText(13), "1.3 - the tarvik network");
    EXPECT_EQ(gammas->itemText(50), "5.0 - need a doc?");
    EXPECT_EQ(gammas->currentText(), "1.0 - do not change");
    EXPECT_EQ(Find<QLabel>("status")->text(), "Ready.");
}

TEST_F(MainWindowTest, UserInputReachesTheLogicAndTheSettingsFile) {
    window->show();
    const std::string ini = dir / "vexo.ini";
    auto* fps = Find<QLineEdit>("edFps");
    fps->clear();
    QTest::keyClicks(fps, "60x");
    EXPECT_EQ(ReadIniString(ini, "settings", "fps", ""), "60");
    EXPECT_EQ(window->Form().Controls.edFps.Text(), "60x");

    QTest::mouseClick(Find<QCheckBox>("cbRealtime"), Qt::LeftButton);
    EXPECT_TRUE(window->Form().Controls.cbRealtime.Checked());
    EXPECT_EQ(ReadIniString(ini, "settings", "realtime", ""), "1");

    // Checking a demo lets the timer enable Start.
    auto* demos = Find<QListWidget>("clbDemos");
    ASSERT_EQ(demos->count(), 4);
    demos->item(2)->setCheckState(Qt::Checked);
    EXPECT_TRUE(window->Form().Controls.clbDemos.Checked(2));
    auto* start = Find<QPushButton>("btnStart");
    EXPECT_TRUE(QTest::qWaitFor([&] { return start->isEnabled(); }, 2000));

    // Values set by the logic show in the widgets.
    window->Form().Controls.edTimeScale.SetText("0.5");
    EXPECT_EQ(Find<QLineEdit>("edTimeScale")->text(), "0.5");
    window->Form().Controls.frmMain.SetEnabled(false);
    EXPECT_FALSE(window->isEnabled());
    window->Form().Controls.frmMain.SetEnabled(true);
}

// An error that escapes the event loop ends the program through the generic error box,
// captioned with the application title like every other error box.
TEST(ProgramTest, AnErrorThatEndsTheProgramIsCaptionedWithTheApplicationTitle) {
    test::TempDir dir;
    platform::SetProgramDirectoryForTesting(dir.path());
    CAviFile writer;
    QString caption, text;
    bool thrown = false;
    QTimer timer;
    QObject::connect(&timer, &QTimer::timeout, [&] {
        if (auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget())) {
            caption = box->windowTitle();
            text = box->text();
            box->accept();
        }
        for (QWidget* main : QApplication::topLevelWidgets())
            if (main->objectName() == "frmMain" && main->isVisible() && !thrown)
                // From a queued call inside the loop, as the timers must go on to answer.
                thrown = QMetaObject::invokeMethod(
                    main, [] { throw std::runtime_error("Lost the display"); },
                    Qt::QueuedConnection);
    });
    timer.start(10);
    EXPECT_EQ(RunProgram(writer), 1);
    EXPECT_EQ(caption, "Vexograph | PUBLIC BETA v0.5");
    EXPECT_EQ(text, "Lost the display.");
    platform::SetProgramDirectoryForTesting("");
}

} // namespace
} // namespace vexo
