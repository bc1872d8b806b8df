// The stand-in game end to end: the temporary config is written and the game launched the
// way a recording does it, in a game tree whose directory name holds blanks; the screenshots
// it leaves are decoded and checked.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <filesystem>
#include <functional>
#include <string>
#include <thread>
#include <vector>

#include "game/game_script.h"
#include "platform/fs.h"
#include "support/temp_dir.h"

namespace vexo {
namespace {

using test::ReadFile;
using test::TempDir;
using test::WriteFile;
namespace fs = std::filesystem;

struct Shot {
    int width = 0;
    int height = 0;
    int type = 0;
    int depth = 0;
    int descriptor = 0;
    std::string pixels; // blue, green, red; rows as stored
};

Shot Decode(const std::string& data) {
    Shot s;
    if (data.size() < 18)
        return s;
    auto byte = [&](size_t i) { return static_cast<unsigned char>(data[i]); };
    s.type = byte(2);
    s.width = byte(12) | byte(13) << 8;
    s.height = byte(14) | byte(15) << 8;
    s.depth = byte(16);
    s.descriptor = byte(17);
    s.pixels = data.substr(18 + byte(0));
    return s;
}

class StandInGameTest : public ::testing::Test {
protected:
    void SetUp() override {
        base = dir / "Quake III Arena";
        fs::create_directories(base + "/" + modDir + "/demos");
        fs::copy_file(VEXO_STAND_IN_GAME, base + "/quake3.exe");
        WriteFile(base + "/" + modDir + "/demos/intro.dm_68", "length 2.0\n");
        options.ModeIndex = 0;
        options.CaptureRate = "10";
        options.TimeScale = "1";
    }

    // Writes the config (test settings first), prepares the script, starts the game and waits
    // for it; returns its exit code, or -1 when it did not start or its end was unreadable.
    int Record(const std::string& config, const std::string& demoItem = "intro.dm_68") {
        RunPaths paths = BuildRunPaths(base, "baseq3", "test.cfg", dir / "prog/", dir / "out", '/');
        WriteFile(paths.ConfigSource, "set vexo_nopace 1\n" + config);
        statuses.clear();
        auto status = [this](const std::string& s) { statuses.push_back(s); };
        if (PrepareGameScript(paths, options, DemoBaseName(demoItem), status) != ScriptOk)
            return -1;
        auto game = LaunchGame(BuildGameCommandLine(paths), paths, status);
        if (!game)
            return -1;
        while (!game->Wait(80)) {
            if (watch)
                watch();
        }
        int code = -1;
        return game->ExitCode(code) ? code : -1;
    }

    std::vector<std::string> Shots() const {
        std::vector<std::string> names;
        const std::string shots = base + "/" + modDir + "/screenshots";
        if (fs::exists(shots)) {
            for (const auto& e : fs::directory_iterator(shots))
                names.push_back(e.path().filename().string());
        }
        std::sort(names.begin(), names.end());
        return names;
    }
    std::string ShotPath(const std::string& name) const {
        return base + "/" + modDir + "/screenshots/" + name;
    }

