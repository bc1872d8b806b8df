#include "game/lists.h"

#include <algorithm>

#include "game_fixture.h"

namespace vexo::test {
namespace {

using Strings = std::vector<std::string>;

class ListsTest : public GameTest {};

TEST_F(ListsTest, ModificationsAreRecognisedByTheirPk3Files) {
    GameFile("BaseQ3/PAK0.PK3"); // upper-case names on a case-sensitive disk
    GameFile("mymod/zz.pk3");
    GameFile("CPMA/z-cpma.Pk3");
    GameFile("nopk3/readme.txt");     // no .pk3 at all
    GameFile("dotonly/.hidden.pk3");  // its only .pk3 is a hidden file
    GameFile(".hiddenmod/pak0.pk3");  // a hidden directory
    GameFile("pk3dir/sub.pk3/x.pk3"); // a directory named like a .pk3 is no .pk3 file
    GameFile("loose.pk3");            // a .pk3 directly in the game directory
    GameFile("notadir.pk3");
    GameFile("MYMOD/other.pk3"); // the same name in another case shows once

    Strings found = ListModifications(game.path()); // in directory order
    std::sort(found.begin(), found.end());
    EXPECT_EQ(found, (Strings{"baseq3", "cpma", "mymod"}));
    C().edBasePath.SetText(game.path());
    EXPECT_EQ(C().cbMods.Items(), (Strings{"baseq3", "cpma", "mymod"}));
    // Nothing stored: "baseq3" is chosen, and remembered at once.
    EXPECT_EQ(C().cbMods.Text(), "baseq3");
    EXPECT_EQ(Read("settings", "lastmod"), "baseq3");
}

TEST_F(ListsTest, AnEmptyOrMissingGameDirectoryListsNothing) {
    EXPECT_TRUE(ListModifications("").empty());
    EXPECT_TRUE(ListModifications(game / "missing").empty());
    EXPECT_TRUE(ListDemos(game / "missing").empty());
    EXPECT_TRUE(ListConfigs().empty()); // no configs directory
}

TEST_F(ListsTest, StartUpListsTheStoredGameDirectoryThroughLetterCaseDifferences) {
    // A mixed-case installation: the lower-cased item must still reach its demos.
    GameFile("BaseQ3/PAK0.PK3");
    GameFile("BaseQ3/Demos/b.dm_68");
    GameFile("BaseQ3/Demos/A.dm_67");
    GameFile("BaseQ3/Demos/c.DM_68");
    GameFile("BaseQ3/Demos/notes.txt");
    GameDir("BaseQ3/Demos/folder.dm_68");
    Config("Default.CFG");
    Config("other.cfg");
    WriteFile(Ini(), "[paths]\nquake=" + game.path() + "\n");

    form->Guard([&] { form->FormCreate(); });
    EXPECT_TRUE(host.boxes.empty());
    EXPECT_EQ(C().cbMods.Text(), "baseq3");
    EXPECT_EQ(DemoItems(), (Strings{"A.dm_67", "b.dm_68", "c.DM_68"}));
    EXPECT_TRUE(C().clbDemos.Enabled());
    EXPECT_EQ(C().clbDemos.Color(), TColor::clWindow);
    EXPECT_EQ(C().clbDemos.CheckedCount(), 0);
    EXPECT_TRUE(C().btnOpenModDir.Enabled());
    EXPECT_EQ(Read("settings", "lastmod"), "baseq3");
    EXPECT_EQ(C().cbConfigs.Items(), (Strings{"default.cfg", "other.cfg"}));
    EXPECT_EQ(C().cbConfigs.Text(), "default.cfg");
    EXPECT_EQ(Read("settings", "lastcfg"), "<missing>"); // only a user's pick stores it
}

TEST_F(ListsTest, StoredSelectionsAreRestoredWithoutRunningTheConfigHandler) {
    GameFile("baseq3/pak0.pk3");
    GameFile("MyMod/a.pk3");
    GameFile("MyMod/demos/mine.dm_68");
    Config("a.cfg");
    Config("Fast.cfg");
    WriteFile(Ini(), "[settings]\nlastmod=MYMOD\nlastcfg=FAST.CFG\n");
    C().btnEditConfig.SetEnabled(false);

    C().edBasePath.SetText(game.path());
    EXPECT_EQ(C().cbMods.Text(), "mymod");
    EXPECT_EQ(DemoItems(), (Strings{"mine.dm_68"}));
    EXPECT_EQ(Read("settings", "lastmod"), "mymod");
    EXPECT_EQ(C().cbConfigs.Text(), "fast.cfg");
    EXPECT_FALSE(C().btnEditConfig.Enabled()); // selection from code runs no handler
}

TEST_F(ListsTest, AStaleLastModSelectsNothingAndKeepsTheDemoList) {
    GameFile("baseq3/pak0.pk3");
    GameFile("baseq3/demos/d.dm_68");
    Config("b.cfg");
    WriteFile(Ini(), "[settings]\nlastmod=gone\n");
    const Strings before = DemoItems();
    ASSERT_FALSE(before.empty());

    C().edBasePath.SetText(game.path());
    EXPECT_EQ(C().cbMods.Items(), (Strings{"baseq3"}));
    EXPECT_EQ(C().cbMods.ItemIndex(), -1);
    EXPECT_EQ(DemoItems(), before);
    EXPECT_EQ(Read("settings", "lastmod"), "gone");
    // The config list is still rebuilt and selected.
    EXPECT_EQ(C().cbConfigs.Text(), "b.cfg");
}

TEST_F(ListsTest, AStaleLastCfgSelectsTheFirstConfig) {
    Config("zeta.cfg");
    Config("Beta.CFG");
    Config("alpha.cfg");
    Config("notes.txt");
    WriteFile(Ini(), "[settings]\nlastcfg=missing.cfg\n");
    C().edBasePath.SetText(game.path());
    EXPECT_EQ(C().cbConfigs.Items(), (Strings{"alpha.cfg", "beta.cfg", "zeta.cfg"}));
    EXPECT_EQ(C().cbConfigs.ItemIndex(), 0);

    // With an empty configs directory nothing is selected.
    std::filesystem::remove_all(program / "configs");
    std::filesystem::create_directories(program / "configs");
    C().edBasePath.SetText("");
    EXPECT_TRUE(C().cbConfigs.Items().empty());
    EXPECT_EQ(C().cbConfigs.ItemIndex(), -1);
}

TEST_F(ListsTest, AModificationWithoutDemosGivesAnEmptyDisabledList) {
    GameFile("baseq3/pak0.pk3");
    GameFile("baseq3/demos/one.dm_68");
    GameFile("nodemos/x.pk3");
    C().edBasePath.SetText(game.path());
    ASSERT_EQ(DemoItems(), (Strings{"one.dm_68"}));
    C().clbDemos.SetChecked(0, true);

    C().cbMods.UserSelect(C().cbMods.IndexOfNoCase("nodemos"));
    EXPECT_TRUE(DemoItems().empty());
    EXPECT_FALSE(C().clbDemos.Enabled());
    EXPECT_EQ(C().clbDemos.Color(), TColor::clBtnFace);
    EXPECT_TRUE(C().btnOpenModDir.Enabled());
    EXPECT_EQ(Read("settings", "lastmod"), "nodemos");

    // Back to baseq3: the list is rebuilt without the old check mark.
    C().cbMods.UserSelect(C().cbMods.IndexOfNoCase("baseq3"));
    EXPECT_EQ(DemoItems(), (Strings{"one.dm_68"}));
    EXPECT_EQ(C().clbDemos.CheckedCount(), 0);
    EXPECT_TRUE(C().clbDemos.Enabled());
    EXPECT_EQ(C().clbDemos.Color(), TColor::clWindow);
}

TEST_F(ListsTest, DemoNamesThatCouldBreakOutOfTheGameScriptAreNotListed) {
    GameFile("baseq3/pak0.pk3");
    GameFile("baseq3/demos/good one.dm_68");
    GameFile("baseq3/demos/x\";quit;\".dm_68");
    GameFile("baseq3/demos/y\nquit.dm_68");
    GameFile("baseq3/demos/z\rquit.dm_68");
    GameFile("baseq3/demos/tab\there.dm_68");
    C().edBasePath.SetText(game.path());
    EXPECT_EQ(DemoItems(), (Strings{"good one.dm_68"}));

    EXPECT_TRUE(IsSafeDemoName("match;semicolon.dm_68")); // harmless inside the quotes
    EXPECT_FALSE(IsSafeDemoName("a\"b.dm_68"));
    EXPECT_FALSE(IsSafeDemoName("a\nb.dm_68"));
    EXPECT_FALSE(IsSafeDemoName("a\rb.dm_68"));
}

TEST_F(ListsTest, RefreshPicksUpNewDemosAndTheFolderState) {
    GameFile("baseq3/pak0.pk3");
    GameFile("other/pak0.pk3");
    C().edBasePath.SetText(game.path());
    EXPECT_TRUE(DemoItems().empty());
    GameFile("baseq3/demos/new.dm_68");
    statuses.clear();

    form->Button1Click();
    EXPECT_EQ(DemoItems(), (Strings{"new.dm_68"}));
    EXPECT_EQ(statuses, (Strings{"Refreshing list of demos...", "Ready."}));
    EXPECT_EQ(host.sleeps, (std::vector<int>{250}));

    // The modification directory vanished: its folder button goes dark.
    std::filesystem::remove_all(game / "baseq3");
    form->Button1Click();
    EXPECT_TRUE(DemoItems().empty());
    EXPECT_FALSE(C().btnOpenModDir.Enabled());
    EXPECT_EQ(C().cbMods.Items(), (Strings{"baseq3", "other"})); // not rebuilt by refresh
}

TEST_F(ListsTest, RefreshWithNothingSelectedOnlyShowsItsTexts) {
    const Strings before = DemoItems();
    C().btnOpenModDir.SetEnabled(false);
    form->Button1Click();
    EXPECT_EQ(statuses, (Strings{"Refreshing list of demos...", "Ready."}));
    EXPECT_EQ(DemoItems(), before);
    EXPECT_FALSE(C().btnOpenModDir.Enabled());
    EXPECT_EQ(Read("settings", "lastmod"), "<missing>");
}

TEST_F(ListsTest, TheDemoNameFieldShowsAndSelectsTheClickedDemo) {
    GameFile("baseq3/pak0.pk3");
    GameFile("baseq3/demos/demo1.dm_68");
    GameFile("baseq3/demos/demo2.dm_68");
    C().edBasePath.SetText(game.path());
    C().clbDemos.UserClick(1);
    EXPECT_EQ(C().edDemoName.Text(), "demo2.dm_68");
    form->edDemoNameMouseDown();
    EXPECT_EQ(C().edDemoName.SelStart(), 0);
    EXPECT_EQ(C().edDemoName.SelLength(), 11);

    // A rebuild leaves the field alone; a click without a selection empties it.
    C().cbMods.UserSelect(0);
    EXPECT_EQ(C().edDemoName.Text(), "demo2.dm_68");
    C().clbDemos.UserClick(-1);
    EXPECT_EQ(C().edDemoName.Text(), "");
}

} // namespace
} // namespace vexo::test
