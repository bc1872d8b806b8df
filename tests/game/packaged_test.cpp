// A game installed from the system's packages: the data in a directory the user may not write
// to, the engine the system's, everything written below the per-user home.
#include "game/discovery.h"
#include "game/game_script.h"

#include "game_fixture.h"

namespace vexo::test {
namespace {

namespace fs = std::filesystem;

class PackagedGameTest : public GameTest {
protected:
    PackagedGameTest() { GameFile("baseoa/pak0.pk3"); }
    void InstallEngine() {
        WriteFile(engine, "#!/bin/sh\n");
        fs::permissions(engine, fs::perms::owner_all);
    }
    const std::string engine = system.root / "usr/lib/ioquake3/ioquake3";
    const std::string home = system.home / ".openarena";
};

TEST_F(PackagedGameTest, TheScriptGoesIntoTheHomesFolderMadeForIt) {
    InstallEngine();
    Config("default.cfg");
    const RunPaths p = BuildRunPaths(game.path(), "baseoa", "default.cfg", program.path() + "/",
                                     "/out", '/', FindGameEngine(game.path()));
    ASSERT_EQ(PrepareGameScript(p, CaptureOptions{}, "demo", nullptr), ScriptOk);
    EXPECT_TRUE(fs::is_regular_file(home + "/baseoa/vexo_temp.cfg"));
    EXPECT_EQ(p.CaptureFile, home + "/baseoa/videos/vexo_capture.avi");
    EXPECT_EQ(p.ScreenshotDir, home + "/baseoa/screenshots");
}

TEST_F(PackagedGameTest, ListsReadTheHomeAndTheGameDirectoryAndShortcutsPreferTheHome) {
    InstallEngine();
    for (const char* f : {"baseoa/demos/b.dm_71", "baseoa/demos/A.dm_71", "missionpack/mp.pk3"})
        GameFile(f);
    for (const char* f : {"baseoa/demos/c.dm_71", "baseoa/demos/B.dm_71", "mymod/z.pk3"})
        WriteFile(home + "/" + f, "x");
    C().edBasePath.SetText(game.path());
    EXPECT_EQ(C().cbMods.Items(), (Strings{"baseoa", "missionpack", "mymod"}));
    // A name in both places shows once, as the home has it (the engine plays that one).
    EXPECT_EQ(Demos(), (Strings{"A.dm_71", "B.dm_71", "c.dm_71"}));

    form->btnOpenModDirClick();
    form->btnOpenDemosDirClick();
    C().cbMods.UserSelect(C().cbMods.IndexOfNoCase("missionpack"));
    form->btnOpenModDirClick();
    form->btnOpenDemosDirClick(); // no demos folder in either place: nothing is opened
    form->btnRunModClick();
    ASSERT_EQ(host.shell.size(), 4u);
    EXPECT_EQ(host.shell[0].file, home + "/baseoa");
    EXPECT_EQ(host.shell[1].file, home + "/baseoa/demos");
    EXPECT_EQ(host.shell[2].file, game / "missionpack");
    EXPECT_EQ(host.shell[3].file, engine);
    EXPECT_EQ(host.shell[3].params.rfind(
                  "+set fs_basepath \"" + game.path() + "\" +set fs_homepath \"" + home +
                      "\" +set com_basegame baseoa +set com_protocol 71 +set com_legacyprotocol 71 "
                      "+set fs_game missionpack ",
                  0),
              0u);
}

TEST_F(PackagedGameTest, WithoutASettingsFileTheFirstInstalledGameIsShownAndNotStored) {
    EXPECT_FALSE(IsGameDirectory(game.path())); // no engine to run it
    InstallEngine();
    GameFile("baseq3/pak0.pk3"); // the original game's data: the engine's own home
    EXPECT_EQ(FindGameEngine(game.path()).Home, system.home / ".q3a");
    WriteFile(system.root / "usr/lib/quake3/ta/baseq3/pak0.pk3", "x"); // no Team Arena data
    WriteFile(system.root / "usr/lib/quake3/base/baseq3/pak0.pk3", "x");
    WriteFile(system.root / "usr/lib/openarena/baseoa/pak0.pk3", "x");
    WriteFile(system.home / "ioquake3/ioquake3.x86_64", "x");
    fs::permissions(system.home / "ioquake3/ioquake3.x86_64", fs::perms::owner_all);
    WriteFile(system.home / "ioquake3/baseq3/pak0.pk3", "x");

    form->Guard([&] { form->FormCreate(); });
    EXPECT_EQ(C().edBasePath.Text(), system.root / "usr/lib/quake3/base");
    EXPECT_EQ(C().cbMods.Items(), (Strings{"baseq3"}));
    EXPECT_EQ(Read("paths", "quake"), "<missing>");
    fs::remove_all(system.root / "usr/lib/quake3");
    EXPECT_EQ(FindInstalledGame(), system.root / "usr/lib/openarena");
    fs::remove(engine); // the packages cannot run
    EXPECT_EQ(FindInstalledGame(), system.home / "ioquake3");
}

} // namespace
} // namespace vexo::test
