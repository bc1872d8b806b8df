// The real window on a machine with Debian's OpenArena laid out (the data without an engine of
// its own, the system's engine beside it) and no program to open folders or files with (the
// offscreen platform has none): the buttons say what they could not do, and the dialogs
// start where the paths are.
#include <gtest/gtest.h>

#include <QApplication>
#include <QDialogButtonBox>
#include <QFileDialog>
#include <QLineEdit>
#include <QListWidget>
#include <QPushButton>
#include <QTest>
#include <QTimer>
#include <filesystem>

#include "app/main_window.h"
#include "frames/avi_file.h"
#include "platform/fs.h"
#include "platform/log.h"
#include "settings/ini.h"
#include "support/system_games.h"
#include "support/temp_dir.h"

namespace vexo {
namespace {

namespace fs = std::filesystem;
using test::WriteFile;

// The real window with its message boxes recorded instead of shown.
class BoxWindow : public MainWindow {
public:
    using MainWindow::MainWindow;
    int MessageBox(const std::string& text, const std::string&, unsigned) override {
        boxes.push_back(text);
        return IDOK;
    }
    std::vector<std::string> boxes;
};

class LocateAndShortcutsTest : public ::testing::Test {
protected:
    LocateAndShortcutsTest() {
        WriteFile(packaged + "/baseoa/pak0.pk3", "x");
        WriteFile(engine, "#!/bin/sh\n");
        fs::permissions(engine, fs::perms::owner_all);
        WriteFile(system.home / ".openarena/baseoa/demos/mine.dm_71", "x");
        WriteFile(program / "configs/default.cfg", "seta com_maxfps 125\n");
        WriteFile(program / "vexo.ini", "[paths]\noutput=" + out.path() + "\n");
        platform::SetProgramDirectoryForTesting(program.path());
        platform::SetLogListener([this](const std::string& line) { logged.push_back(line); });
        window = std::make_unique<BoxWindow>(writer, queue);
        window->Form().Guard([&] { window->Form().FormCreate(); });
        window->show();
    }
    ~LocateAndShortcutsTest() override {
        window.reset();
        platform::SetLogListener({});
        platform::SetProgramDirectoryForTesting("");
    }
    QPushButton* Button(const char* name) { return window->findChild<QPushButton*>(name); }
    // Clicks a button that opens a file dialog, answers the dialog with answer, and returns
    // the folder the dialog opened in.
    QString ClickForDialog(const char* button, const std::function<void(QFileDialog&)>& answer) {
        QString opened;
        QTimer timer;
        QObject::connect(&timer, &QTimer::timeout, [&] {
            if (auto* dialog = qobject_cast<QFileDialog*>(QApplication::activeModalWidget())) {
                timer.stop();
                opened = dialog->directory().absolutePath();
                answer(*dialog);
            }
        });
        timer.start(10);
        QTest::mouseClick(Button(button), Qt::LeftButton);
        return opened;
    }
    // Types path into the dialog's file name field and presses its Open button.
    static void Open(QFileDialog& dialog, const std::string& path) {
        auto* name = dialog.findChild<QLineEdit*>("fileNameEdit");
        ASSERT_TRUE(name);
        name->setText(QString::fromStdString(path)); // typed, without the completer's popup
        auto* open = dialog.findChild<QDialogButtonBox*>()->button(QDialogButtonBox::Open);
        ASSERT_TRUE(open && open->isEnabled());
        QTest::mouseClick(open, Qt::LeftButton);
    }
    void TypeGamePath(const char* text) {
        auto* path = window->findChild<QLineEdit*>("edBasePath");
        path->selectAll();
        QTest::keyClicks(path, text);
    }

    test::SystemGames system;
    const std::string packaged = system.root / "usr/lib/openarena";
    const std::string engine = system.root / "usr/lib/ioquake3/ioquake3";
    test::TempDir program, out;
    CAviFile writer;
    platform::MainThreadQueue queue;
    std::vector<std::string> logged;
    std::unique_ptr<BoxWindow> window;
};

TEST_F(LocateAndShortcutsTest, ButtonsThatCannotDoTheirJobSaySoAndStartSaysWhatToFix) {
    const MainControls& c = window->Form().Controls;
    ASSERT_EQ(c.edBasePath.Text(), packaged);
    QTest::mouseClick(Button("btnOpenModDir"), Qt::LeftButton);
    QTest::mouseClick(Button("btnEditConfig"), Qt::LeftButton);
    const std::string folder = system.home / ".openarena/baseoa";
    ASSERT_EQ(window->boxes.size(), 2u);
    EXPECT_EQ(window->boxes[0].rfind("The folder \"" + folder + "\" could not be opened", 0), 0u);
    EXPECT_EQ(window->boxes[1].rfind(
                  "The config \"" + program / "configs/default.cfg" + "\" could not be opened", 0),
              0u);
    EXPECT_NE(std::find(logged.begin(), logged.end(),
                        "shortcuts: no program was found to show the folder " + folder),
              logged.end());

    // A game path with no game: its demo list is emptied, and Start says what to fix.
    auto* demos = window->findChild<QListWidget*>("clbDemos");
    ASSERT_EQ(demos->count(), 1);
    TypeGamePath("X");
    EXPECT_EQ(demos->count(), 0);
    auto* start = Button("btnStart");
    ASSERT_TRUE(QTest::qWaitFor([&] { return start->isEnabled(); }, 2000));
    QTest::mouseClick(start, Qt::LeftButton);
    ASSERT_EQ(window->boxes.size(), 3u);
    EXPECT_EQ(window->boxes[2].rfind("There is no game in \"X\"", 0), 0u);
    EXPECT_FALSE(fs::exists(out / "baseoa_mine.avi"));
}

TEST_F(LocateAndShortcutsTest, TheLocateDialogTakesAGameFolderAndTheDialogsStartAtThePaths) {
    // A game folder as the package lays it out, without an engine of its own.
    const std::string mine = system.home / "My Games/oa";
    WriteFile(mine + "/baseoa/pak0.pk3", "x");
    TypeGamePath("X");
    // No game folder to start in: the first place the game is known to be installed.
    EXPECT_EQ(ClickForDialog("btnBasePathSet",
                             [&](QFileDialog& dialog) {
                                 Open(dialog, mine);
                                 if (dialog.isVisible()) // entered instead of chosen
                                     dialog.reject();
                             }),
              QString::fromStdString(packaged));
    const MainControls& c = window->Form().Controls;
    EXPECT_EQ(c.edBasePath.Text(), mine);
    EXPECT_EQ(ReadIniString(program / "vexo.ini", "paths", "quake", ""), mine);
    EXPECT_TRUE(window->boxes.empty());

    // A folder that is no game is entered, as in any file dialog, not chosen.
    EXPECT_EQ(ClickForDialog("btnBasePathSet",
                             [&](QFileDialog& dialog) {
                                 Open(dialog, mine + "/baseoa");
                                 EXPECT_TRUE(dialog.isVisible());
                                 EXPECT_EQ(dialog.directory().absolutePath().toStdString(),
                                           mine + "/baseoa");
                                 dialog.reject();
                             }),
              QString::fromStdString(mine));

    EXPECT_EQ(ClickForDialog("btnOutPathSet", [](QFileDialog& dialog) { dialog.reject(); }),
              QString::fromStdString(out.path()));
}

} // namespace
} // namespace vexo
