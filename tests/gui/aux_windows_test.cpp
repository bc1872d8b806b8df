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
#include "platform/fs.h"
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
    template <typename T> T* Find(QWidget* parent, const char* name) {
        T* w = parent->findChild<T*>(name);
        EXPECT_NE(w, nullptr) << name;
        return w;
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

struct Expected {
    const char* name;
    QRect geometry;
    const char* text;
};

TEST_F(AuxWindowsTest, AboutHoldsEveryControl) {
    TfrmAbout* about = window->About();
    ASSERT_NE(about, nullptr);
    EXPECT_FALSE(about->isVisible());
    EXPECT_EQ(about->windowTitle(), "About VEXO");
    EXPECT_EQ(about->size(), QSize(233, 194));
    EXPECT_EQ(about->minimumSize(), about->maximumSize());
    EXPECT_FALSE(about->windowFlags() & Qt::WindowCloseButtonHint);
    EXPECT_FALSE(about->windowFlags() & Qt::WindowSystemMenuHint);

    const Expected labels[] = {
        {"Label1", {32, 8, 145, 13}, "Vexograph"},
        {"Label2", {32, 20, 97, 13}, "PUBLIC BETA v0.5"},
        {"Label3", {32, 44, 169, 13}, "2026 The Vexograph team"},
        {"Label4", {32, 56, 128, 13}, "team@vexograph.example"},
        {"Label6",
         {32, 80, 189, 61},
         "The sole purpose of this utility is to turn Q3A demos into compressed or "
         "uncompressed AVI video files with basically just one click in order to simplify "
         "formerly time wasting and brain twisting Q3A video creation."},
        {"Label7", {28, 148, 197, 13}, "https://vexograph.example"},
    };
    for (const Expected& e : labels) {
        auto* label = Find<QLabel>(about, e.name);
        if (!label)
            continue;
        EXPECT_EQ(label->geometry(), e.geometry) << e.name;
        EXPECT_EQ(label->text(), QString(e.text)) << e.name;
    }
    EXPECT_TRUE(Find<QLabel>(about, "Label1")->font().bold());
    EXPECT_TRUE(Find<QLabel>(about, "Label6")->wordWrap());
    EXPECT_EQ(Find<QLabel>(about, "Label6")->font().pixelSize(), 9);

    auto* panel = Find<QFrame>(about, "Panel1");
    EXPECT_EQ(panel->geometry(), QRect(8, 8, 17, 109));
    auto* image = Find<QLabel>(panel, "Image1");
    EXPECT_FALSE(image->pixmap().isNull());
    EXPECT_TRUE(panel->rect().contains(image->geometry()));
    auto* bevel = Find<QFrame>(about, "Bevel1");
    EXPECT_EQ(bevel->geometry(), QRect(28, 142, 197, 5));
    auto* yay = Find<QPushButton>(about, "btnClose");
    EXPECT_EQ(yay->geometry(), QRect(152, 160, 73, 25));
    EXPECT_EQ(yay->text(), "&Yay");
    EXPECT_TRUE(yay->isDefault());
}

TEST_F(AuxWindowsTest, AboutClosesOnlyByItsButton) {
    TfrmAbout* about = window->About();
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

TEST_F(AuxWindowsTest, QuickHelpShowsTheFortyLines) {
    TfrmHelp* help = window->Help();
    ASSERT_NE(help, nullptr);
    EXPECT_FALSE(help->isVisible());
    EXPECT_EQ(help->windowTitle(), "VEXO Quick Help");
    EXPECT_EQ(help->size(), QSize(420, 290));
    EXPECT_TRUE(help->windowFlags() & Qt::WindowCloseButtonHint);

    auto* memo = Find<QPlainTextEdit>(help, "Memo1");
    EXPECT_EQ(memo->geometry(), QRect(8, 8, 405, 249));
    EXPECT_TRUE(memo->isReadOnly());
    EXPECT_EQ(memo->lineWrapMode(), QPlainTextEdit::WidgetWidth);
    EXPECT_EQ(memo->verticalScrollBarPolicy(), Qt::ScrollBarAlwaysOn);
    const QTextDocument* doc = memo->document();
    ASSERT_EQ(doc->blockCount(), 40);
    auto line = [doc](int n) { return doc->findBlockByNumber(n - 1).text(); };
    EXPECT_EQ(line(1), "PLEASE REMEMBER! THIS IS A PUBLIC BETA RELEASE.");
    EXPECT_EQ(line(2), "");
    EXPECT_EQ(line(11),
              "3. click \"codec\" and select the video codec to use to compress your output avi ");
    EXPECT_EQ(line(20), "2. select a config to use. config files are placed in a folder called "
                        "\"configs\" in ");
    EXPECT_EQ(line(39), "");
    EXPECT_EQ(line(40), "that's it. looks like a lot, but isn't really.");

    auto* label = Find<QLabel>(help, "Label1");
    EXPECT_EQ(label->geometry(), QRect(8, 260, 124, 13));
    EXPECT_EQ(label->text(), "scroll down for more...");
    auto* close = Find<QPushButton>(help, "btnClose");
    EXPECT_EQ(close->geometry(), QRect(340, 260, 75, 25));
    EXPECT_EQ(close->text(), "&Close");
}

TEST_F(AuxWindowsTest, QuickHelpClosesByButtonAndCloseBox) {
    TfrmHelp* help = window->Help();
    bool memoFocused = false;
    WhenModal([&](QWidget* modal) {
        EXPECT_EQ(modal, help);
        memoFocused = modal->findChild<QPlainTextEdit*>("Memo1")->hasFocus();
        QTest::mouseClick(modal->findChild<QPushButton*>("btnClose"), Qt::LeftButton);
    });
    window->Form().btnHelpClick();
    EXPECT_FALSE(help->isVisible());
    EXPECT_TRUE(memoFocused);

    WhenModal([&](QWidget* modal) { EXPECT_TRUE(modal->close()); });
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

} // namespace
} // namespace vexo

int main(int argc, char** argv) {
    qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    ::testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
