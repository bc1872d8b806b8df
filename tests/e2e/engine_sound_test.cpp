// The real engine's sound in step with its picture: Debian's ioquake3 with OpenArena's data
// records a demo whose player fires a shotgun in view (tests/data/openarena/README.md says
// how it was made), started as the program starts a recording; the collector turns that
// recording into a video; FFmpeg's tools then find each shot's muzzle flash (the frame whose
// picture brightens at once) and where its sound starts, and the sound's length.
#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstring>
#include <filesystem>
#include <iostream>
#include <thread>

#include "frames/avi_file.h"
#include "frames/dir_thread.h"
#include "game/engine.h"
#include "game/game_script.h"
#include "media/vfw.h"
#include "platform/process.h"
#include "support/real_engine.h"
#include "support/tga_file.h"

namespace vexo {

using media::FOURCC_DIB, media::ICMF_COMPVARS_VALID, media::kCompVarsSize;
namespace {

namespace fs = std::filesystem;
using namespace std::chrono_literals;

constexpr int kSoundRate = 22050;

class EngineSoundTest : public ::testing::Test {
protected:
    void SetUp() override {
        if (!test::RealEngineInstalled())
            GTEST_SKIP() << "ioquake3 and openarena are not installed (scripts/deps installs them)";
        ASSERT_TRUE(test::VirtualDisplay::Start()) << "Xvfb could not be started";
        base = test::LayOutOpenArena(root);
        fs::copy_file(std::string(VEXO_TEST_DATA) + "/openarena/shots.dm_71",
                      base + "/baseoa/demos/shots.dm_71");
    }

    // The engine's own recording of the demo at 320 x 240, started as the program starts a
    // recording: its config and game script, command line and environment.
    std::string EngineRecording(const std::string& captureRate, const std::string& timeScale) {
        const RunPaths paths = BuildRunPaths(base, "baseoa", "default.cfg", root / "program/",
                                             root.path(), '/', FindGameEngine(base));
        CaptureOptions options;
        options.ModeIndex = 0;
        options.Windowed = true;
        options.DrawGun = true;
        options.CaptureRate = captureRate;
        options.TimeScale = timeScale;
        test::WriteFile(paths.TempConfig, test::ReadFile(VEXO_DEFAULT_CONFIG) +
                                              BuildGameScript(options, "shots", true, "quit"));
        std::optional<platform::Process> game =
            LaunchGame(BuildGameCommandLine(paths), paths, nullptr);
        EXPECT_TRUE(game && game->Wait(240000));
        return paths.CaptureFile;
    }

    // The video the collector makes of the engine's recording.
    std::string Collect(const std::string& capture, double engineRate, int aviRate) {
        const std::string avi = root / "video.avi";
        CAviFile writer;
        writer.CodecVars.cbSize = kCompVarsSize;
        writer.CodecVars.dwFlags = ICMF_COMPVARS_VALID;
        writer.CodecVars.fccHandler = FOURCC_DIB;
        writer.CodecVars.lQ = 10000;
        EXPECT_TRUE(writer.Open(avi, 640, 480, aviRate, 1));
        platform::MainThreadQueue queue;
        std::vector<std::string> boxes;
        CollectorUi ui;
        ui.ErrorBox = [&](const std::string& text) { boxes.push_back(text); };
        auto collector = TDirThread::Create(queue, ui);
        fs::create_directories(root / "screenshots");
        collector->SetDirectory(root / "screenshots");
        collector->SetMask("shot*.tga");
        collector->Interval = 30;
        collector->Writer = &writer;
        collector->SetCaptureFile(capture);
        collector->SetEngineFrameRate(engineRate);
        collector->GameEnded();
        collector->Resume();
        const auto deadline = std::chrono::steady_clock::now() + 120s;
        while ((collector->Active() || !collector->CleanupDone()) &&
               std::chrono::steady_clock::now() < deadline) {
            queue.Drain();
            std::this_thread::sleep_for(2ms);
        }
        queue.Drain();
        EXPECT_FALSE(collector->Active());
        EXPECT_TRUE(boxes.empty()) << boxes[0];
        writer.Close(0);
        return avi;
    }

