#include "game/shortcuts.h"

#include "game_fixture.h"

namespace vexo::test {
namespace {

class ShortcutsTest : public GameTest {
protected:
    // The installation holds BaseQ3 (listed as "baseq3") and its Demos folder.
    void Select() {
        for (const char* f : {"quake3.exe", "BaseQ3/PAK0.PK3", "BaseQ3/Demos/d.dm_68"})
            GameFile(f);
        Config("Default.CFG");
        C().edBasePath.SetText(game.path());
        ASSERT_EQ(C().cbMods.Text(), "baseq3");
        ASSERT_EQ(C().cbConfigs.Text(), "default.cfg");
        statuses.clear();
    }
    // The one shell call made since the last check, always "open" and shown.
    void ExpectOpened(const std::string& file, const std::string& params = "",
                      const std::string& directory = "") {
        ASSERT_EQ(host.shell.size(), 1u);
        EXPECT_EQ(host.shell[0].verb, "open");
        EXPECT_EQ(host.shell[0].file, file);
        EXPECT_EQ(host.shell[0].params, params);
        EXPECT_EQ(host.shell[0].directory, directory);
        EXPECT_EQ(host.shell[0].show, SW_SHOW);
        host.shell.clear();
    }
};

TEST_F(ShortcutsTest, ButtonsWithoutTheirSelectionDoNothing) {
    C().status.SetSimpleText("before");
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
    Select();
    C().cbModes.SetItemIndex(0);
    C().cbWindowed.SetChecked(false);
    form->btnRunModClick();
    ExpectOpened(game / "quake3.exe",
                 "+set fs_game baseq3 +set r_mode 0 +set r_fullscreen 1 +set cg_draw2D 1 "
                 "+set cg_drawGun 1 ",
                 game.path());
    EXPECT_EQ(statuses, (Strings{"Launching modification...", "Ready."}));
    EXPECT_EQ(host.sleeps, (std::vector<int>{400}));

    // A quake3.exe copied from Windows is handed to Wine, with the same parameters.
    WriteFile(game / "quake3.exe", "MZ\x90");
    form->btnRunModClick();
    ExpectOpened("wine",
                 std::string("\"") + game / "quake3.exe" +
                     "\" +set fs_game baseq3 +set r_mode 0 +set r_fullscreen 1 "
                     "+set cg_draw2D 1 +set cg_drawGun 1 ",
                 game.path());
}

TEST_F(ShortcutsTest, FoldersAndConfigsAreHandedOverAsTheyAreOnDisk) {
    Select();
    form->btnOpenModDirClick();
    ExpectOpened(game / "BaseQ3");
    form->btnOpenDemosDirClick();
    ExpectOpened(game / "BaseQ3/Demos");
    form->btnOpenConfigDirClick();
    ExpectOpened(program / "configs");
    form->btnEditConfigClick();
    ExpectOpened("notepad.exe", '"' + (program / "configs/Default.CFG") + '"');
    EXPECT_EQ(statuses,
              (Strings{"Opening modification directory...", "Ready.", "Opening demos directory...",
                       "Ready.", "Opening config file directory...", "Ready.",
                       "Launching notepad...", "Ready."}));
    EXPECT_EQ(host.sleeps, (std::vector<int>{250, 250, 250, 250}));

    // Nothing to open them with: each says so, with the path.
    host.shellWorks = false;
    form->btnOpenModDirClick();
    form->btnEditConfigClick();
    host.shell.clear();
    ASSERT_EQ(host.boxes.size(), 2u);
    EXPECT_EQ(host.boxes[0].text.rfind("The folder \"" + game / "BaseQ3" +
                                           "\" could not be opened: no program to show folders",
                                       0),
              0u);
    EXPECT_EQ(host.boxes[1].text.rfind("The config \"" + program / "configs/Default.CFG" +
                                           "\" could not be opened: no text editor was found",
                                       0),
              0u);
    EXPECT_EQ(host.boxes[1].flags, MB_OK | MB_ICONERROR);

    // Missing demos and config folders: the texts, the pause, nothing opened, and why.
    std::filesystem::remove_all(game / "BaseQ3/Demos");
    std::filesystem::remove_all(program / "configs");
    statuses.clear();
    host.boxes.clear();
    form->btnOpenDemosDirClick();
    form->btnOpenConfigDirClick();
    EXPECT_TRUE(host.shell.empty());
    EXPECT_EQ(statuses, (Strings{"Opening demos directory...", "Ready.",
                                 "Opening config file directory...", "Ready."}));
    ASSERT_EQ(host.boxes.size(), 2u);
    EXPECT_EQ(host.boxes[0].text, "The folder \"" + game / "BaseQ3/demos" + "\" does not exist.");
    EXPECT_EQ(host.boxes[1].text, "The folder \"" + program / "configs" + "\" does not exist.");
}

TEST_F(ShortcutsTest, BannersAndTheCodecInstall) {
    form->imgAppBannerClick();
    form->imgPpBannerClick();
    ASSERT_EQ(host.shell.size(), 2u);
    EXPECT_EQ(host.shell[0].file, "https://vexograph.example");
    EXPECT_EQ(host.shell[1].file, "https://vexograph.example/donate");
    EXPECT_EQ(host.shell[1].show, SW_SHOWMINNOACTIVE);
    EXPECT_EQ(statuses, (Strings{"Thank you!"}));
    host.shell.clear();

    form->Label11DblClick();
    EXPECT_TRUE(host.shell.empty());
    WriteFile(program / "codec/huffyuv.inf", "[Version]\n");
    form->Label11DblClick();
    ASSERT_EQ(host.shell.size(), 1u);
    EXPECT_EQ(host.shell[0].verb, "install");
    EXPECT_EQ(host.shell[0].file, program / "codec/huffyuv.inf");
    EXPECT_EQ(host.shell[0].show, SW_SHOWNORMAL);
    ASSERT_EQ(host.boxes.size(), 2u);
    EXPECT_EQ(host.boxes[0].text, "Huffyuv codec install failed.");
    EXPECT_EQ(host.boxes[1].text, "Huffyuv codec installed.");
    EXPECT_EQ(host.boxes[1].caption, "Notice");
    EXPECT_EQ(host.boxes[1].flags, MB_OK | MB_ICONWARNING);
}

} // namespace
} // namespace vexo::test