    TempDir dir;
    std::string base;
    std::string modDir = "baseq3";
    CaptureOptions options;
    std::function<void()> watch;
    std::vector<std::string> statuses;
};

TEST_F(StandInGameTest, WritesOneNumberedFramePerCapturedFrameInOrder) {
    ASSERT_EQ(Record(""), 0);
    const std::vector<std::string> shots = Shots();
    ASSERT_EQ(shots.size(), 20u); // 2 seconds at 10 frames per second
    for (size_t n = 0; n < shots.size(); ++n) {
        char name[32];
        std::snprintf(name, sizeof name, "shot%04zu.tga", n);
        ASSERT_EQ(shots[n], name);
        const Shot s = Decode(ReadFile(ShotPath(shots[n])));
        EXPECT_EQ(s.type, 2);
        EXPECT_EQ(s.depth, 24);
        EXPECT_EQ(s.descriptor, 0);
        ASSERT_EQ(s.width, 320);
        ASSERT_EQ(s.height, 240);
        ASSERT_EQ(s.pixels.size(), 320u * 240u * 3u);
        // The bottom band comes first (bottom-left origin), the frame colour above it.
        EXPECT_EQ(s.pixels.substr(0, 3), "\xff\xff\xff");
        EXPECT_EQ(s.pixels.substr(7 * 320 * 3, 3), "\xff\xff\xff");
        const std::string colour{'\x5a', '\0', static_cast<char>(n)};
        EXPECT_EQ(s.pixels.substr(8 * 320 * 3, 3), colour);
        EXPECT_EQ(s.pixels.substr(s.pixels.size() - 3), colour);
    }
    EXPECT_EQ(statuses, (std::vector<std::string>{"Copying config file...", "Updating config...",
                                                  "Launching Quake III..."}));
    // The temporary config stays for the run driver to delete.
    EXPECT_TRUE(fs::exists(base + "/baseq3/vexo_temp.cfg"));
}

TEST_F(StandInGameTest, FrameCountAndSizeFollowTheScript) {
    options.TimeScale = "2";
    options.ModeIndex = 11;
    ASSERT_EQ(Record(""), 0);
    ASSERT_EQ(Shots().size(), 10u);
    Shot s = Decode(ReadFile(ShotPath("shot0009.tga")));
    EXPECT_EQ(s.width, 856);
    EXPECT_EQ(s.height, 480);
    EXPECT_EQ(s.pixels[8 * 856 * 3 + 2], 9);

    // No resolution selected, and numbering continues after files already there.
    options.ModeIndex = -1;
    options.TimeScale = "1";
    WriteFile(base + "/baseq3/demos/short.dm_68", "length 0.1\n");
    ASSERT_EQ(Record("", "short.dm_68"), 0);
    ASSERT_EQ(Shots().size(), 11u);
    s = Decode(ReadFile(ShotPath("shot0010.tga")));
    EXPECT_EQ(s.width, 640);
    EXPECT_EQ(s.height, 480);

    options.CaptureRate = "";
    ASSERT_EQ(Record("", "short.dm_68"), 0);
    EXPECT_EQ(Shots().size(), 11u);
}

TEST_F(StandInGameTest, ModificationAndDemoFoundWithoutRegardToCase) {
    fs::rename(base + "/baseq3", base + "/BaseQ3");
    modDir = "BaseQ3";
    fs::rename(base + "/BaseQ3/demos/intro.dm_68", base + "/BaseQ3/demos/INTRO.DM_68");
    ASSERT_EQ(Record("", "intro.dm_68"), 0);
    EXPECT_EQ(Shots().size(), 20u);
    EXPECT_FALSE(fs::exists(base + "/baseq3"));
}

TEST_F(StandInGameTest, TestSettingsAreHonoured) {
    EXPECT_EQ(Record("set vexo_exitcode 3\n"), 3);
    EXPECT_EQ(Shots().size(), 20u);
    fs::remove_all(base + "/baseq3/screenshots");

    EXPECT_EQ(Record("seta vexo_nowrite \"1\"\n"), 0);
    EXPECT_TRUE(Shots().empty());

    // Killed by a signal halfway: an exit code that is not 0, and only some frames.
    EXPECT_EQ(Record("set vexo_crash 1\n"), 128 + 9);
    EXPECT_EQ(Shots().size(), 10u);
    fs::remove_all(base + "/baseq3/screenshots");

    EXPECT_EQ(Record("", "missing.dm_68"), 2);

    // Without the executable nothing starts; the launch reports it.
    fs::remove(base + "/quake3.exe");
    EXPECT_EQ(Record(""), -1);
    EXPECT_EQ(statuses.back(), "Launching Quake III...");
    fs::copy_file(VEXO_STAND_IN_GAME, base + "/quake3.exe");

    // A quit in the config ends the game before the appended demo command.
    EXPECT_EQ(Record("set vexo_exitcode 4; quit\n"), 4);
    EXPECT_TRUE(Shots().empty());
}

TEST_F(StandInGameTest, SplitWritesShowAHalfWrittenFile) {
    options.CaptureRate = "1";
    WriteFile(base + "/baseq3/demos/one.dm_68", "length 1\n");
    const size_t full = 18 + 320 * 240 * 3;
    bool sawHalf = false;
    watch = [&] {
        const std::string shot = ShotPath("shot0000.tga");
        std::error_code ec;
        const auto size = fs::file_size(shot, ec);
        if (!ec && size > 0 && size < full)
            sawHalf = true;
    };
    ASSERT_EQ(Record("set vexo_split_ms 600\n", "one.dm_68"), 0);
    EXPECT_TRUE(sawHalf);
    EXPECT_EQ(fs::file_size(ShotPath("shot0000.tga")), full);
}

} // namespace
} // namespace vexo
