#include "game/shortcuts.h"

#include "game_fixture.h"

namespace vexo::test {
namespace {

using Strings = std::vector<std::string>;

std::string Quoted(const std::string& text) {
    std::string quoted(1, '"');
    quoted.append(text).push_back('"');
    return quoted;
}

class ShortcutsTest : public GameTest {
protected:
    // A game with the modification "mymod" selected and the config "default.cfg".
    void SelectMod() {
        GameFile("quake3.exe");
        GameFile("baseq3/pak0.pk3");
        GameFile("mymod/a.pk3");
        Config("default.cfg");
        WriteFile(Ini(), "[settings]\nlastmod=mymod\n");
        C().edBasePath.SetText(game.path());
        ASSERT_EQ(C().cbMods.Text(), "mymod");
        ASSERT_EQ(C().cbConfigs.Text(), "default.cfg");
        statuses.clear();
    }
    // One shell call of verb "open", shown normally, as the buttons make it.
    void ExpectOpened(const std::string& file, const std::string& params = "",
                      const std::string& directory = "") {
        ASSERT_EQ(host.shell.size(), 1u);
        EXPECT_EQ(host.shell[0].verb, "open");
        EXPECT_EQ(host.shell[0].file, file);
        EXPECT_EQ(host.shell[0].params, params);
        EXPECT_EQ(host.shell[0].directory, directory);
        EXPECT_EQ(host.shell[0].show, SW_SHOW);
    }
};

TEST(GameParameters, ThePlainLaunchLine) {
    EXPECT_EQ(GameParameters("baseq3", 3, true), "+set fs_game baseq3 +set r_mode 3 "
                                                 "+set r_fullscreen 0 +set cg_draw2D 1 "
                                                 "+set cg_drawGun 1 ");
    EXPECT_EQ(GameParameters("mymod", -1, false), "+set fs_game mymod +set r_mode -1 "
                                                  "+set r_fullscreen 1 +set cg_draw2D 1 "
                                                  "+set cg_drawGun 1 ");
    EXPECT_EQ(NotepadParameters("C:\\Program Files\\Vexo\\configs\\default.cfg"),
              "\"C:\\Program Files\\Vexo\\configs\\default.cfg\"");
    EXPECT_EQ(CodecSetupPath("C:\\Vexo\\", '\\'), "C:\\Vexo\\codec\\huffyuv.inf");
}

TEST_F(ShortcutsTest, ButtonsWithoutTheirSelectionDoNothing) {
    C().status.SetSimpleText("before");
    ASSERT_EQ(C().cbMods.ItemIndex(), -1);
    ASSERT_EQ(C().cbConfigs.ItemIndex(), -1);
    form->btnRunModClick();
    form->btnOpenModDirClick();
    form->btnEditConfigClick();
    form->btnOpenDemosDirClick();
    EXPECT_TRUE(host.shell.empty());
    EXPECT_TRUE(host.sleeps.empty());
    EXPECT_TRUE(statuses.empty());
    EXPECT_EQ(C().status.SimpleText(), "before");
}

TEST_F(ShortcutsTest, RunStartsTheGameWithTheModification) {
    SelectMod();
    C().cbModes.SetItemIndex(0);
    C().cbWindowed.SetChecked(false);
    C().cbDraw2D.SetChecked(false); // not consulted: the HUD is always on
    form->btnRunModClick();
    ExpectOpened(game / "quake3.exe",
                 "+set fs_game mymod +set r_mode 0 +set r_fullscreen 1 +set cg_draw2D 1 "
                 "+set cg_drawGun 1 ",
                 game.path());
    EXPECT_EQ(statuses, (Strings{"Launching modification...", "Ready."}));
    EXPECT_EQ(host.sleeps, (std::vector<int>{400}));
}

TEST_F(ShortcutsTest, FoldersAreOpenedAsTheyAreOnDisk) {
    GameFile("BaseQ3/PAK0.PK3");
    GameDir("BaseQ3/Demos");
    C().edBasePath.SetText(game.path());
    ASSERT_EQ(C().cbMods.Text(), "baseq3");
    statuses.clear();

    form->btnOpenModDirClick();
    ExpectOpened(game / "BaseQ3");
    EXPECT_EQ(statuses, (Strings{"Opening modification directory...", "Ready."}));
    EXPECT_EQ(host.sleeps, (std::vector<int>{250}));

    host.shell.clear();
    statuses.clear();
    form->btnOpenDemosDirClick();
    ExpectOpened(game / "BaseQ3/Demos");
    EXPECT_EQ(statuses, (Strings{"Opening demos directory...", "Ready."}));
}

TEST_F(ShortcutsTest, MissingDemosOrConfigFoldersAreNotOpened) {
    SelectMod(); // mymod has no demos folder
    form->btnOpenDemosDirClick();
    EXPECT_TRUE(host.shell.empty());
    EXPECT_EQ(statuses, (Strings{"Opening demos directory...", "Ready."}));
    EXPECT_EQ(host.sleeps, (std::vector<int>{250}));

    statuses.clear();
    std::filesystem::remove_all(program / "configs");
    form->btnOpenConfigDirClick();
    EXPECT_TRUE(host.shell.empty());
    EXPECT_EQ(statuses, (Strings{"Opening config file directory...", "Ready."}));

    Config("default.cfg");
    form->btnOpenConfigDirClick();
    ExpectOpened(program / "configs");
}

TEST_F(ShortcutsTest, EditOpensTheQuotedConfigInNotepad) {
    SelectMod();
    form->btnEditConfigClick();
    ExpectOpened("notepad.exe", Quoted(program / "configs/default.cfg"));
    EXPECT_EQ(statuses, (Strings{"Launching notepad...", "Ready."}));
    EXPECT_EQ(host.sleeps, (std::vector<int>{250}));

    // A config shown lower-cased reaches the file as it is named on disk.
    std::filesystem::remove(program / "configs/default.cfg");
    Config("Default.CFG");
    host.shell.clear();
    form->btnEditConfigClick();
    ExpectOpened("notepad.exe", Quoted(program / "configs/Default.CFG"));
}

TEST_F(ShortcutsTest, BannersOpenTheirPages) {
    form->imgAppBannerClick();
    ASSERT_EQ(host.shell.size(), 1u);
    EXPECT_EQ(host.shell[0].verb, "open");
    EXPECT_EQ(host.shell[0].file, "https://vexograph.example");
    EXPECT_EQ(host.shell[0].show, SW_SHOWMINNOACTIVE);
    EXPECT_TRUE(statuses.empty());

    form->imgPpBannerClick();
    ASSERT_EQ(host.shell.size(), 2u);
    EXPECT_EQ(host.shell[1].file, "https://vexograph.example/donate");
    EXPECT_EQ(host.shell[1].show, SW_SHOWMINNOACTIVE);
    EXPECT_EQ(C().status.SimpleText(), "Thank you!");
}

TEST_F(ShortcutsTest, TheCodecInstallNeedsItsSetupFile) {
    form->Label11DblClick();
    EXPECT_TRUE(host.shell.empty());
    ASSERT_EQ(host.boxes.size(), 1u);
    EXPECT_EQ(host.boxes[0].text, "Huffyuv codec install failed.");
    EXPECT_EQ(host.boxes[0].caption, "Error");
    EXPECT_EQ(host.boxes[0].flags, MB_OK | MB_ICONERROR);

    WriteFile(program / "codec/huffyuv.inf", "[Version]\n");
    form->Label11DblClick();
    ASSERT_EQ(host.shell.size(), 1u);
    EXPECT_EQ(host.shell[0].verb, "install");
    EXPECT_EQ(host.shell[0].file, program / "codec/huffyuv.inf");
    EXPECT_EQ(host.shell[0].show, SW_SHOWNORMAL);
    ASSERT_EQ(host.boxes.size(), 2u);
    EXPECT_EQ(host.boxes[1].text, "Huffyuv codec installed.");
    EXPECT_EQ(host.boxes[1].caption, "Notice");
    EXPECT_EQ(host.boxes[1].flags, MB_OK | MB_ICONWARNING);
}

} // namespace
} // namespace vexo::test
