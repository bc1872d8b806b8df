// The real main window with its message boxes, shell calls and status texts recorded, on a
// game installation (with blanks in its name) whose quake3.exe is the stand-in game.
#pragma once

#include <gtest/gtest.h>

#include <QListWidget>
#include <QPushButton>
#include <QTest>
#include <algorithm>
#include <filesystem>
#include <functional>

#include "frames/avi_file.h"
#include "platform/fs.h"
#include "support/fake_host.h"
#include "support/recording_window.h"
#include "support/temp_dir.h"
#include "support/tga_file.h"

namespace vexo::test {

namespace fs = std::filesystem;

// A game installation with three short demos (ten frames each at 25 frames a second).
class GameTreeTest : public ::testing::Test {
protected:
    GameTreeTest() {
        LayOutStandInGame(VEXO_STAND_IN_GAME, base, mod);
        fs::create_directories(out);
        WriteConfig("set vexo_nopace 1\n");
        WriteFile(program.path() + "/vexo.ini",
                  "[paths]\nquake=" + base + "\noutput=" + out + "\n");
        platform::SetProgramDirectoryForTesting(program.path());
    }
    ~GameTreeTest() override {
        window.reset();
        platform::SetProgramDirectoryForTesting("");
    }
    void WriteConfig(const std::string& text) {
        WriteFile(program.path() + "/configs/default.cfg", "seta com_maxfps 125\n" + text);
    }
    RecordingWindow& Open() {
        window = std::make_unique<RecordingWindow>(writer, queue);
        window->Form().Guard([&] { window->Form().FormCreate(); });
        window->CreateAuxiliaryWindows();
        window->show();
        MainControls& c = window->Form().Controls;
        c.cbModes.SetItemIndex(0); // 320 x 240 keeps the files small
        c.edFps.SetText("25");
        return *window;
    }
    void Check(int item) {
        window->findChild<QListWidget*>("clbDemos")->item(item)->setCheckState(Qt::Checked);
    }
    void PressStart() {
        auto* start = window->findChild<QPushButton*>("btnStart");
        ASSERT_TRUE(QTest::qWaitFor([&] { return start->isEnabled(); }, 2000));
        QTest::mouseClick(start, Qt::LeftButton);
    }
    int Screenshots() const { return platform::CountMatchingFiles(mod + "/screenshots/shot*.tga"); }
    // The frame numbers the stand-in game painted into each decoded 320 x 240 frame.
    static std::vector<int> FrameNumbers(const std::string& avi) {
        std::vector<int> numbers;
        for (const std::string& frame : DecodeFrames(avi, 320, 240)) {
            numbers.push_back(static_cast<uint8_t>(frame[0]) |
                              (static_cast<uint8_t>(frame[1]) << 8));
            // The white rows are the bottom of the picture.
            EXPECT_EQ(static_cast<uint8_t>(frame[frame.size() - 1]), 255) << "upside down";
        }
        return numbers;
    }
    static std::vector<int> Sequence(int count) {
        std::vector<int> v;
        for (int i = 0; i < count; ++i)
            v.push_back(i);
        return v;
    }
    bool Contains(const std::vector<std::string>& texts, const std::string& text) const {
        return std::find(texts.begin(), texts.end(), text) != texts.end();
    }

    TempDir root, program;
    std::string base = root / "Quake III Arena";
    std::string mod = base + "/baseq3";
    std::string out = root / "videos";
    CAviFile writer;
    platform::MainThreadQueue queue;
    std::unique_ptr<RecordingWindow> window;
};

} // namespace vexo::test
