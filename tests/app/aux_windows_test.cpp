// The About and Quick Help windows, and the logo's codec install, on the real widgets.
#include <gtest/gtest.h>

#include <QApplication>
#include <QFrame>
#include <QLabel>
#include <QMessageBox>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QTest>
#include <QTextBlock>
#include <QTimer>

#include "app/frm_about.h"
#include "app/frm_help.h"
#include "app/main_window.h"
#include "frames/avi_file.h"
#include "game/shortcuts.h"
#include "platform/fs.h"
#include "support/recording_window.h"
#include "support/temp_dir.h"

namespace vexo {
namespace {

class AuxWindowsTest : public ::testing::Test {
protected:
    AuxWindowsTest() {
        platform::SetProgramDirectoryForTesting(dir.path());
        window = std::make_unique<MainWindow>(writer, queue);
        window->Form().Guard([&] { window->Form().FormCreate(); });
        window->CreateAuxiliaryWindows();
    }
    ~AuxWindowsTest() override {
        window.reset();
        platform::SetProgramDirectoryForTesting("");
    }
    // Runs action once the next modal window is up; gives up after two seconds.
    void WhenModal(std::function<void(QWidget*)> action) {
        auto* poll = new QTimer(window.get());
        auto started = std::make_shared<int>(0);
        QObject::connect(poll, &QTimer::timeout, window.get(), [poll, action, started] {
            if (QWidget* modal = QApplication::activeModalWidget()) {
                poll->stop();
                poll->deleteLater();
                action(modal);
            } else if (++*started > 200) {
                poll->stop();
                ADD_FAILURE() << "no modal window appeared";
            }
        });
        poll->start(10);
    }

