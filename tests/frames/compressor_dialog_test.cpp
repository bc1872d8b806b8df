// The compressor-choice dialog on real widgets (offscreen): what it lists and preselects,
// what OK and Cancel do to the record, the compressor's own options, and the Codec button of
// the real main window.
#include <gtest/gtest.h>

#include <QApplication>
#include <QCheckBox>
#include <QComboBox>
#include <QPushButton>
#include <QSlider>
#include <QSpinBox>
#include <QTimer>
#include <cstring>
#include <functional>
#include <memory>

#include "app/compressor_dialog.h"
#include "app/main_window.h"
#include "frames/avi_file.h"
#include "platform/fs.h"
#include "settings/codec_settings.h"
#include "settings/ini.h"
#include "support/temp_dir.h"

namespace vexo {
namespace {

template <typename T> T* Child(QWidget* parent, const char* name) {
    T* widget = parent->findChild<T*>(name);
    EXPECT_NE(widget, nullptr) << name;
    return widget;
}

// Runs action once the next modal window is up; gives up after two seconds.
void WhenModal(QObject* owner, std::function<void(QWidget*)> action) {
    auto* poll = new QTimer(owner);
    auto tries = std::make_shared<int>(0);
    QObject::connect(poll, &QTimer::timeout, owner, [poll, action, tries] {
        if (QWidget* modal = QApplication::activeModalWidget()) {
            poll->stop();
            poll->deleteLater();
            action(modal);
        } else if (++*tries > 200) {
            poll->stop();
            ADD_FAILURE() << "no modal window appeared";
        }
    });
    poll->start(10);
}

int UncompressedEntry(const std::vector<CompressorInfo>& list) {
    for (size_t i = 0; i < list.size(); ++i)
        if (IsUncompressedCode(list[i].fourcc))
            return static_cast<int>(i);
    return -1;
}

COMPVARS StoredRecord(FOURCC code) {
    COMPVARS vars;
    ResetCodecSettings(&vars, true);
    vars.fccType = ICTYPE_VIDEO;
    vars.fccHandler = code;
    vars.lQ = 4400;
    vars.lKey = 12;
    vars.lDataRate = 0;
    return vars;
}

TEST(CompressorDialogTest, ListsTheMachinesCompressorsAndPreselectsTheStoredOne) {
    const std::vector<CompressorInfo> machine = ICEnumerateCompressors();
    ASSERT_FALSE(machine.empty());
    const int uncompressed = UncompressedEntry(machine);
    ASSERT_EQ(uncompressed, 0) << "uncompressed output comes first";

    COMPVARS vars = StoredRecord(kDefaultFourCC);
    CompressorDialog dialog(vars, "Video Compression");
    EXPECT_EQ(dialog.windowTitle(), "Video Compression");
    auto* list = Child<QComboBox>(&dialog, "cbCompressor");
    ASSERT_TRUE(list);
    ASSERT_EQ(list->count(), static_cast<int>(machine.size()));
    for (int i = 0; i < list->count(); ++i)
        EXPECT_EQ(list->itemText(i).toStdString(), machine[static_cast<size_t>(i)].name);
    EXPECT_EQ(list->currentIndex(), uncompressed);
    EXPECT_EQ(Child<QSpinBox>(&dialog, "spinQuality")->value(), 44);
    EXPECT_EQ(Child<QSlider>(&dialog, "sliderQuality")->value(), 44);
    EXPECT_TRUE(Child<QCheckBox>(&dialog, "cbKeyFrames")->isChecked());
    EXPECT_EQ(Child<QSpinBox>(&dialog, "spinKeyFrames")->value(), 12);
    EXPECT_FALSE(Child<QCheckBox>(&dialog, "cbDataRate")->isChecked());

    // Every code of uncompressed output, every listed code, and an unknown code.
    for (FOURCC code : {FOURCC_DIB, FOURCC(0), MakeFourCC('n', 'o', 'n', 'e')}) {
        COMPVARS other = StoredRecord(code);
        CompressorDialog d(other, "t");
        EXPECT_EQ(Child<QComboBox>(&d, "cbCompressor")->currentIndex(), uncompressed) << code;
    }
    for (size_t i = 0; i < machine.size(); ++i) {
        COMPVARS other = StoredRecord(machine[i].fourcc);
        CompressorDialog d(other, "t");
        auto* box = Child<QComboBox>(&d, "cbCompressor");
        EXPECT_EQ(box->currentIndex(), static_cast<int>(i)) << machine[i].name;
        // What the compressor does not honour cannot be set.
        EXPECT_EQ(Child<QSlider>(&d, "sliderQuality")->isEnabled(), machine[i].hasQuality);
        EXPECT_EQ(Child<QCheckBox>(&d, "cbKeyFrames")->isEnabled(), machine[i].hasKeyFrames);
        EXPECT_EQ(Child<QCheckBox>(&d, "cbDataRate")->isEnabled(), machine[i].hasDataRate);
        EXPECT_EQ(Child<QPushButton>(&d, "btnConfigure")->isEnabled(), machine[i].hasOptions);
    }
}

TEST(CompressorDialogTest, CancelLeavesTheRecordAndOkFillsIt) {
    const std::vector<CompressorInfo> machine = ICEnumerateCompressors();
    COMPVARS vars = StoredRecord(kDefaultFourCC);
    COMPVARS before = vars;
    {
        CompressorDialog dialog(vars, "Video Compression");
        Child<QComboBox>(&dialog, "cbCompressor")
            ->setCurrentIndex(static_cast<int>(machine.size()) - 1);
        Child<QSpinBox>(&dialog, "spinQuality")->setValue(10);
        Child<QCheckBox>(&dialog, "cbDataRate")->setChecked(true);
        Child<QPushButton>(&dialog, "btnCancel")->click();
        EXPECT_EQ(dialog.result(), QDialog::Rejected);
    }
    EXPECT_EQ(std::memcmp(&vars, &before, sizeof vars), 0);

    for (size_t i = 0; i < machine.size(); ++i) {
        SCOPED_TRACE(machine[i].name);
        COMPVARS chosen = StoredRecord(kDefaultFourCC);
        CompressorDialog dialog(chosen, "Video Compression");
        Child<QComboBox>(&dialog, "cbCompressor")->setCurrentIndex(static_cast<int>(i));
        Child<QSlider>(&dialog, "sliderQuality")->setValue(55);
        Child<QCheckBox>(&dialog, "cbKeyFrames")->setChecked(true);
        Child<QSpinBox>(&dialog, "spinKeyFrames")->setValue(30);
        Child<QCheckBox>(&dialog, "cbDataRate")->setChecked(false);
        Child<QPushButton>(&dialog, "btnOK")->click();
        EXPECT_EQ(dialog.result(), QDialog::Accepted);
        EXPECT_TRUE(chosen.dwFlags & ICMF_COMPVARS_VALID);
        EXPECT_EQ(chosen.fccType, ICTYPE_VIDEO);
        EXPECT_EQ(chosen.fccHandler, machine[i].fourcc);
        EXPECT_EQ(chosen.lQ, 5500);
        EXPECT_EQ(chosen.lKey, 30);
        EXPECT_EQ(chosen.lDataRate, 0);
        EXPECT_EQ(chosen.hic == nullptr, IsUncompressedCode(machine[i].fourcc));
        ICCompressorFree(&chosen);
    }
}

// The first compressor with options of its own: Configure changes them on the handle the
// record receives; the stored options are what the dialog starts from.
TEST(CompressorDialogTest, ConfigureSetsTheCompressorsOwnOptions) {
    const std::vector<CompressorInfo> machine = ICEnumerateCompressors();
    const CompressorInfo* withOptions = nullptr;
    for (const CompressorInfo& info : machine)
        if (info.hasOptions) {
            withOptions = &info;
            break;
        }
    if (!withOptions)
        GTEST_SKIP() << "no compressor with options on this machine";

    COMPVARS vars = StoredRecord(withOptions->fourcc);
    vars.hic = ICOpen(ICTYPE_VIDEO, withOptions->fourcc, ICMODE_COMPRESS);
    ASSERT_NE(vars.hic, nullptr);
    std::vector<CompressorOption> options = ICGetOptions(vars.hic);
    ASSERT_FALSE(options.empty());
    const CompressorOption first = options[0];
    ASSERT_GE(first.choices.size(), 2u);
    const int wanted = first.value == 0 ? 1 : 0;

    CompressorDialog dialog(vars, "Video Compression");
    WhenModal(&dialog, [&](QWidget* modal) {
        auto* box = modal->findChild<QComboBox*>(QString::fromStdString("option_" + first.key));
        EXPECT_NE(box, nullptr);
        if (box) {
            EXPECT_EQ(box->currentIndex(), first.value);
            box->setCurrentIndex(wanted);
        }
        auto* ok = modal->findChild<QPushButton*>("btnOK");
        if (ok)
            ok->click();
    });
    Child<QPushButton>(&dialog, "btnConfigure")->click();
    // The record's own compressor is untouched until OK.
    EXPECT_EQ(ICGetOptions(vars.hic)[0].value, first.value);
    HIC old = vars.hic;
    Child<QPushButton>(&dialog, "btnOK")->click();
    ASSERT_NE(vars.hic, nullptr);
    EXPECT_NE(vars.hic, old);
    EXPECT_EQ(ICGetOptions(vars.hic)[0].value, wanted);
    ICCompressorFree(&vars);
}

class CodecButtonWindowTest : public ::testing::Test {
protected:
    CodecButtonWindowTest() {
        platform::SetProgramDirectoryForTesting(dir.path());
        window = std::make_unique<MainWindow>(writer, queue);
    }
    ~CodecButtonWindowTest() override {
        window.reset();
        platform::SetProgramDirectoryForTesting("");
    }
    std::string Ini() const { return dir / "vexo.ini"; }

