#include <gtest/gtest.h>

#include <chrono>
#include <filesystem>
#include <thread>

#include "frames/avi_file.h"
#include "frames/dir_thread.h"
#include "media/vfw.h"
#include "support/tga_file.h"

namespace vexo {

using media::FOURCC, media::FOURCC_DIB, media::FourCCToString, media::ICMF_COMPVARS_VALID,
    media::MakeFourCC, media::kCompVarsSize;
namespace {

using namespace std::chrono_literals;
namespace fs = std::filesystem;
using test::TempDir;
using test::WriteTga;

// A collector on a temporary screenshot folder writing into an uncompressed AVI file.
class CollectorTest : public ::testing::Test {
protected:
    CollectorTest() {
        fs::create_directories(shots);
        writer.CodecVars.cbSize = kCompVarsSize;
        writer.CodecVars.dwFlags = ICMF_COMPVARS_VALID;
        writer.CodecVars.fccHandler = FOURCC_DIB;
        writer.CodecVars.lQ = 10000;
    }

    std::shared_ptr<TDirThread> Make(int interval = 30) {
        CollectorUi ui;
        ui.Progress = [this](const FrameProgress& p) {
            const std::string t = FrameStatusText(p);
            texts.push_back(t);
            if (onStatus)
                onStatus(t);
            if (!FrameTitleText(p).empty())
                titles.push_back(FrameTitleText(p));
        };
        ui.ErrorBox = [this](const std::string& t) { boxes.push_back(t); };
        auto collector = TDirThread::Create(queue, ui);
        collector->SetDirectory(shots);
        collector->SetMask("shot*.tga");
        collector->Interval = interval;
        collector->Writer = &writer;
        return collector;
    }

    // Handles the main thread's share until the collector has stopped and cleaned up.
    void RunToEnd(TDirThread& collector) {
        const auto deadline = std::chrono::steady_clock::now() + 30s;
        while ((collector.Active() || !collector.CleanupDone()) &&
               std::chrono::steady_clock::now() < deadline) {
            queue.Drain();
            std::this_thread::sleep_for(1ms);
        }
        queue.Drain();
        ASSERT_FALSE(collector.Active());
        ASSERT_TRUE(collector.CleanupDone());
    }

    // The "Writing frame" status texts, in order.
    std::vector<std::string> WritingTexts() const {
        std::vector<std::string> writing;
        for (const std::string& t : texts)
            if (t.rfind("Writing frame ", 0) == 0)
                writing.push_back(t);
        return writing;
    }

    int Count(const std::string& text) const {
        return static_cast<int>(std::count(texts.begin(), texts.end(), text));
    }

