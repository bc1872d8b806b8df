#include <gtest/gtest.h>

#include <QApplication>
#include <QCheckBox>
#include <QComboBox>
#include <QPushButton>
#include <QSlider>
#include <QSpinBox>
#include <QTimer>
#include <cstring>
#include <filesystem>
#include <functional>

#include "app/compressor_dialog.h"
#include "app/main_window.h"
#include "frames/avi_file.h"
#include "platform/fs.h"
#include "settings/codec_settings.h"
#include "settings/ini.h"
#include "support/temp_dir.h"

namespace vexo {
namespace {

COMPVARS Stored(FOURCC code) {
    COMPVARS vars;
    ResetCodecSettings(&vars, true);
    vars.fccType = ICTYPE_VIDEO;
    vars.fccHandler = code;
    return vars;
}

// Runs check on the compressor dialog once it shows as the modal window, then clicks one of
// its buttons. Polls, because the handler may process events before the dialog opens.
void WhenShown(const char* button, std::function<void(QWidget*)> check = {}) {
    auto* poll = new QTimer;
    poll->setInterval(5);
    QObject::connect(poll, &QTimer::timeout, [poll, button, check] {
        QWidget* dialog = QApplication::activeModalWidget();
        if (!dialog || dialog->objectName() != "dlgCompressor")
            return;
        poll->stop();
        poll->deleteLater();
        if (check)
            check(dialog);
        auto* b = dialog->findChild<QPushButton*>(button);
        ASSERT_NE(b, nullptr) << button;
        b->click();
    });
    poll->start();
}

TEST(CompressorDialogTest, ListsTheMachinesCompressors) {
    COMPVARS vars = Stored(kDefaultFourCC);
    CompressorDialog dialog(vars, "Video Compression");
    EXPECT_EQ(dialog.windowTitle(), "Video Compression");
    const std::vector<CompressorInfo> offered = ICEnumerateCompressors();
    auto* list = dialog.findChild<QComboBox*>("cbCompressor");
    ASSERT_NE(list, nullptr);
    ASSERT_EQ(list->count(), static_cast<int>(offered.size()));
    for (int i = 0; i < list->count(); ++i)
        EXPECT_EQ(list->itemText(i).toStdString(), offered[i].name);
    for (const char* name : {"sldQuality", "spnQuality", "cbKeyFrames", "spnKeyFrames",
                             "cbDataRate", "spnDataRate", "btnConfigure", "btnOk", "btnCancel"})
        EXPECT_NE(dialog.findChild<QWidget*>(name), nullptr) << name;
}

TEST(CompressorDialogTest, PreselectsTheStoredChoiceAndItsSettings) {
    const std::vector<CompressorInfo> offered = ICEnumerateCompressors();
    ASSERT_FALSE(offered.empty());
    ASSERT_TRUE(IsUncompressedCode(offered.front().fourcc));
    // Every code for uncompressed output selects the uncompressed entry.
    for (FOURCC code : {kDefaultFourCC, FOURCC_DIB, FOURCC(0)}) {
        COMPVARS vars = Stored(code);
        CompressorDialog dialog(vars, "Video Compression");
        EXPECT_EQ(dialog.findChild<QComboBox*>("cbCompressor")->currentIndex(), 0) << code;
        EXPECT_FALSE(dialog.findChild<QPushButton*>("btnConfigure")->isEnabled());
    }
    for (size_t i = 0; i < offered.size(); ++i) {
        if (IsUncompressedCode(offered[i].fourcc))
            continue;
        COMPVARS vars = Stored(offered[i].fourcc);
        CompressorDialog dialog(vars, "Video Compression");
        EXPECT_EQ(dialog.findChild<QComboBox*>("cbCompressor")->currentIndex(),
                  static_cast<int>(i));
        EXPECT_EQ(dialog.findChild<QSlider*>("sldQuality")->isEnabled(), offered[i].hasQuality);
        EXPECT_EQ(dialog.findChild<QPushButton*>("btnConfigure")->isEnabled(),
                  offered[i].hasOptions);
    }

    COMPVARS vars = Stored(kDefaultFourCC);
    vars.lQ = 7550;
    vars.lKey = 30;
    vars.lDataRate = 0;
    CompressorDialog dialog(vars, "Video Compression");
    EXPECT_EQ(dialog.findChild<QSlider*>("sldQuality")->value(), 76);
    EXPECT_TRUE(dialog.findChild<QCheckBox*>("cbKeyFrames")->isChecked());
    EXPECT_EQ(dialog.findChild<QSpinBox*>("spnKeyFrames")->value(), 30);
    EXPECT_FALSE(dialog.findChild<QCheckBox*>("cbDataRate")->isChecked());
}

TEST(CompressorDialogTest, ConfirmFillsTheRecordCancelLeavesIt) {
    COMPVARS vars = Stored(FOURCC_DIB);
    vars.lQ = 7550;
    vars.lKey = 30;
    const COMPVARS before = vars;
    WhenShown("btnCancel");
    EXPECT_EQ(ChooseCompressor(nullptr, vars, "Video Compression"), 0);
    EXPECT_EQ(std::memcmp(&vars, &before, sizeof vars), 0);

    // Confirmed unchanged: the exact quality survives the coarser slider.
    WhenShown("btnOk");
    ASSERT_EQ(ChooseCompressor(nullptr, vars, "Video Compression"), 1);
    EXPECT_TRUE(vars.dwFlags & ICMF_COMPVARS_VALID);
    EXPECT_EQ(vars.fccType, ICTYPE_VIDEO);
    EXPECT_EQ(vars.fccHandler, ICEnumerateCompressors().front().fourcc);
    EXPECT_EQ(vars.hic, nullptr);
    EXPECT_EQ(vars.lQ, 7550);
    EXPECT_EQ(vars.lKey, 30);
    EXPECT_EQ(vars.lDataRate, 0);

    // Changed settings reach the record.
    CompressorDialog dialog(vars, "Video Compression");
    dialog.findChild<QSlider*>("sldQuality")->setValue(40);
    dialog.findChild<QCheckBox*>("cbKeyFrames")->setChecked(false);
    dialog.findChild<QCheckBox*>("cbDataRate")->setChecked(true);
    dialog.findChild<QSpinBox*>("spnDataRate")->setValue(1200);
    dialog.Apply();
    EXPECT_EQ(vars.lQ, 4000);
    EXPECT_EQ(vars.lKey, 0);
    EXPECT_EQ(vars.lDataRate, 1200);
}

TEST(CompressorDialogTest, ChoosingACompressorHandsOverAnOpenHandle) {
    for (const CompressorInfo& info : ICEnumerateCompressors()) {
        if (IsUncompressedCode(info.fourcc))
            continue;
        SCOPED_TRACE(info.name);
        COMPVARS vars = Stored(kDefaultFourCC);
        CompressorDialog dialog(vars, "Video Compression");
        auto* list = dialog.findChild<QComboBox*>("cbCompressor");
        list->setCurrentIndex(list->findText(QString::fromStdString(info.name)));
        dialog.Apply();
        EXPECT_EQ(vars.fccHandler, info.fourcc);
        EXPECT_NE(vars.hic, nullptr);
        ICCompressorFree(&vars);
    }
}

// The Codec button of the real window, cancelled: the settings file stays as it was.
TEST(CodecButtonGuiTest, CancelWritesNothingToTheSettingsFile) {
    test::TempDir dir;
    platform::SetProgramDirectoryForTesting(dir.path());
    const std::string ini = dir / "vexo.ini";
    {
        CAviFile writer;
        platform::MainThreadQueue queue;
        MainWindow window(writer, queue);
        WhenShown("btnCancel");
        window.Form().btnCodecClick();
        EXPECT_FALSE(std::filesystem::exists(ini));

        WriteIniString(ini, "codec", "fcc", std::to_string(FOURCC_DIB));
        WriteIniString(ini, "codec", "key", "45");
        const std::string before = test::ReadFile(ini);
        // The stored key-frame interval is shown before the user cancels.
        WhenShown("btnCancel", [](QWidget* dialog) {
            EXPECT_EQ(dialog->findChild<QSpinBox*>("spnKeyFrames")->value(), 45);
        });
        window.Form().btnCodecClick();
        EXPECT_EQ(test::ReadFile(ini), before);
    }
    platform::SetProgramDirectoryForTesting("");
}

} // namespace
} // namespace vexo

int main(int argc, char** argv) {
    qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    ::testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
