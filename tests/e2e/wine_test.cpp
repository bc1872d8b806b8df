// End to end with a Windows game: the stand-in game built for Windows, copied as quake3.exe
// and run through Wine, writes the screenshots the main window turns into frames.
#include <gtest/gtest.h>

#include <cstdlib>

#include "platform/process.h"
#include "support/game_tree.h"

namespace vexo {
namespace {

// One Wine prefix for the test program, in a temporary directory (a fresh prefix takes
// seconds to start); its server is ended before the directory goes.
class WinePrefix : public ::testing::Environment {
    void SetUp() override {
        ::setenv("WINEPREFIX", (dir / "prefix").c_str(), 1);
        ::setenv("WINEDEBUG", "-all", 1);
        ::setenv("WINEDLLOVERRIDES", "mscoree,mshtml=", 1); // no Mono or Gecko installer
    }
    void TearDown() override { std::system("wineserver -k >/dev/null 2>&1"); }
    test::TempDir dir;
};
::testing::Environment* const wine = ::testing::AddGlobalTestEnvironment(new WinePrefix);

class WineGameTest : public test::GameTreeTest {
    void SetUp() override {
        if (std::string(VEXO_STAND_IN_GAME_WINDOWS).empty())
            GTEST_SKIP() << "mingw-w64 is not installed (scripts/deps installs it)";
        if (platform::FindProgram("wine").empty())
            GTEST_SKIP() << "wine is not installed (scripts/deps installs it)";
        std::filesystem::copy_file(VEXO_STAND_IN_GAME_WINDOWS, base + "/quake3.exe",
                                   std::filesystem::copy_options::overwrite_existing);
    }
};

TEST_F(WineGameTest, TheWindowsGamesScreenshotsBecomeTheFrames) {
    test::RecordingWindow& w = Open();
    Check(0);
    Check(2);
    PressStart();
    ASSERT_TRUE(w.boxes.empty()) << w.boxes[0].text;
    EXPECT_EQ(w.Form().Controls.status.SimpleText(), "Completed.");
    EXPECT_EQ(FrameNumbers(out + "/baseq3_alpha.avi"), Sequence(10));
    EXPECT_EQ(FrameNumbers(out + "/baseq3_charlie.avi"), Sequence(10));
    EXPECT_EQ(Screenshots(), 0);
    EXPECT_FALSE(std::filesystem::exists(mod + "/vexo_temp.cfg"));
}

} // namespace
} // namespace vexo
