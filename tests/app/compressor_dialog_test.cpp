// The compressor-choice dialog on real widgets (offscreen): what it lists and preselects,
// what OK and Cancel do to the record, the compressor's own options, and the Codec button of
// the real main window.
#include <gtest/gtest.h>

#include <QApplication>
#include <QCheckBox>
#include <QComboBox>
#include <QLocale>
#include <QPushButton>
#include <QSlider>
#include <QSpinBox>
#include <QTimer>
#include <algorithm>
#include <cstring>
#include <functional>
#include <memory>
#include <tuple>
#include <utility>

#include "app/compressor_dialog.h"
#include "app/main_window.h"
#include "frames/avi_file.h"
#include "platform/fs.h"
#include "settings/codec_settings.h"
#include "support/temp_dir.h"

namespace vexo {

using media::COMPVARS, media::CompressorInfo, media::CompressorOption, media::FOURCC,
    media::FOURCC_DIB, media::ICCompressorFree, media::ICEnumerateCompressors, media::ICGetOptions,
    media::ICMF_COMPVARS_VALID, media::ICMODE_COMPRESS, media::ICOpen, media::ICTYPE_VIDEO,
    media::MakeFourCC, media::kDefaultFourCC;
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

COMPVARS StoredRecord(FOURCC code) {
    COMPVARS vars;
    ResetCodecSettings(&vars, true);
    vars.fccType = ICTYPE_VIDEO, vars.fccHandler = code, vars.lQ = 4400, vars.lKey = 12;
    return vars;
}

TEST(CompressorDialogTest, ListsPreselectsAndFillsTheRecordOnlyOnOk) {
    const std::vector<CompressorInfo> machine = ICEnumerateCompressors();
    ASSERT_FALSE(machine.empty());
    ASSERT_TRUE(IsUncompressedCode(machine[0].fourcc)) << "uncompressed output comes first";
    // Every code of uncompressed output and an unknown code select the first entry.
    for (FOURCC code : {kDefaultFourCC, FOURCC_DIB, FOURCC(0), MakeFourCC('n', 'o', 'n', 'e')}) {
        COMPVARS vars = StoredRecord(code);
        CompressorDialog dialog(vars, "Video Compression");
        auto* list = Child<QComboBox>(&dialog, "cbCompressor");
        ASSERT_EQ(list->count(), static_cast<int>(machine.size()));
        EXPECT_EQ(list->itemText(list->count() - 1).toStdString(), machine.back().name);
        EXPECT_EQ(list->currentIndex(), 0) << code;
        EXPECT_EQ(Child<QSlider>(&dialog, "sliderQuality")->value(), 44);
        EXPECT_TRUE(Child<QCheckBox>(&dialog, "cbKeyFrames")->isChecked());
        EXPECT_EQ(Child<QSpinBox>(&dialog, "spinKeyFrames")->value(), 12);
        EXPECT_FALSE(Child<QCheckBox>(&dialog, "cbDataRate")->isChecked());
        // Cancel leaves every byte of the record as it was.
        const COMPVARS before = vars;
        list->setCurrentIndex(list->count() - 1);
        Child<QSpinBox>(&dialog, "spinQuality")->setValue(10);
        Child<QPushButton>(&dialog, "btnCancel")->click();
        EXPECT_EQ(std::memcmp(&vars, &before, sizeof vars), 0);
    }
    for (size_t i = 0; i < machine.size(); ++i) {
        SCOPED_TRACE(machine[i].name);
        COMPVARS vars = StoredRecord(machine[i].fourcc);
        CompressorDialog dialog(vars, "Video Compression");
        EXPECT_EQ(Child<QComboBox>(&dialog, "cbCompressor")->currentIndex(), static_cast<int>(i));
        // What the compressor does not honour cannot be set.
        EXPECT_EQ(Child<QSlider>(&dialog, "sliderQuality")->isEnabled(), machine[i].hasQuality);
        EXPECT_EQ(Child<QCheckBox>(&dialog, "cbKeyFrames")->isEnabled(), machine[i].hasKeyFrames);
        EXPECT_EQ(Child<QCheckBox>(&dialog, "cbDataRate")->isEnabled(), machine[i].hasDataRate);
        EXPECT_EQ(Child<QPushButton>(&dialog, "btnConfigure")->isEnabled(), machine[i].hasOptions);
        Child<QSlider>(&dialog, "sliderQuality")->setValue(55);
        Child<QSpinBox>(&dialog, "spinKeyFrames")->setValue(30);
        Child<QCheckBox>(&dialog, "cbDataRate")->setChecked(true);
        Child<QSpinBox>(&dialog, "spinDataRate")->setValue(640);
        vars.dwFlags = 0;
        Child<QPushButton>(&dialog, "btnOK")->click();
        EXPECT_TRUE(vars.dwFlags & ICMF_COMPVARS_VALID);
        EXPECT_EQ(vars.fccType, ICTYPE_VIDEO);
        EXPECT_EQ(vars.fccHandler, machine[i].fourcc);
        EXPECT_EQ(std::make_tuple(vars.lQ, vars.lKey, vars.lDataRate),
                  std::make_tuple(5500, 30, 640));
        EXPECT_EQ(vars.hic == nullptr, IsUncompressedCode(machine[i].fourcc));
        ICCompressorFree(&vars);
    }
}

// The controls show whole percents; a stored quality between them survives an OK that did
// not touch it, and moving the control back and forth counts as a choice.
TEST(CompressorDialogTest, UntouchedQualityIsKeptExactly) {
    for (auto [stored, kept] : {std::pair{7550, 7550}, std::pair{9999, 9999},
                                std::pair{20000, 10000}, std::pair{-1, 0}}) {
        COMPVARS vars = StoredRecord(FOURCC_DIB);
        vars.lQ = stored;
        CompressorDialog dialog(vars, "Video Compression");
        Child<QCheckBox>(&dialog, "cbKeyFrames")->setChecked(false);
        Child<QPushButton>(&dialog, "btnOK")->click();
        EXPECT_EQ(vars.lQ, kept) << stored;
        EXPECT_EQ(vars.lKey, 0);
    }
    COMPVARS vars = StoredRecord(FOURCC_DIB);
    vars.lQ = 7550;
    CompressorDialog dialog(vars, "Video Compression");
    auto* slider = Child<QSlider>(&dialog, "sliderQuality");
    const int shown = slider->value();
    EXPECT_EQ(shown, 75);
    slider->setValue(shown + 1);
    slider->setValue(shown);
    Child<QPushButton>(&dialog, "btnOK")->click();
    EXPECT_EQ(vars.lQ, 7500);
}

// The numbers show in plain digits whatever the desktop's language (Arabic has its own).
TEST(CompressorDialogTest, NumbersDoNotFollowTheDesktopLanguage) {
    const QLocale before;
    QLocale::setDefault(QLocale(QLocale::Arabic, QLocale::Egypt));
    COMPVARS vars = StoredRecord(FOURCC_DIB);
    CompressorDialog dialog(vars, "Video Compression");
    QLocale::setDefault(before);
    EXPECT_EQ(Child<QSpinBox>(&dialog, "spinQuality")->text(), "44");
}

// Configure changes the options on the handle the record receives on OK, starting from the
// options the record's compressor holds, which stay untouched meanwhile.
TEST(CompressorDialogTest, ConfigureSetsTheCompressorsOwnOptions) {
    const std::vector<CompressorInfo> machine = ICEnumerateCompressors();
    auto it = std::find_if(machine.begin(), machine.end(), [](auto& c) { return c.hasOptions; });
    if (it == machine.end())
        GTEST_SKIP() << "no compressor with options on this machine";
    COMPVARS vars = StoredRecord(it->fourcc);
    vars.hic = ICOpen(ICTYPE_VIDEO, it->fourcc, ICMODE_COMPRESS);
    ASSERT_NE(vars.hic, nullptr);
    const CompressorOption first = ICGetOptions(vars.hic).at(0);
    const int wanted = first.value == 0 ? 1 : 0;

    CompressorDialog dialog(vars, "Video Compression");
    WhenModal(&dialog, [&](QWidget* modal) {
        auto* box = Child<QComboBox>(modal, ("option_" + first.key).c_str());
        EXPECT_EQ(box->currentIndex(), first.value);
        box->setCurrentIndex(wanted);
        Child<QPushButton>(modal, "btnOK")->click();
    });
    Child<QPushButton>(&dialog, "btnConfigure")->click();
    EXPECT_EQ(ICGetOptions(vars.hic)[0].value, first.value);
    Child<QPushButton>(&dialog, "btnOK")->click();
    EXPECT_EQ(ICGetOptions(vars.hic).at(0).value, wanted);
    ICCompressorFree(&vars);
}

std::vector<std::string> Items(QComboBox* box) {
    std::vector<std::string> items;
    for (int i = 0; i < box->count(); ++i)
        items.push_back(box->itemText(i).toStdString());
    return items;
}

// The container chosen lists the compressors it holds and the sounds it takes; a compressor
// it holds stays chosen, else H.264; a compressor chosen afresh starts at its own quality.
TEST(CompressorDialogTest, TheContainerListsWhatItHolds) {
    using media::Container, media::OutputFormat, media::SoundCodec;
    COMPVARS vars = StoredRecord(kDefaultFourCC);
    OutputFormat output;
    int subFrames = 8;
    CompressorDialog dialog(vars, output, "Video Compression", nullptr, &subFrames);
    auto* blur = Child<QComboBox>(&dialog, "cbMotionBlur");
    EXPECT_EQ(Items(blur),
              (std::vector<std::string>{"Off", "2 sub-frames", "4 sub-frames", "8 sub-frames",
                                        "16 sub-frames", "32 sub-frames"}));
    EXPECT_EQ(blur->currentText().toStdString(), "8 sub-frames");
    blur->setCurrentIndex(2);
    auto* container = Child<QComboBox>(&dialog, "cbContainer");
    auto* list = Child<QComboBox>(&dialog, "cbCompressor");
    auto* sound = Child<QComboBox>(&dialog, "cbSound");
    EXPECT_EQ(Items(container),
              (std::vector<std::string>{"AVI (.avi)", "Matroska (.mkv)", "MP4 (.mp4)"}));
    EXPECT_EQ(Items(sound), std::vector<std::string>{"PCM (uncompressed)"});
    container->setCurrentIndex(2);
    std::vector<std::string> names;
    for (const CompressorInfo& info : ICEnumerateCompressors(Container::Mp4))
        names.push_back(info.name);
    EXPECT_EQ(Items(list), names);
    EXPECT_EQ(list->currentText().toStdString(), "H.264 (x264)");
    EXPECT_EQ(Child<QSlider>(&dialog, "sliderQuality")->value(), 68);
    EXPECT_EQ(Items(sound), std::vector<std::string>{"AAC"});
    container->setCurrentIndex(1);
    EXPECT_EQ(list->currentText().toStdString(), "H.264 (x264)");
    EXPECT_EQ(Items(sound), (std::vector<std::string>{"PCM (uncompressed)", "Opus"}));
    sound->setCurrentIndex(1);
    Child<QPushButton>(&dialog, "btnOK")->click();
    EXPECT_TRUE(output == (OutputFormat{Container::Matroska, SoundCodec::Opus}));
    EXPECT_EQ(subFrames, 4);
    EXPECT_EQ(vars.fccHandler, MakeFourCC('H', '2', '6', '4'));
    EXPECT_EQ(vars.lQ, 6800);
    ICCompressorFree(&vars);
}

TEST(CodecButtonWindowTest, CancelWritesNothing) {
    test::TempDir dir;
    platform::SetProgramDirectoryForTesting(dir.path());
    CAviFile writer;
    platform::MainThreadQueue queue;
    auto window = std::make_unique<MainWindow>(writer, queue);
    QString title;
    WhenModal(window.get(), [&](QWidget* modal) {
        title = modal->windowTitle();
        Child<QPushButton>(modal, "btnCancel")->click();
    });
    window->Form().Guard([&] { window->Form().btnCodecClick(); });
    EXPECT_EQ(title, "Video Compression");
    EXPECT_FALSE(platform::PathExists(dir / "vexo.ini"));
    window.reset();
    platform::SetProgramDirectoryForTesting("");
}

} // namespace
} // namespace vexo
