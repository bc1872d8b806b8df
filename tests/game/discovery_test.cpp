#include "game/discovery.h"

#include "game_fixture.h"

namespace vexo::test {
namespace {

class DiscoveryTest : public GameTest {
protected:
    void Install() {
        GameFile("quake3.exe");
        GameFile("baseq3/pak0.pk3");
        GameFile("baseq3/demos/d.dm_68");
    }
};

TEST(GamePaths, WindowsExamplesAreFormedLiterally) {
    EXPECT_EQ(GameExecutablePath("C:\\Games\\Quake3", '\\'), "C:\\Games\\Quake3\\quake3.exe");
    EXPECT_EQ(StockPakPath("C:\\Games\\Quake3", '\\'), "C:\\Games\\Quake3\\baseq3\\pak0.pk3");
    EXPECT_EQ(DirectoryOfChosenFile("C:\\Games\\Quake3\\quake3.exe", '\\'), "C:\\Games\\Quake3");
    EXPECT_EQ(DirectoryPartOfFile("C:\\Games\\Quake3\\quake3.exe", '\\'), "C:\\Games\\Quake3\\");
    // A drive root loses its separator; the test then looks for D:\baseq3\pak0.pk3.
    EXPECT_EQ(DirectoryOfChosenFile("D:\\quake3.exe", '\\'), "D:");
    EXPECT_EQ(StockPakPath("D:", '\\'), "D:\\baseq3\\pak0.pk3");
    EXPECT_EQ(DirectoryOfChosenFile("C:\\( jump into a folder and click ok )", '\\'), "C:");
}

TEST(GamePaths, PosixDirectoriesKeepColonsAndTheRoot) {
    EXPECT_EQ(DirectoryOfChosenFile("/games/q3:arena/quake3.exe", '/'), "/games/q3:arena");
    EXPECT_EQ(DirectoryOfChosenFile("/quake3.exe", '/'), "/");
    EXPECT_EQ(DirectoryOfChosenFile("quake3.exe", '/'), "");
}

TEST_F(DiscoveryTest, TheGameDirectoryTestNeedsBothFilesAsFiles) {
    EXPECT_FALSE(IsGameDirectory(""));
    EXPECT_FALSE(IsGameDirectory(game / "missing"));
    GameFile("quake3.exe");
    EXPECT_FALSE(IsGameDirectory(game.path())); // no baseq3/pak0.pk3
    GameDir("baseq3/pak0.pk3");
    EXPECT_FALSE(IsGameDirectory(game.path())); // a directory is not the data file
    std::filesystem::remove_all(game / "baseq3");
    GameFile("BaseQ3/PAK0.PK3");
    EXPECT_TRUE(IsGameDirectory(game.path())); // letter case does not matter
    std::filesystem::remove(game / "quake3.exe");
    GameDir("quake3.exe");
    EXPECT_FALSE(IsGameDirectory(game.path()));
}

TEST_F(DiscoveryTest, LocatingTheGameStoresItsDirectory) {
    Install();
    host.dialogReplies.push_back(game / "quake3.exe");
    form->btnBasePathSetClick();

    ASSERT_EQ(host.dialogs.size(), 1u);
    EXPECT_EQ(host.dialogs[0].title, "Locate your QUAKE3.EXE ...");
    EXPECT_EQ(host.dialogs[0].filter, "Quake III Arena (quake3.exe)|quake3.exe");
    EXPECT_EQ(host.dialogs[0].fileName, "quake3.exe");
    EXPECT_EQ(host.dialogs[0].defaultExt, "exe");
    EXPECT_EQ(C().edBasePath.Text(), game.path());
    EXPECT_EQ(Read("paths", "quake"), game.path());
    EXPECT_TRUE(host.boxes.empty());
    EXPECT_EQ(C().cbMods.Text(), "baseq3");
    ASSERT_EQ(C().clbDemos.Count(), 1);
    EXPECT_EQ(C().clbDemos.ItemText(0), "d.dm_68");

    // The directory counts, not the file picked in it.
    host.dialogReplies.push_back(game / "readme.txt");
    form->btnBasePathSetClick();
    EXPECT_EQ(C().edBasePath.Text(), game.path());
    EXPECT_TRUE(host.boxes.empty());
}

TEST_F(DiscoveryTest, ADirectoryWithoutTheGameIsRefused) {
    WriteFile(Ini(), "[paths]\nquake=/stored/before\n");
    GameFile("quake3.exe"); // but no baseq3/pak0.pk3
    GameFile("mod/a.pk3");
    host.dialogReplies.push_back(game / "quake3.exe");
    form->btnBasePathSetClick();

    EXPECT_EQ(C().edBasePath.Text(), "");
    EXPECT_TRUE(C().cbMods.Items().empty()); // the lists follow the emptied field
    ASSERT_EQ(host.boxes.size(), 1u);
    EXPECT_EQ(host.boxes[0].text, "Quake III not found in selected directory.");
    EXPECT_EQ(host.boxes[0].caption, "Error");
    EXPECT_EQ(host.boxes[0].flags, MB_OK | MB_ICONERROR);
    EXPECT_EQ(Read("paths", "quake"), "/stored/before");
}

TEST_F(DiscoveryTest, CancellingTheLocateDialogEmptiesTheFieldOnly) {
    Install();
    WriteFile(Ini(), "[paths]\nquake=" + game.path() + "\n");
    C().edBasePath.SetText(game.path());
    ASSERT_FALSE(C().cbMods.Items().empty());
    form->btnBasePathSetClick(); // no reply: cancelled

    EXPECT_EQ(C().edBasePath.Text(), "");
    EXPECT_TRUE(C().cbMods.Items().empty());
    EXPECT_TRUE(host.boxes.empty());
    EXPECT_EQ(Read("paths", "quake"), game.path());
}

TEST_F(DiscoveryTest, TheOutputFolderIsStoredWithoutItsSeparator) {
    host.dialogReplies.push_back(game.path() + "/( jump into a folder and click ok )");
    form->btnOutPathSetClick();
    ASSERT_EQ(host.dialogs.size(), 1u);
    EXPECT_EQ(host.dialogs[0].title, "Select AVI output folder ...");
    EXPECT_EQ(host.dialogs[0].filter, "( jump into a folder and click ok )");
    EXPECT_EQ(host.dialogs[0].fileName, "( jump into a folder and click ok )");
    EXPECT_EQ(host.dialogs[0].defaultExt, "");
    EXPECT_EQ(C().edOutPath.Text(), game.path());
    EXPECT_EQ(Read("paths", "output"), game.path());

    // The root folder stays a usable folder.
    host.dialogReplies.push_back("/( jump into a folder and click ok )");
    form->btnOutPathSetClick();
    EXPECT_EQ(C().edOutPath.Text(), "/");
    EXPECT_EQ(Read("paths", "output"), "/");

    // Cancelling empties the field and leaves the stored folder.
    form->btnOutPathSetClick();
    EXPECT_EQ(C().edOutPath.Text(), "");
    EXPECT_EQ(Read("paths", "output"), "/");
}

TEST_F(DiscoveryTest, ATypedDirectoryIsListedButNotStored) {
    Install();
    // The last keystrokes of a typed path: each one rebuilds the lists.
    const std::string path = game.path();
    C().edBasePath.SetText(path.substr(0, path.size() - 3));
    EXPECT_TRUE(C().cbMods.Items().empty());
    for (size_t i = path.size() - 3; i < path.size(); ++i)
        C().edBasePath.SetText(C().edBasePath.Text() + path[i]);
    EXPECT_EQ(C().cbMods.Text(), "baseq3");
    EXPECT_EQ(C().clbDemos.Count(), 1);
    EXPECT_EQ(Read("paths", "quake"), "<missing>");
}

} // namespace
} // namespace vexo::test
