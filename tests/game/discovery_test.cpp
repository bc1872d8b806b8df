#include "game/discovery.h"
#include "game/engine.h"

#include "game_fixture.h"

namespace vexo::test {
namespace {

TEST(GamePaths, ChosenFilesReduceToTheirDirectory) {
    EXPECT_EQ(DirectoryOfChosenFile("C:\\Games\\Quake3\\quake3.exe", '\\'), "C:\\Games\\Quake3");
    EXPECT_EQ(DirectoryOfChosenFile("D:\\quake3.exe", '\\'), "D:");
    EXPECT_EQ(StockPakPath("D:", '\\'), "D:\\baseq3\\pak0.pk3");
    EXPECT_EQ(DirectoryOfChosenFile("/q3:arena/quake3.exe", '/'), "/q3:arena");
    EXPECT_EQ(DirectoryOfChosenFile("/quake3.exe", '/'), "/"); // the root stays usable
}

class DiscoveryTest : public GameTest {
protected:
    void Locate(const std::string& file) {
        host.dialogReplies.push_back(file);
        form->btnBasePathSetClick();
    }
};

TEST_F(DiscoveryTest, TheGameDirectoryTestNeedsBothFilesAsFiles) {
    EXPECT_FALSE(IsGameDirectory(game / "missing"));
    GameFile("quake3.exe");
    EXPECT_FALSE(IsGameDirectory(game.path()));
    std::filesystem::create_directories(game / "baseq3/pak0.pk3");
    EXPECT_FALSE(IsGameDirectory(game.path()));
    std::filesystem::remove_all(game / "baseq3");
    GameFile("BaseQ3/PAK0.PK3");
    EXPECT_TRUE(IsGameDirectory(game.path()));
}

TEST_F(DiscoveryTest, EnginesOfTheIoquake3FamilyAndOpenArenasDataMakeAGameDirectory) {
    namespace fs = std::filesystem;
    GameFile("baseoa/pak0.pk3");
    GameFile("ioquake3.x86_64"); // not executable yet: not an engine
    EXPECT_FALSE(IsGameDirectory(game.path()));
    fs::permissions(game / "ioquake3.x86_64", fs::perms::owner_exec, fs::perm_options::add);
    EXPECT_TRUE(IsGameDirectory(game.path()));
    GameEngine engine = FindGameEngine(game.path());
    EXPECT_EQ(engine.Executable, "ioquake3.x86_64");
    EXPECT_TRUE(engine.Native);
    EXPECT_TRUE(engine.Standalone());
    // The original game comes first, and with baseq3 nothing runs standalone.
    GameFile("quake3.exe");
    GameFile("baseq3/pak0.pk3");
    engine = FindGameEngine(game.path());
    EXPECT_EQ(engine.Executable, "quake3.exe");
    EXPECT_FALSE(engine.Native);
    EXPECT_EQ(engine.BaseGame, "baseq3");
}

TEST_F(DiscoveryTest, LocateAcceptsRefusesAndCancels) {
    GameFile("quake3.exe");
    GameFile("mod/a.pk3");
    Ini("[paths]\nquake=/stored/before\n");

    Locate(game / "quake3.exe"); // no baseq3/pak0.pk3
    ASSERT_EQ(host.dialogs.size(), 1u);
    EXPECT_EQ(host.dialogs[0].title, "Locate your QUAKE3.EXE ...");
    EXPECT_EQ(host.dialogs[0].filter.rfind("Quake III Arena (quake3.exe)|quake3.exe;", 0), 0u);
    EXPECT_NE(host.dialogs[0].filter.find(";ioquake3.x86_64;"), std::string::npos);
    EXPECT_EQ(host.dialogs[0].fileName, "quake3.exe");
    EXPECT_EQ(host.dialogs[0].defaultExt, "exe");
    EXPECT_EQ(C().edBasePath.Text(), "");
    EXPECT_TRUE(C().cbMods.Items().empty());
    ASSERT_EQ(host.boxes.size(), 1u);
    EXPECT_EQ(host.boxes[0].text, "Quake III not found in selected directory.");
    EXPECT_EQ(host.boxes[0].caption, "Error");
    EXPECT_EQ(host.boxes[0].flags, MB_OK | MB_ICONERROR);
    EXPECT_EQ(Read("paths", "quake"), "/stored/before");

    GameFile("baseq3/pak0.pk3");
    Locate(game / "other-file.txt"); // the directory counts, not the file
    EXPECT_EQ(C().edBasePath.Text(), game.path());
    EXPECT_EQ(Read("paths", "quake"), game.path());
    EXPECT_EQ(C().cbMods.Items(), (Strings{"baseq3", "mod"}));
    EXPECT_EQ(host.boxes.size(), 1u);

    form->btnBasePathSetClick(); // cancelled
    EXPECT_EQ(C().edBasePath.Text(), "");
    EXPECT_TRUE(C().cbMods.Items().empty());
    EXPECT_EQ(Read("paths", "quake"), game.path());
}

TEST_F(DiscoveryTest, OutputFolderIsStoredWithoutItsSeparator) {
    host.dialogReplies.push_back(game.path() + "/( jump into a folder and click ok )");
    form->btnOutPathSetClick();
    ASSERT_EQ(host.dialogs.size(), 1u);
    EXPECT_EQ(host.dialogs[0].title, "Select AVI output folder ...");
    EXPECT_EQ(host.dialogs[0].filter, "( jump into a folder and click ok )");
    EXPECT_EQ(host.dialogs[0].fileName, "( jump into a folder and click ok )");
    EXPECT_EQ(C().edOutPath.Text(), game.path());
    EXPECT_EQ(Read("paths", "output"), game.path());

    form->btnOutPathSetClick(); // cancelled
    EXPECT_EQ(C().edOutPath.Text(), "");
    EXPECT_EQ(Read("paths", "output"), game.path());
}

} // namespace
} // namespace vexo::test