    test::TempDir dir;
    CAviFile writer;
    platform::MainThreadQueue queue;
    std::unique_ptr<MainWindow> window;
};

// The text of a label or button of a window.
QString TextOf(QWidget* window, const char* name) {
    QWidget* w = window->findChild<QWidget*>(name);
    if (auto* label = qobject_cast<QLabel*>(w))
        return label->text();
    if (auto* button = qobject_cast<QPushButton*>(w))
        return button->text();
    return "<missing " + QString(name) + ">";
}

TEST_F(AuxWindowsTest, LabelTextsAreNotClipped) {
    for (QDialog* dialog :
         {static_cast<QDialog*>(window->About()), static_cast<QDialog*>(window->Help())}) {
        for (QLabel* label : dialog->findChildren<QLabel*>()) {
            if (label->wordWrap() || label->text().isEmpty())
                continue;
            EXPECT_LE(label->fontMetrics().horizontalAdvance(label->text()), label->width())
                << label->objectName().toStdString();
            EXPECT_LE(label->geometry().right(), dialog->width()) << label->text().toStdString();
        }
    }
}

TEST_F(AuxWindowsTest, AboutShowsItsTextsAndClosesOnlyByItsButton) {
    TfrmAbout* about = window->About();
    ASSERT_NE(about, nullptr);
    EXPECT_FALSE(about->isVisible());
    EXPECT_EQ(about->windowTitle(), "About VEXO");
    EXPECT_FALSE(about->windowFlags() & Qt::WindowCloseButtonHint);
    EXPECT_EQ(TextOf(about, "Label1"), "Vexograph");
    EXPECT_EQ(TextOf(about, "Label2"), "PUBLIC BETA v0.5");
    EXPECT_EQ(TextOf(about, "Label6"),
              "The sole purpose of this utility is to turn Q3A demos into compressed or "
              "uncompressed AVI video files with basically just one click in order to simplify "
              "formerly time wasting and brain twisting Q3A video creation.");
    EXPECT_EQ(TextOf(about, "btnClose"), "&Yay");
    auto* panel = about->findChild<QFrame*>("Panel1");
    ASSERT_NE(panel, nullptr);
    auto* image = panel->findChild<QLabel*>("Image1");
    ASSERT_NE(image, nullptr);
    EXPECT_FALSE(image->pixmap().isNull());

    bool stayedOpen = false;
    WhenModal([&](QWidget* modal) {
        EXPECT_EQ(modal, about);
        QTest::keyClick(modal, Qt::Key_Escape);
        modal->close();
        stayedOpen = modal->isVisible();
        QTest::mouseClick(modal->findChild<QPushButton*>("btnClose"), Qt::LeftButton);
    });
    window->Form().btnAboutClick(); // returns when the window is closed
    EXPECT_TRUE(stayedOpen);
    EXPECT_FALSE(about->isVisible());
}

TEST_F(AuxWindowsTest, QuickHelpShowsTheFortyLinesAndCloses) {
    TfrmHelp* help = window->Help();
    ASSERT_NE(help, nullptr);
    EXPECT_EQ(help->windowTitle(), "VEXO Quick Help");
    EXPECT_EQ(TextOf(help, "Label1"), "scroll down for more...");
    EXPECT_EQ(TextOf(help, "btnClose"), "&Close");
    auto* memo = help->findChild<QPlainTextEdit*>("Memo1");
    ASSERT_NE(memo, nullptr);
    EXPECT_TRUE(memo->isReadOnly());
    const QTextDocument* doc = memo->document();
    ASSERT_EQ(doc->blockCount(), 40);
    auto line = [doc](int n) { return doc->findBlockByNumber(n - 1).text(); };
    EXPECT_EQ(line(1), "PLEASE REMEMBER! THIS IS A PUBLIC BETA RELEASE.");
    EXPECT_EQ(line(11),
              "3. click \"codec\" and select the video codec to use to compress your output avi ");
    EXPECT_EQ(line(39), "");
    EXPECT_EQ(line(40), "that's it. looks like a lot, but isn't really.");

    bool memoFocused = false;
    WhenModal([&](QWidget* modal) {
        EXPECT_EQ(modal, help);
        memoFocused = memo->hasFocus();
        QTest::mouseClick(modal->findChild<QPushButton*>("btnClose"), Qt::LeftButton);
    });
    window->Form().btnHelpClick();
    EXPECT_TRUE(memoFocused);
    WhenModal([&](QWidget* modal) { EXPECT_TRUE(modal->close()); }); // the close box
    window->Form().btnHelpClick();
    EXPECT_FALSE(help->isVisible());
}

TEST_F(AuxWindowsTest, CodecInstallWithoutItsSetupFileFails) {
    QString text, title;
    WhenModal([&](QWidget* modal) {
        auto* box = qobject_cast<QMessageBox*>(modal);
        ASSERT_NE(box, nullptr);
        text = box->text();
        title = box->windowTitle();
        EXPECT_EQ(box->icon(), QMessageBox::Critical);
        box->accept();
    });
    window->Form().Label11DblClick();
    EXPECT_EQ(text, "Huffyuv codec install failed.");
    EXPECT_EQ(title, "Error");
}

TEST_F(AuxWindowsTest, BannersAndLogoAnswerTheLeftButtonOnce) {
    test::RecordingWindow w(writer, queue);
    w.show();
    auto* donation = w.findChild<QWidget*>("imgPpBanner");
    auto* banner = w.findChild<QWidget*>("imgAppBanner");
    auto* logo = w.findChild<QWidget*>("Label11");
    auto doubleClick = [](QWidget* widget, Qt::MouseButton button) { // as the system sends it
        QTest::mouseClick(widget, button);
        QTest::mousePress(widget, button);
        QTest::mouseDClick(widget, button);
        QTest::mouseRelease(widget, button);
    };
    doubleClick(donation, Qt::RightButton);
    doubleClick(logo, Qt::RightButton);
    EXPECT_TRUE(w.shell.empty() && w.boxes.empty());
    doubleClick(donation, Qt::LeftButton);   // one click
    QTest::mouseClick(logo, Qt::LeftButton); // nothing
    QTest::mousePress(banner, Qt::LeftButton);
    QTest::mouseRelease(banner, Qt::LeftButton, {}, QPoint(-5, -5)); // let go outside: nothing
    doubleClick(logo, Qt::LeftButton); // the codec install, once (its file is missing)
    ASSERT_EQ(w.shell.size(), 1u);
    EXPECT_EQ(w.shell[0].file, kDonationAddress);
    EXPECT_EQ(w.boxes.size(), 1u);
}

} // namespace
} // namespace vexo
