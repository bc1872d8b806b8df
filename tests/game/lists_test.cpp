#include "game/lists.h"

#include "game_fixture.h"

namespace vexo::test {
namespace {

using ListsTest = GameTest;

TEST_F(ListsTest, ModificationsAreDirectoriesHoldingPk3Files) {
    GameFile("BaseQ3/PAK0.PK3"); // upper case on a case-sensitive disk
    GameFile("mymod/zz.pk3");
    GameFile("MYMOD/other.pk3");      // the same name in another case shows once
    GameFile("nopk3/readme.txt");     // no .pk3 at all
    GameFile("dotonly/.hidden.pk3");  // its only .pk3 is hidden
    GameFile(".hiddenmod/pak0.pk3");  // a hidden directory
    GameFile("pk3dir/sub.pk3/x.pk3"); // a directory named like a .pk3 is no .pk3 file
    GameFile("loose.pk3");            // a .pk3 lying in the game directory itself
    C().edBasePath.SetText(game.path());
    EXPECT_EQ(C().cbMods.Items(), (Strings{"baseq3", "mymod"}));
    // Nothing stored: "baseq3" is chosen and remembered at once.
    EXPECT_EQ(C().cbMods.Text(), "baseq3");
    EXPECT_EQ(Read("settings", "lastmod"), "baseq3");
    EXPECT_TRUE(ListModifications("").empty()); // no game directory: nothing scanned
}

TEST_F(ListsTest, StartUpReachesDemosAndConfigsThroughLetterCase) {
    for (const char* f :
         {"BaseQ3/PAK0.PK3", "BaseQ3/Demos/b.dm_68", "BaseQ3/Demos/A.dm_67", "BaseQ3/Demos/c.DM_68",
          "BaseQ3/Demos/notes.txt", "BaseQ3/Demos/folder.dm_68/x"})
        GameFile(f);
    Config("Default.CFG");
    Config("other.cfg");
    Ini("[paths]\nquake=" + game.path() + "\n");
    C().btnEditConfig.SetEnabled(false);

    form->Guard([&] { form->FormCreate(); });
    EXPECT_TRUE(host.boxes.empty());
    EXPECT_EQ(Demos(), (Strings{"A.dm_67", "b.dm_68", "c.DM_68"}));
    EXPECT_TRUE(C().clbDemos.Enabled());
    EXPECT_EQ(C().clbDemos.Color(), TColor::clWindow);
    EXPECT_TRUE(C().btnOpenModDir.Enabled());
    EXPECT_EQ(C().cbConfigs.Items(), (Strings{"default.cfg", "other.cfg"}));
    EXPECT_EQ(C().cbConfigs.Text(), "default.cfg");
    EXPECT_FALSE(C().btnEditConfig.Enabled()); // selection from code runs no handler
    EXPECT_EQ(Read("settings", "lastcfg"), "<missing>");
}

TEST_F(ListsTest, StaleStoredSelections) {
    GameFile("baseq3/pak0.pk3");
    GameFile("baseq3/demos/d.dm_68");
    for (const char* name : {"zeta.cfg", "Beta.CFG", "notes.txt"})
        Config(name);
    Ini("[settings]\nlastmod=gone\nlastcfg=missing.cfg\n");
    const Strings before = Demos();
    ASSERT_FALSE(before.empty());

    C().edBasePath.SetText(game.path());
    EXPECT_EQ(C().cbMods.ItemIndex(), -1); // no fall-back to the first item
    EXPECT_EQ(Demos(), before);            // and the demo list is left alone
    EXPECT_EQ(Read("settings", "lastmod"), "gone");
    EXPECT_EQ(C().cbConfigs.Items(), (Strings{"beta.cfg", "zeta.cfg"}));
    EXPECT_EQ(C().cbConfigs.ItemIndex(), 0);

    std::filesystem::remove_all(program / "configs");
    C().edBasePath.SetText("");
    EXPECT_EQ(C().cbConfigs.ItemIndex(), -1);
}

TEST_F(ListsTest, AModificationWithoutDemosAndTheRefresh) {
    GameFile("baseq3/pak0.pk3");
    GameFile("baseq3/demos/one.dm_68");
    GameFile("nodemos/x.pk3");
    C().edBasePath.SetText(game.path());
    C().clbDemos.SetChecked(0, true);

    C().cbMods.UserSelect(C().cbMods.IndexOfNoCase("nodemos"));
    EXPECT_TRUE(Demos().empty());
    EXPECT_FALSE(C().clbDemos.Enabled());
    EXPECT_EQ(C().clbDemos.Color(), TColor::clBtnFace);
    EXPECT_TRUE(C().btnOpenModDir.Enabled());
    EXPECT_EQ(Read("settings", "lastmod"), "nodemos");

    // A refresh finds demos added since, without the old check mark...
    C().cbMods.SetItemIndex(C().cbMods.IndexOfNoCase("baseq3"));
    GameFile("baseq3/demos/two.dm_68");
    statuses.clear();
    form->Button1Click();
    EXPECT_EQ(Demos(), (Strings{"one.dm_68", "two.dm_68"}));
    EXPECT_EQ(C().clbDemos.CheckedCount(), 0);
    EXPECT_TRUE(C().clbDemos.Enabled());
    EXPECT_EQ(statuses, (Strings{"Refreshing list of demos...", "Ready."}));
    EXPECT_EQ(host.sleeps, (std::vector<int>{250}));
    // ...and notices a vanished modification directory.
    std::filesystem::remove_all(game / "baseq3");
    form->Button1Click();
    EXPECT_FALSE(C().btnOpenModDir.Enabled());
    EXPECT_EQ(C().cbMods.Items(), (Strings{"baseq3", "nodemos"})); // not rebuilt
}

TEST_F(ListsTest, RefreshWithNothingSelectedOnlyShowsItsTexts) {
    const Strings before = Demos();
    form->Button1Click();
    EXPECT_EQ(statuses, (Strings{"Refreshing list of demos...", "Ready."}));
    EXPECT_EQ(Demos(), before);
    EXPECT_EQ(Read("settings", "lastmod"), "<missing>");
}

TEST_F(ListsTest, DemoNamesThatWouldBreakOutOfTheGameScriptAreNotListed) {
    for (const char* f :
         {"baseq3/pak0.pk3", "baseq3/demos/good; one.dm_68", "baseq3/demos/x\";quit;\".dm_68",
          "baseq3/demos/y\nquit.dm_68", "baseq3/demos/z\rquit.dm_68", "baseq3/demos/t\tab.dm_68"})
        GameFile(f);
    C().edBasePath.SetText(game.path());
    EXPECT_EQ(Demos(), (Strings{"good; one.dm_68"}));
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
    C().cbMods.UserSelect(0); // a rebuild leaves the field alone
    EXPECT_EQ(C().edDemoName.Text(), "demo2.dm_68");
}

} // namespace
} // namespace vexo::test