    test::TempDir dir;
    CAviFile writer;
    platform::MainThreadQueue queue;
    std::unique_ptr<MainWindow> window;
};

TEST_F(CodecButtonWindowTest, CancelWritesNothingAndOkStoresTheChoice) {
    bool shown = false;
    WhenModal(window.get(), [&](QWidget* modal) {
        shown = modal->windowTitle() == "Video Compression";
        auto* cancel = modal->findChild<QPushButton*>("btnCancel");
        ASSERT_NE(cancel, nullptr);
        cancel->click();
    });
    window->Form().Guard([&] { window->Form().btnCodecClick(); });
    EXPECT_TRUE(shown);
    EXPECT_FALSE(platform::PathExists(Ini()));

    WhenModal(window.get(), [&](QWidget* modal) {
        auto* quality = modal->findChild<QSpinBox*>("spinQuality");
        ASSERT_NE(quality, nullptr);
        quality->setValue(77);
        modal->findChild<QPushButton*>("btnOK")->click();
    });
    window->Form().Guard([&] { window->Form().btnCodecClick(); });
    EXPECT_EQ(ReadIniString(Ini(), "codec", "qty", ""), "7700");
    EXPECT_EQ(ReadIniString(Ini(), "codec", "fcc", ""),
              std::to_string(ICEnumerateCompressors()[0].fourcc));
    EXPECT_EQ(window->Form().Controls.status.SimpleText(), "Saved compressor settings.");
}

} // namespace
} // namespace vexo

int main(int argc, char** argv) {
    qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    ::testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
