// A game installed from the system's packages: the data in a directory the user may not
// write to, the engine the system's, everything written below the per-user home.
#include "game/discovery.h"
#include "game/engine.h"
#include "game/game_script.h"

#include "game_fixture.h"

namespace vexo::test {
namespace {

namespace fs = std::filesystem;

class PackagedGameTest : public GameTest {
protected:
    PackagedGameTest() { GameFile("baseoa/pak0.pk3"); }
    // Every file below the game directory, relative to it.
    Strings GameFiles() {
        Strings files;
        for (const auto& entry : fs::recursive_directory_iterator(game.path()))
            files.push_back(fs::relative(entry.path(), game.path()).string());
        std::sort(files.begin(), files.end());
        return files;
    }
    const std::string home = system.home / ".openarena";
};

TEST_F(PackagedGameTest, ItRunsOnTheSystemsEngineAndWritesOnlyBelowTheHome) {
    EXPECT_FALSE(IsGameDirectory(game.path())); // no engine anywhere
    const std::string engine = system.InstallEngine();
    EXPECT_TRUE(IsGameDirectory(game.path()));
    const GameEngine found = FindGameEngine(game.path());
    ASSERT_TRUE(found.Packaged());
    EXPECT_EQ(found.Home, home);

    Config("default.cfg");
    const RunPaths p = BuildRunPaths(game.path(), "baseoa", "default.cfg", program.path() + "/",
                                     "/out", '/', found);
    EXPECT_EQ(p.GameExe, engine);
    EXPECT_EQ(p.ModDirs, (Strings{home + "/baseoa", game / "baseoa"}));
    EXPECT_EQ(p.TempConfig, home + "/baseoa/vexo_temp.cfg");
    EXPECT_EQ(p.ScreenshotDir, home + "/baseoa/screenshots");
    EXPECT_EQ(p.CaptureFile, home + "/baseoa/videos/vexo_capture.avi");
    EXPECT_EQ(BuildGameCommandLine(p), engine + " +set fs_basepath \"" + game.path() +
                                           "\" +set fs_homepath \"" + home +
                                           "\" +set com_basegame baseoa +set fs_game baseoa "
                                           "+exec vexo_temp");
    // The home's folder is made for the script, as the engine would make it; the game
    // directory is left as it was.
    ASSERT_EQ(PrepareGameScript(p, CaptureOptions{}, "demo", nullptr), ScriptOk);
    EXPECT_TRUE(fs::is_regular_file(p.TempConfig));
    EXPECT_EQ(GameFiles(), (Strings{"baseoa", "baseoa/pak0.pk3"}));

    // The original game's data keeps the engine's own home.
    GameFile("baseq3/pak0.pk3");
    EXPECT_EQ(FindGameEngine(game.path()).Home, system.home / ".q3a");
}

TEST_F(PackagedGameTest, ListsReadTheHomeAndTheGameDirectoryAndShortcutsPreferTheHome) {
    const std::string engine = system.InstallEngine();
    for (const char* f : {"baseoa/demos/b.dm_71", "baseoa/demos/A.dm_71", "missionpack/mp.pk3"})
        GameFile(f);
    for (const char* f :
         {"baseoa/demos/c.dm_71", "baseoa/demos/B.dm_71", "baseoa/q3config.cfg", "mymod/z.pk3"})
        WriteFile(home + "/" + f, "x");
    C().edBasePath.SetText(game.path());
    EXPECT_EQ(C().cbMods.Items(), (Strings{"baseoa", "missionpack", "mymod"}));
    ASSERT_EQ(C().cbMods.Text(), "baseoa");
    // A name in both places shows once, as the home has it (the engine plays that one).
    EXPECT_EQ(Demos(), (Strings{"A.dm_71", "B.dm_71", "c.dm_71"}));

    form->btnOpenModDirClick();
    form->btnOpenDemosDirClick();
    C().cbMods.UserSelect(C().cbMods.IndexOfNoCase("missionpack"));
    EXPECT_TRUE(C().btnOpenModDir.Enabled());
    form->btnOpenModDirClick();
    form->btnOpenDemosDirClick(); // no demos folder in either place: nothing is opened
    C().cbModes.SetItemIndex(3);
    C().cbWindowed.SetChecked(true);
    form->btnRunModClick();
    ASSERT_EQ(host.shell.size(), 4u);
    EXPECT_EQ(host.shell[0].file, home + "/baseoa");
    EXPECT_EQ(host.shell[1].file, home + "/baseoa/demos");
    EXPECT_EQ(host.shell[2].file, game / "missionpack");
    EXPECT_EQ(host.shell[3].file, engine);
    EXPECT_EQ(host.shell[3].params, "+set fs_basepath \"" + game.path() + "\" +set fs_homepath \"" +
                                        home +
                                        "\" +set com_basegame baseoa +set fs_game missionpack "
                                        "+set r_mode 3 +set r_fullscreen 0 +set cg_draw2D 1 "
                                        "+set cg_drawGun 1 ");
    EXPECT_EQ(host.shell[3].directory, game.path());
}

TEST_F(PackagedGameTest, WithoutASettingsFileTheFirstInstalledGameIsShownAndNotStored) {
    system.InstallEngine();
    auto place = [&](const std::string& dir, const std::string& file) {
        WriteFile(system.root / (dir + "/" + file), "x");
        return system.root / dir;
    };
    place("usr/lib/quake3/ta", "baseq3/pak0.pk3"); // Team Arena's directory without its data
    const std::string quake3 = place("usr/lib/quake3/base", "baseq3/pak0.pk3");
    const std::string openarena = place("usr/lib/openarena", "baseoa/pak0.pk3");
    WriteFile(system.home / "ioquake3/ioquake3.x86_64", "x");
    fs::permissions(system.home / "ioquake3/ioquake3.x86_64", fs::perms::owner_all);
    WriteFile(system.home / "ioquake3/baseq3/pak0.pk3", "x");

    form->Guard([&] { form->FormCreate(); });
    EXPECT_EQ(C().edBasePath.Text(), quake3);
    EXPECT_EQ(C().cbMods.Items(), (Strings{"baseq3"}));
    EXPECT_EQ(Read("paths", "quake"), "<missing>");

    fs::remove_all(quake3);
    EXPECT_EQ(FindInstalledGame(), openarena);
    fs::remove(system.root / "usr/lib/ioquake3/ioquake3"); // the packages cannot run
    EXPECT_EQ(FindInstalledGame(), system.home / "ioquake3");
}

} // namespace
} // namespace vexo::test
