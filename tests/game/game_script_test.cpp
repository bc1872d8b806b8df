// The run's paths, the appended game script and the game command line, and the copy and
// append of the temporary config.
#include <gtest/gtest.h>

#include <csignal>
#include <filesystem>
#include <string>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>
#include <vector>

#include "game/engine_console.h"
#include "game/game_script.h"
#include "support/temp_dir.h"

namespace vexo {
namespace {

using test::ReadFile;
using test::TempDir;
using test::WriteFile;

TEST(RunPathsTest, WindowsPathsAreJoinedLiterally) {
    RunPaths p = BuildRunPaths("C:\\Games\\Quake3", "baseq3", "default.cfg", "C:\\Vexo\\",
                               "D:\\Video", '\\');
    EXPECT_EQ(p.BaseDir, "C:\\Games\\Quake3");
    EXPECT_EQ(p.GameExe, "C:\\Games\\Quake3\\quake3.exe");
    EXPECT_EQ(p.ModName, "baseq3");
    EXPECT_EQ(p.ModDir, "C:\\Games\\Quake3\\baseq3");
    EXPECT_EQ(p.ConfigSource, "C:\\Vexo\\configs\\default.cfg");
    EXPECT_EQ(p.TempConfig, "C:\\Games\\Quake3\\baseq3\\vexo_temp.cfg");
    EXPECT_EQ(p.ScreenshotDir, "C:\\Games\\Quake3\\baseq3\\screenshots");
    EXPECT_EQ(p.ScreenshotMask, "shot*.tga");
    EXPECT_EQ(p.OutDir, "D:\\Video");
    EXPECT_EQ(BuildGameCommandLine(p),
              "C:\\Games\\Quake3\\quake3.exe +set fs_game baseq3 +exec vexo_temp");
}

TEST(RunPathsTest, TrailingSeparatorAndBlanksPassThroughUnchanged) {
    RunPaths p = BuildRunPaths("C:\\Games\\Quake3\\", "cpma", "my.cfg", "C:\\Vexo\\", "C:", '\\');
    EXPECT_EQ(p.GameExe, "C:\\Games\\Quake3\\\\quake3.exe");
    EXPECT_EQ(p.TempConfig, "C:\\Games\\Quake3\\\\cpma\\vexo_temp.cfg");
    EXPECT_EQ(p.ScreenshotDir, "C:\\Games\\Quake3\\\\cpma\\screenshots");
    EXPECT_EQ(p.OutDir, "C:");
    EXPECT_EQ(BuildGameCommandLine(p),
              "C:\\Games\\Quake3\\\\quake3.exe +set fs_game cpma +exec vexo_temp");

    RunPaths blanks =
        BuildRunPaths("/games/Quake III Arena", "baseq3", "a.cfg", "/opt/vexo/", "/videos", '/');
    EXPECT_EQ(blanks.ConfigSource, "/opt/vexo/configs/a.cfg");
    EXPECT_EQ(BuildGameCommandLine(blanks),
              "/games/Quake III Arena/quake3.exe +set fs_game baseq3 +exec vexo_temp");
}

TEST(RunPathsTest, ANativeEngineIsToldWhereTheGameIs) {
    test::TempDir dir;
    std::filesystem::create_directories(dir / "Open Arena/BaseOA");
    GameEngine engine;
    engine.Executable = "ioquake3.x86_64";
    engine.Native = true;
    engine.BaseGame = "baseoa";
    const std::string base = dir / "Open Arena";
    RunPaths p = BuildRunPaths(base, "baseoa", "a.cfg", "/opt/vexo/", "/videos", '/', engine);
    EXPECT_EQ(p.CaptureFile, base + "/baseoa/videos/vexo_capture.avi");
    // Quoted where blanks may stand; OpenArena's protocol; the engine's own mixer, no mouse
    // grab and hunk memory for the recording, never less than the player's config asks for;
    // the modification as it is named on disk.
    const std::string front = base + "/ioquake3.x86_64 +set fs_basepath \"" + base +
                              "\" +set fs_homepath \"" + base +
                              "\" +set com_basegame baseoa +set com_protocol 71 "
                              "+set com_legacyprotocol 71 +set s_useOpenAL 0 +set in_mouse 0 ";
    EXPECT_EQ(BuildGameCommandLine(p),
              front + "+set com_hunkmegs 256 +set fs_game BaseOA +exec vexo_temp");
    WriteFile(base + "/BaseOA/q3config.cfg", "seta com_hunkMegs \"512\"\nseta r_mode 3\n");
    EXPECT_EQ(BuildGameCommandLine(p),
              front + "+set com_hunkmegs 512 +set fs_game BaseOA +exec vexo_temp");
}

// Recordings at the same time in one game: each with its own temporary config and capture.
TEST(RunPathsTest, ANameSuffixFollowsTheTemporaryConfigAndTheCapture) {
    GameEngine engine;
    engine.Native = true;
    const RunPaths p =
        BuildRunPaths("/q3", "baseq3", "a.cfg", "/opt/vexo/", "/videos", '/', engine, "_42");
    EXPECT_EQ(p.TempConfig, "/q3/baseq3/vexo_temp_42.cfg");
    EXPECT_EQ(p.CaptureFile, "/q3/baseq3/videos/vexo_capture_42.avi");
    EXPECT_NE(BuildGameCommandLine(p).find(" +exec vexo_temp_42"), std::string::npos);
    CaptureOptions options;
    EXPECT_NE(BuildGameScript(options, "d", true, std::nullopt, p.CaptureName)
                  .find("\nvideo \"vexo_capture_42\"\n"),
              std::string::npos);
    EngineConsole console(p.CaptureName);
    console.Feed("Wrote 10:12 frames to videos/vexo_capture.avi");
    EXPECT_EQ(console.ClosedRecording(), "");
    console.Feed("Wrote 10:12 frames to videos/vexo_capture_42.avi_");
    EXPECT_EQ(console.ClosedRecording(), "vexo_capture_42.avi_");
    for (const char* name : {"vexo_temp.cfg", "VEXO_TEMP_42.cfg", "vexo_temp_a_1.cfg"})
        EXPECT_TRUE(IsTempConfigFileName(name)) << name;
    for (const char* name : {"vexo_temperature.cfg", "vexo_temp_4-2.cfg", "vexo_temp.cfg.bak"})
        EXPECT_FALSE(IsTempConfigFileName(name)) << name;
    EXPECT_FALSE(IsSafeNameSuffix("_4 2"));
}

TEST(GameScriptTest, TheEngineRateMakesItsStepsThoseOfTheOriginalGame) {
    EXPECT_EQ(EngineFrameRate("25", "1.0"), "25");
    EXPECT_EQ(EngineFrameRate("25", "0,5"), "100"); // 1 / (100 x 0.5) s = 0.5 / 25 s
    EXPECT_EQ(EngineFrameRate("30", "2"), "7.5");
    EXPECT_EQ(EngineFrameRate("abc", "0.5"), "abc");
    EXPECT_EQ(EngineFrameRate("25", "0"), "25");
    EXPECT_EQ(EngineFrameRateValue("35", "0,5"), 140.0); // the collector's number for it
    EXPECT_EQ(EngineFrameRateValue("abc", "1"), 0.0);
    EXPECT_TRUE(IsPositiveTimeScale(" 0,25 "));
    EXPECT_FALSE(IsPositiveTimeScale("1.0x"));
    EXPECT_EQ(TimeScaleForScript("0,5"), "0.5");
}

TEST(DemoBaseNameTest, CutsBeforeTheFirstDemoExtensionCaseSensitively) {
    EXPECT_EQ(DemoBaseName("demo1.dm_68"), "demo1");
    EXPECT_EQ(DemoBaseName("a.dm_68.dm_67"), "a");
    EXPECT_EQ(DemoBaseName("X.DM_68"), "X.DM_68");
    EXPECT_EQ(DemoBaseName("plain"), "plain");
    EXPECT_EQ(DemoBaseName(".dm_68"), "");

    EXPECT_TRUE(IsSafeDemoBaseName("my demo; with 'odd' chars"));
    EXPECT_FALSE(IsSafeDemoBaseName("a\"b"));
    EXPECT_FALSE(IsSafeDemoBaseName("a\nquit"));
    EXPECT_FALSE(IsSafeDemoBaseName("a\rquit"));
}

TEST(GameScriptTest, TextIsExactForTheUsualAndTheEdgeValues) {
    CaptureOptions o;
    o.Draw2D = false;
    o.DrawGun = true;
    o.ModeIndex = 3;
    o.Windowed = true;
    o.CaptureRate = "25";
    o.TimeScale = "1.0";
    EXPECT_EQ(BuildGameScript(o, DemoBaseName("demo1.dm_68"), false),
              "\nset cg_draw2D \"0\"\nset cg_drawGun \"1\"\nset r_mode \"3\"\n"
              "set r_fullscreen \"0\"\nset cl_avidemo \"25\"\ntimescale \"1.0\"\n"
              "vid_restart\ndemo \"demo1\"\n");
    // The engines of the ioquake3 family are asked for their own recording as well, ignore
    // stray keys, and say when the demo has been played to its end before they go on as the
    // config has them.
    EXPECT_EQ(BuildGameScript(o, "demo1", true, "quit"),
              "\nset cg_draw2D \"0\"\nset cg_drawGun \"1\"\nset r_mode \"3\"\n"
              "set r_fullscreen \"0\"\nset cl_avidemo \"25\"\nset cl_aviFrameRate \"25\"\n"
              "set cl_aviMotionJpeg \"0\"\nset com_cameraMode \"1\"\nset s_mixahead \"0.1\"\n"
              "set nextdemo \"echo vexo_demo_complete; quit\"\ntimescale \"1.0\"\nvid_restart\n"
              "demo \"demo1\"\nvideo \"vexo_capture\"\n");
    EXPECT_NE(
        BuildGameScript(o, "demo1", true, "").find("set nextdemo \"echo vexo_demo_complete\"\n"),
        std::string::npos);

    CaptureOptions edge;
    edge.Draw2D = true;
    edge.DrawGun = false;
    edge.ModeIndex = -1;
    edge.Windowed = false;
    edge.CaptureRate = "30 ";
    edge.TimeScale = "";
    EXPECT_EQ(BuildGameScript(edge, "X.DM_68", false),
              "\nset cg_draw2D \"1\"\nset cg_drawGun \"0\"\nset r_mode \"-1\"\n"
              "set r_fullscreen \"1\"\nset cl_avidemo \"30 \"\ntimescale \"\"\n"
              "vid_restart\ndemo \"X.DM_68\"\n");

    edge.CaptureRate = "";
    EXPECT_NE(BuildGameScript(edge, "d").find("set cl_avidemo \"\"\n"), std::string::npos);
}

class PrepareGameScriptTest : public ::testing::Test {
protected:
    void SetUp() override {
        std::filesystem::create_directories(dir / "Quake III Arena/baseq3");
        paths = BuildRunPaths(dir / "Quake III Arena", "baseq3", "test.cfg", dir / "prog/",
                              dir / "out", '/');
        options.ModeIndex = 0;
        options.CaptureRate = "25";
        options.TimeScale = "1";
    }
    ScriptResult Prepare(const std::string& demo) {
        statuses.clear();
        return PrepareGameScript(paths, options, demo,
                                 [this](const std::string& s) { statuses.push_back(s); });
    }