    // Each frame's mean brightness, and the sound as one channel.
    struct Decoded {
        std::vector<double> brightness;
        std::vector<int16_t> sound;
    };
    static Decoded Decode(const std::string& avi) {
        Decoded d;
        const std::string gray = test::Capture("ffmpeg -v error -nostdin -i '" + avi +
                                               "' -map 0:v -vf scale=64:48,format=gray "
                                               "-f rawvideo -");
        for (size_t at = 0; at + 64 * 48 <= gray.size(); at += 64 * 48) {
            double sum = 0;
            for (size_t i = at; i < at + 64 * 48; ++i)
                sum += static_cast<uint8_t>(gray[i]);
            d.brightness.push_back(sum / (64 * 48));
        }
        const std::string pcm =
            test::Capture("ffmpeg -v error -nostdin -i '" + avi + "' -map 0:a -ac 1 -f s16le -");
        d.sound.resize(pcm.size() / 2);
        std::memcpy(d.sound.data(), pcm.data(), d.sound.size() * 2);
        return d;
    }

    // The video of the demo at these rates has the sound of each shot start within a frame
    // of its muzzle flash, and is as long in sound as in picture.
    void ExpectShotsHeardWhenSeen(const std::string& captureRate, const std::string& timeScale,
                                  int aviRate) {
        const double engineRate = EngineFrameRateValue(captureRate, timeScale);
        const std::string avi =
            Collect(EngineRecording(captureRate, timeScale), engineRate, aviRate);
        const Decoded d = Decode(avi);
        const int perFrame = kSoundRate / aviRate;
        const auto frames = static_cast<int>(d.brightness.size());
        ASSERT_GT(frames, 100);
        const auto sound = static_cast<int64_t>(d.sound.size());
        std::cout << "[ measured ] " << frames << " frames, " << sound << " sound samples ("
                  << sound - int64_t{frames} * perFrame << " past the picture)\n";
        EXPECT_LE(std::abs(sound - int64_t{frames} * perFrame), perFrame);

        // The player fires four times; each flash brightens the picture at once, for a
        // moment. A flash may stay bright for a second frame (how bright depends on the
        // renderer's rounding), which is the same flash: shots are seconds apart.
        std::vector<int> flashes;
        const std::vector<double>& light = d.brightness;
        for (int f = 1; f + 3 < frames; ++f)
            if ((flashes.empty() || f - flashes.back() > 4) && light[f] - light[f - 1] > 8 &&
                light[f] - std::min({light[f + 1], light[f + 2], light[f + 3]}) > 5)
                flashes.push_back(f);
        ASSERT_EQ(flashes.size(), 4u);
        auto energy = [&](int frame) {
            double sum = 0;
            for (int64_t i = int64_t{frame} * perFrame;
                 i < std::min<int64_t>(sound, int64_t{frame + 1} * perFrame); ++i)
                sum += static_cast<double>(d.sound[i]) * d.sound[i];
            return sum;
        };
        // A shot's sound starts in the first frame around its flash whose sound reaches half
        // the amplitude (a quarter of the energy) of the loudest frame there.
        for (int flash : flashes) {
            double loudest = 0;
            for (int f = flash - 8; f <= flash + 8; ++f)
                loudest = std::max(loudest, energy(f));
            int onset = flash - 8;
            while (energy(onset) < loudest / 4)
                ++onset;
            std::cout << "[ measured ] flash in frame " << flash << ", its sound from frame "
                      << onset << "\n";
            EXPECT_LE(std::abs(onset - flash), 1) << "flash in frame " << flash;
        }
    }

    test::TempDir root;
    std::string base;
};

TEST_F(EngineSoundTest, AtTheGamesOwnSpeedTheShotsAreHeardWhenSeen) {
    ExpectShotsHeardWhenSeen("25", "1", 25);
}

TEST_F(EngineSoundTest, SlowedDownTheShotsAreHeardWhenSeen) {
    ExpectShotsHeardWhenSeen("35", "0.5", 25);
}

} // namespace
} // namespace vexo