    TempDir dir;
    std::string shots = dir / "screenshots";
    std::string avi = dir / "out.avi";
    CAviFile writer;
    platform::MainThreadQueue queue;
    std::vector<std::string> texts, titles, boxes;
    std::function<void(const std::string&)> onStatus;
};

TEST_F(CollectorTest, TenScreenshotsBecomeFramesInOrderAndAreDeleted) {
    // Written in an order the directory need not keep.
    for (int n : {7, 2, 9, 0, 4, 1, 8, 3, 6, 5}) {
        char name[32];
        std::snprintf(name, sizeof name, "/shot%04d.tga", n);
        WriteTga(shots + name, 16, 8, static_cast<uint8_t>(n * 20), 10, 200);
    }
    WriteTga(shots + "/notes.tga", 16, 8, 0, 0, 0); // does not match the mask
    ASSERT_TRUE(writer.Open(avi, 640, 480, 25, 1));
    auto collector = Make();
    collector->Resume();
    RunToEnd(*collector);
    writer.Close(0);

    EXPECT_TRUE(boxes.empty());
    EXPECT_EQ(collector->FrameCounter(), 10);
    const std::vector<std::string> writing = WritingTexts();
    ASSERT_EQ(writing.size(), 10u);
    EXPECT_EQ(writing[0], "Writing frame 0 (shot0000.tga) ...");
    EXPECT_EQ(writing[9], "Writing frame 9 (shot0009.tga) ...");
    EXPECT_EQ(titles.front(), "VEXO [ shot0000.tga ]");
    EXPECT_EQ(Count("Sensing..."), 3);
    EXPECT_EQ(texts.back(), "Sensing...");

    const auto frames = test::DecodeFrames(avi, 16, 8);
    ASSERT_EQ(frames.size(), 10u);
    for (int n = 0; n < 10; ++n) {
        EXPECT_EQ(static_cast<uint8_t>(frames[n][0]), n * 20) << "frame " << n;
        // The white line is the bottom of the picture.
        EXPECT_EQ(static_cast<uint8_t>(frames[n][7 * 16 * 3]), 255);
    }
    for (int n = 0; n < 10; ++n) {
        char name[32];
        std::snprintf(name, sizeof name, "/shot%04d.tga", n);
        EXPECT_FALSE(fs::exists(shots + name)) << name;
    }
    EXPECT_TRUE(fs::exists(shots + "/notes.tga"));

    // The next collector (the next demo) starts again at frame 0.
    WriteTga(shots + "/shot0000.tga", 16, 8, 1, 2, 3);
    ASSERT_TRUE(writer.Open(dir / "second.avi", 640, 480, 25, 1));
    texts.clear();
    auto next = Make();
    next->Resume();
    RunToEnd(*next);
    writer.Close(0);
    EXPECT_EQ(texts.front(), "Writing frame 0 (shot0000.tga) ...");
}

// Whichever the compressor, each screenshot becomes exactly one frame, in order: also while
// screenshots are read ahead and made into frames on another thread (all of them, or every
// other one where frames are compressed apart), and when one is of a kind (run-length) that
// only the image reader reads.
TEST_F(CollectorTest, EveryScreenshotBecomesOneFrameInOrderWhicheverTheCompressor) {
    constexpr int kShots = 24, kRunLength = 11;
    for (FOURCC code :
         {FOURCC_DIB, MakeFourCC('H', 'F', 'Y', 'U'), MakeFourCC('F', 'F', 'V', '1')}) {
        SCOPED_TRACE(FourCCToString(code));
        for (int n = 0; n < kShots; ++n) {
            char name[32];
            std::snprintf(name, sizeof name, "/shot%04d.tga", n);
            const auto red = static_cast<uint8_t>(n * 10);
            if (n == kRunLength) {
                // 16 x 8 pixels in one run of 128.
                std::string rle = test::TgaBytes(16, 8, 0, 0, 0).substr(0, 18);
                rle[2] = 10;
                rle += {static_cast<char>(0xFF), 7, 9, static_cast<char>(red)};
                rle.resize(30, '\0'); // a TGA file has at least 30 bytes
                test::WriteFile(shots + name, rle);
            } else {
                WriteTga(shots + name, 16, 8, red, 9, 7);
            }
        }
        texts.clear();
        writer.CodecVars.fccHandler = code;
        ASSERT_TRUE(writer.Open(avi, 640, 480, 25, 1));
        auto collector = Make();
        collector->Resume();
        RunToEnd(*collector);
        writer.Close(0);

        EXPECT_TRUE(boxes.empty());
        const std::vector<std::string> writing = WritingTexts();
        ASSERT_EQ(writing.size(), static_cast<size_t>(kShots));
        EXPECT_EQ(writing[kRunLength], "Writing frame 11 (shot0011.tga) ...");
        const auto frames = test::DecodeFrames(avi, 16, 8);
        ASSERT_EQ(frames.size(), static_cast<size_t>(kShots));
        for (int n = 0; n < kShots; ++n) {
            EXPECT_EQ(static_cast<uint8_t>(frames[n][0]), n * 10) << "frame " << n;
            EXPECT_EQ(static_cast<uint8_t>(frames[n][1]), 9) << "frame " << n;
        }
        EXPECT_TRUE(fs::is_empty(shots));
    }
}

TEST_F(CollectorTest, AnUnreadableScreenshotIsRetriedTwentyTimesThenReported) {
    test::WriteFile(shots + "/shot0000.tga", "too short to be a picture");
    ASSERT_TRUE(writer.Open(avi, 640, 480, 25, 1));
    auto collector = Make();
    collector->Resume();
    RunToEnd(*collector);
    writer.Close(0);

    std::vector<std::string> retries;
    for (const std::string& t : texts)
        if (t.rfind("Retrying frame ", 0) == 0)
            retries.push_back(t);
    ASSERT_EQ(retries.size(), 20u);
    EXPECT_EQ(retries.front(), "Retrying frame 0 (0) ...");
    EXPECT_EQ(retries.back(), "Retrying frame 0 (19) ...");
    EXPECT_EQ(texts.back(), "Failed.");
    ASSERT_EQ(boxes.size(), 1u);
    EXPECT_EQ(boxes[0], "Error reading a generated TGA file.");
    EXPECT_FALSE(fs::exists(shots + "/shot0000.tga")); // taken, so deleted at the end
}

TEST_F(CollectorTest, AScreenshotStillBeingWrittenIsRetriedNeverTorn) {
    const std::string whole = test::TgaBytes(16, 8, 90, 60, 30);
    test::WriteFile(shots + "/shot0000.tga", whole.substr(0, whole.size() / 2));
    onStatus = [&](const std::string& t) {
        if (t == "Retrying frame 0 (1) ...")
            test::WriteFile(shots + "/shot0000.tga", whole); // the game finishes the file
    };
    ASSERT_TRUE(writer.Open(avi, 640, 480, 25, 1));
    auto collector = Make();
    collector->Resume();
    RunToEnd(*collector);
    writer.Close(0);
    EXPECT_TRUE(boxes.empty());
    const auto frames = test::DecodeFrames(avi, 16, 8);
    ASSERT_EQ(frames.size(), 1u);
    // Every pixel above the white bottom line holds the finished colour.
    for (int i = 0; i < 16 * 7; ++i)
        ASSERT_EQ(static_cast<uint8_t>(frames[0][i * 3]), 90) << "pixel " << i;
}

// Screenshots the game writes while a scan is taking others are taken in the same scan,
// not an interval later.
TEST_F(CollectorTest, ScreenshotsArrivingDuringAScanAreTakenInIt) {
    WriteTga(shots + "/shot0000.tga", 16, 8, 0, 0, 0);
    const std::string whole = test::TgaBytes(16, 8, 20, 0, 0);
    test::WriteFile(shots + "/shot0001.tga", whole.substr(0, 40)); // still being written
    std::chrono::steady_clock::time_point first, last;
    std::shared_ptr<TDirThread> collector;
    onStatus = [&](const std::string& t) {
        if (t == "Writing frame 0 (shot0000.tga) ...")
            first = std::chrono::steady_clock::now();
        if (t == "Retrying frame 1 (0) ...") {
            // While the scan waits for this file, the game finishes it and writes two more.
            test::WriteFile(shots + "/shot0001.tga", whole);
            WriteTga(shots + "/shot0002.tga", 16, 8, 40, 0, 0);
            WriteTga(shots + "/shot0003.tga", 16, 8, 60, 0, 0);
        }
        if (t == "Writing frame 3 (shot0003.tga) ...") {
            last = std::chrono::steady_clock::now();
            collector->Terminate(); // after this file; no need to wait for idle scans
        }
    };
    ASSERT_TRUE(writer.Open(avi, 640, 480, 25, 1));
    collector = Make(2000);
    collector->Resume();
    RunToEnd(*collector);
    writer.Close(0);
    EXPECT_TRUE(boxes.empty());
    ASSERT_EQ(collector->FrameCounter(), 4);
    // The next scan would have come 2 s after this one; the retry takes about 100 ms.
    EXPECT_LT(last - first, 1500ms);
    const auto frames = test::DecodeFrames(avi, 16, 8);
    ASSERT_EQ(frames.size(), 4u);
    for (int n = 0; n < 4; ++n)
        EXPECT_EQ(static_cast<uint8_t>(frames[n][0]), n * 20) << "frame " << n;
}

TEST_F(CollectorTest, DotFilesAreNeverTakenNorDeleted) {
    WriteTga(shots + "/.shot0000.tga", 16, 8, 1, 1, 1);
    WriteTga(shots + "/shot0001.tga", 16, 8, 1, 1, 1);
    ASSERT_TRUE(writer.Open(avi, 640, 480, 25, 1));
    auto collector = Make();
    collector->SetMask("*shot*.tga");
    collector->Resume();
    RunToEnd(*collector);
    writer.Close(0);
    EXPECT_EQ(collector->FrameCounter(), 1);
    EXPECT_TRUE(fs::exists(shots + "/.shot0000.tga"));
    EXPECT_FALSE(fs::exists(shots + "/shot0001.tga"));
}

TEST_F(CollectorTest, TheIdleCountIsNeverReset) {
    WriteTga(shots + "/shot0000.tga", 16, 8, 1, 1, 1);
    int sensed = 0;
    onStatus = [&](const std::string& t) {
        if (t == "Sensing..." && ++sensed == 2)
            WriteTga(shots + "/shot0001.tga", 16, 8, 2, 2, 2); // frames arrive late
    };
    ASSERT_TRUE(writer.Open(avi, 640, 480, 25, 1));
    auto collector = Make(150);
    collector->Resume();
    RunToEnd(*collector);
    writer.Close(0);
    // Two idle scans, a scan with a frame, then one idle scan ends it.
    EXPECT_EQ(collector->FrameCounter(), 2);
    EXPECT_EQ(Count("Sensing..."), 3);
}

// The engine's own recording, gone on past 2 GB in a second file: both files' frames and
// sound, in order, the sound as long as the frames.
TEST_F(CollectorTest, AnEnginesRecordingIsTakenAcrossTheFilesItGoesOnIn) {
    const std::string capture = dir / "videos/vexo_capture.avi";
    fs::create_directories(dir / "videos");
    auto make = [](const std::string& file, const char* color, int frames, const char* video) {
        const std::string command =
            "ffmpeg -v error -nostdin -f lavfi -i color=" + std::string(color) +
            ":size=32x16:rate=25 -f lavfi -i sine=sample_rate=22050 -frames:v " +
            std::to_string(frames) + " -t " + std::to_string(frames / 25.0) + " " + video +
            " -c:a pcm_s16le -ac 2 -f avi '" + file + "'";
        ASSERT_EQ(std::system(command.c_str()), 0);
    };
    // Uncompressed frames, then Motion JPEG (an engine's other choice).
    make(capture, "red", 3, "-c:v rawvideo -pix_fmt bgr24");
    make(capture + "_", "blue", 2, "-c:v mjpeg -pix_fmt yuvj420p");
    ASSERT_TRUE(writer.Open(avi, 640, 480, 25, 1));
    auto collector = Make();
    collector->SetCaptureFile(capture);
    collector->GameEnded();
    collector->Resume();
    RunToEnd(*collector);
    writer.Close(0);
    EXPECT_TRUE(boxes.empty());
    const std::vector<std::string> frames = test::DecodeFrames(avi, 32, 16);
    ASSERT_EQ(frames.size(), 5u);
    for (size_t i = 0; i < frames.size(); ++i) // red, then blue: the first pixel's red byte
        EXPECT_EQ(static_cast<uint8_t>(frames[i][0]) > 128, i < 3) << i;
    EXPECT_EQ(test::Capture("ffprobe -v error -select_streams a:0 -show_entries "
                            "stream=codec_name -of csv=p=0 '" +
                            avi + "'"),
              "pcm_s16le\n");
    EXPECT_EQ(
        test::Capture("ffmpeg -v error -nostdin -i '" + avi + "' -map 0:a -f s16le - | wc -c"),
        std::to_string(5 * 882 * 4) + "\n");
}

TEST_F(CollectorTest, AnEmptyFolderKeepsItWaitingWithoutSensing) {
    ASSERT_TRUE(writer.Open(avi, 640, 480, 25, 1));
    auto collector = Make(10);
    collector->Resume();
    std::this_thread::sleep_for(200ms);
    queue.Drain();
    EXPECT_TRUE(collector->Active());
    EXPECT_EQ(Count("Sensing..."), 0);
    collector->Terminate();
    RunToEnd(*collector);
    writer.Close(0);
}

TEST_F(CollectorTest, WriterFailuresAndAMissingWriterAreReported) {
    WriteTga(shots + "/shot0000.tga", 16, 8, 1, 1, 1);
    // The writer was never opened: the frame is refused.
    auto refused = Make();
    refused->Resume();
    RunToEnd(*refused);
    ASSERT_EQ(boxes.size(), 1u);
    EXPECT_EQ(boxes[0], "Error writing AVI frame to output file.");
    EXPECT_FALSE(fs::exists(shots + "/shot0000.tga"));

    // No writer at all: each scan reports it for its first new file, three scans end it.
    boxes.clear();
    texts.clear();
    for (int n = 0; n < 3; ++n)
        WriteTga(shots + "/shot000" + std::to_string(n) + ".tga", 16, 8, 1, 1, 1);
    auto orphan = Make();
    orphan->Writer = nullptr;
    orphan->Resume();
    RunToEnd(*orphan);
    EXPECT_EQ(boxes, std::vector<std::string>(3, "Internal error. Aborting."));
    EXPECT_EQ(Count("Failed."), 3);
}

} // namespace
} // namespace vexo