    TempDir dir;
    RunPaths paths;
    CaptureOptions options;
    std::vector<std::string> statuses;
};

TEST_F(PrepareGameScriptTest, CopyThenAppendOnALineOfItsOwn) {
    WriteFile(paths.ConfigSource, "seta name \"x\"");
    ASSERT_EQ(Prepare("demo1"), ScriptOk);
    EXPECT_EQ(statuses, (std::vector<std::string>{"Copying config file...", "Updating config..."}));
    EXPECT_EQ(ReadFile(paths.TempConfig),
              "seta name \"x\"" + BuildGameScript(options, "demo1", kAskEngineCapture, ""));

    // A config ending in a line end gets an empty line; a stale copy is replaced, not appended.
    WriteFile(paths.ConfigSource, "bind x quit\n");
    ASSERT_EQ(Prepare("demo2"), ScriptOk);
    EXPECT_EQ(ReadFile(paths.TempConfig),
              "bind x quit\n" + BuildGameScript(options, "demo2", kAskEngineCapture, ""));
    EXPECT_EQ(ReadFile(paths.ConfigSource), "bind x quit\n");
}

TEST_F(PrepareGameScriptTest, ModificationDirectoryFoundWithoutRegardToCase) {
    std::filesystem::rename(dir / "Quake III Arena/baseq3", dir / "Quake III Arena/BaseQ3");
    WriteFile(paths.ConfigSource, "");
    ASSERT_EQ(Prepare("demo1"), ScriptOk);
    EXPECT_EQ(ReadFile(dir / "Quake III Arena/BaseQ3/vexo_temp.cfg"),
              BuildGameScript(options, "demo1", kAskEngineCapture, ""));
}

TEST_F(PrepareGameScriptTest, MissingConfigIsACopyFailure) {
    EXPECT_EQ(Prepare("demo1"), ScriptCopyFailed);
    EXPECT_EQ(statuses, std::vector<std::string>{"Copying config file..."});
    EXPECT_FALSE(std::filesystem::exists(paths.TempConfig));
}

TEST_F(PrepareGameScriptTest, UnsafeTextIsRefusedAndLeavesNoConfig) {
    WriteFile(paths.ConfigSource, "seta a 1\n");
    for (const std::string demo : {"a\"; quit; \"", "a\nquit", "a\rquit"}) {
        WriteFile(paths.TempConfig, "stale copy of an interrupted run\n");
        EXPECT_EQ(Prepare(demo), ScriptUpdateFailed);
        EXPECT_FALSE(std::filesystem::exists(paths.TempConfig));
    }
    options.CaptureRate = "25\nquit";
    EXPECT_EQ(Prepare("demo1"), ScriptUpdateFailed);
    EXPECT_FALSE(std::filesystem::exists(paths.TempConfig));
}

TEST_F(PrepareGameScriptTest, FailedAppendLeavesNoHalfWrittenConfig) {
    // A file size limit just above the copied config makes the append fail part-way (the
    // disk-full case); the limit is set in a child process so that it binds nothing else.
    const std::string config(1000, 'x');
    WriteFile(paths.ConfigSource, config);
    pid_t child = ::fork();
    if (child == 0) {
        ::signal(SIGXFSZ, SIG_IGN);
        rlimit limit{config.size() + 20, config.size() + 20};
        ::setrlimit(RLIMIT_FSIZE, &limit);
        const ScriptResult result = PrepareGameScript(paths, options, "demo1", nullptr);
        ::_exit(result == ScriptUpdateFailed && !std::filesystem::exists(paths.TempConfig) ? 0 : 1);
    }
    int status = 0;
    ASSERT_EQ(::waitpid(child, &status, 0), child);
    ASSERT_TRUE(WIFEXITED(status));
    EXPECT_EQ(WEXITSTATUS(status), 0);
}

TEST(GameScriptTest, TheConfigsNextDemoAndHunkAreReadAsTheGameReadsThem) {
    EXPECT_EQ(ConfigNextDemo("// set nextdemo \"x\"\nseta r_mode 3\n"), "");
    EXPECT_EQ(ConfigNextDemo("set nextdemo \"vstr a; wait\"\nSET NextDemo \"quit\" // end\n"),
              "quit");
    EXPECT_EQ(ConfigNextDemo("set nextdemo quit; set x 1\n"), "quit");
    EXPECT_EQ(ConfigHunkMegs("seta com_hunkMegs \"128\"\nset com_hunkmegs 384\n"), 384);
    EXPECT_EQ(ConfigHunkMegs("seta com_zoneMegs \"64\"\n"), 0);
}

TEST(EngineConsoleTest, ErrorsTheDemosEndAndALeftDemoAreTold) {
    EngineConsole console;
    for (const char* line :
         {"^3WARNING: could not find sound/x.wav", "ERROR: not framed", "********************",
          "ERROR: couldn't open demos/a.dm_66", "********************", "ERROR: a later one"})
        console.Feed(line);
    EXPECT_EQ(console.Error(), "couldn't open demos/a.dm_66");
    EXPECT_EQ(console.ClosedRecording(), "");

    EngineConsole ended;
    ended.Feed("^3Wrote 2321:2323 frames to videos/vexo_capture.avi");
    ended.Feed("Wrote 187:190 frames to videos/vexo_capture.avi_");
    EXPECT_EQ(ended.ClosedRecording(), "vexo_capture.avi_");
    EXPECT_EQ(ended.FramesRecorded(), 2508);
    EXPECT_FALSE(ended.DemoCompleted());
    ended.Feed(kDemoEndMarker);
    EXPECT_TRUE(ended.DemoCompleted());
    EXPECT_TRUE(ended.Error().empty());
}

} // namespace
} // namespace vexo
