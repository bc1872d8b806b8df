// The collector reads the next screenshot while the current frame is written. These cases
// check that this stays invisible: the same frames, texts and files as one file at a time.
#include <gtest/gtest.h>

#include <chrono>
#include <filesystem>
#include <thread>

#include "frames/avi_file.h"
#include "frames/dir_thread.h"
#include "media/vfw.h"
#include "support/tga_file.h"

namespace vexo {

using media::FOURCC_DIB, media::ICMF_COMPVARS_VALID, media::kCompVarsSize;
namespace {

using namespace std::chrono_literals;
namespace fs = std::filesystem;
using test::TempDir;
using test::WriteTga;

class ReadAheadTest : public ::testing::Test {
protected:
    ReadAheadTest() {
        fs::create_directories(shots);
        writer.CodecVars.cbSize = kCompVarsSize;
        writer.CodecVars.dwFlags = ICMF_COMPVARS_VALID;
        writer.CodecVars.fccHandler = FOURCC_DIB;
    }

    std::string Shot(int n) const {
        char name[32];
        std::snprintf(name, sizeof name, "/shot%04d.tga", n);
        return shots + name;
    }

    // Screenshots the game finished with long ago, so that each may be read ahead.
    void WriteOldShot(int n, uint8_t red) {
        WriteTga(Shot(n), 16, 8, red, 10, 200);
        fs::last_write_time(Shot(n), fs::file_time_type::clock::now() - 1h);
    }

    void Run() {
        ASSERT_TRUE(writer.Open(avi, 640, 480, 25, 1));
        CollectorUi ui;
        ui.Progress = [this](const FrameProgress& p) {
            const std::string t = FrameStatusText(p);
            texts.push_back(t);
            if (onStatus)
                onStatus(t);
        };
        ui.ErrorBox = [this](const std::string& t) { boxes.push_back(t); };
        auto collector = TDirThread::Create(queue, ui);
        collector->SetDirectory(shots);
        collector->SetMask("shot*.tga");
        collector->Interval = 20;
        collector->Writer = &writer;
        collector->Resume();
        const auto deadline = std::chrono::steady_clock::now() + 30s;
        while ((collector->Active() || !collector->CleanupDone()) &&
               std::chrono::steady_clock::now() < deadline) {
            queue.Drain();
            std::this_thread::sleep_for(1ms);
        }
        queue.Drain();
        ASSERT_FALSE(collector->Active());
        ASSERT_TRUE(collector->CleanupDone());
        writer.Close(0);
    }

    TempDir dir;
    std::string shots = dir / "screenshots";
    std::string avi = dir / "out.avi";
    CAviFile writer;
    platform::MainThreadQueue queue;
    std::vector<std::string> texts, boxes;
    std::function<void(const std::string&)> onStatus;
};

TEST_F(ReadAheadTest, AnUnreadableScreenshotStopsTheRunBeforeAnyLaterFileIsTaken) {
    for (int n = 0; n < 30; ++n)
        WriteOldShot(n, static_cast<uint8_t>(n * 8));
    test::WriteFile(Shot(10), "too short to be a picture");
    const auto laterSize = fs::file_size(Shot(11));
    Run();

    // Frames 0..9 in order, then frame 10 fails exactly as when read one at a time.
    const auto frames = test::DecodeFrames(avi, 16, 8);
    ASSERT_EQ(frames.size(), 10u);
    for (int n = 0; n < 10; ++n)
        EXPECT_EQ(static_cast<uint8_t>(frames[n][0]), n * 8) << "frame " << n;
    std::vector<std::string> expected;
    for (int n = 0; n <= 10; ++n)
        expected.push_back("Writing frame " + std::to_string(n) + " (shot" +
                           (n < 10 ? "000" : "00") + std::to_string(n) + ".tga) ...");
    for (int attempt = 0; attempt < 20; ++attempt)
        expected.push_back("Retrying frame 10 (" + std::to_string(attempt) + ") ...");
    expected.push_back("Failed.");
    EXPECT_EQ(texts, expected);
    ASSERT_EQ(boxes.size(), 1u);
    EXPECT_EQ(boxes[0], "Error reading a generated TGA file.");

    // The file read ahead during frame 9 or 10 was never taken: it stays, whole.
    EXPECT_FALSE(fs::exists(Shot(9)));
    EXPECT_FALSE(fs::exists(Shot(10)));
    ASSERT_TRUE(fs::exists(Shot(11)));
    EXPECT_EQ(fs::file_size(Shot(11)), laterSize);
    EXPECT_TRUE(fs::exists(Shot(29)));
}

// The second file is rewritten in the same size with its modification time unchanged, as
// on file systems whose time stamps are coarse.
TEST_F(ReadAheadTest, AScreenshotRewrittenBeforeItsTurnIsTakenInItsNewVersion) {
    const std::string whole = test::TgaBytes(16, 8, 90, 60, 30);
    test::WriteFile(Shot(0), whole.substr(0, whole.size() / 2)); // still being written
    for (int n = 1; n < 4; ++n)
        WriteOldShot(n, 40);
    const auto written = fs::last_write_time(Shot(1));
    onStatus = [&](const std::string& t) {
        if (t == "Retrying frame 0 (1) ...") {
            // The game finishes the first file and rewrites the second.
            test::WriteFile(Shot(0), whole);
            WriteTga(Shot(1), 16, 8, 170, 10, 200);
            fs::last_write_time(Shot(1), written);
        }
    };
    Run();
    EXPECT_TRUE(boxes.empty());
    const auto frames = test::DecodeFrames(avi, 16, 8);
    ASSERT_EQ(frames.size(), 4u);
    EXPECT_EQ(static_cast<uint8_t>(frames[0][0]), 90);
    EXPECT_EQ(static_cast<uint8_t>(frames[1][0]), 170);
    EXPECT_EQ(static_cast<uint8_t>(frames[2][0]), 40);
    EXPECT_EQ(static_cast<uint8_t>(frames[3][0]), 40);
}

} // namespace
} // namespace vexo
