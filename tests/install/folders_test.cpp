// An installed program (bin/ with its data folder beside it) against the user's configuration
// folder, in temporary directories.
#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <memory>

#include "form/frm_main.h"
#include "frames/avi_file.h"
#include "game/game_script.h"
#include "platform/fs.h"
#include "settings/folders.h"
#include "settings/ini.h"
#include "support/fake_host.h"
#include "support/temp_dir.h"

namespace vexo::test {
namespace {

namespace fs = std::filesystem;
using Strings = std::vector<std::string>;

class InstalledTest : public ::testing::Test {
protected:
    InstalledTest() {
        fs::create_directories(bin);
        WriteFile(data + "configs/default.cfg", "ours\n");
        platform::SetProgramDirectoryForTesting(bin);
        ::setenv("XDG_CONFIG_HOME", (root / "config").c_str(), 1);
    }
    ~InstalledTest() override {
        platform::SetProgramDirectoryForTesting("");
        ::unsetenv("XDG_CONFIG_HOME");
    }

    TempDir root;
    const std::string bin = root / "bin/";
    const std::string data = InstalledDataDirectory(bin);
    const std::string user = root / "config/vexograph/";
};

TEST_F(InstalledTest, TheProgramFolderDecidesWhereTheFilesAre) {
    ProgramFolders f = CurrentFolders();
    EXPECT_TRUE(f.installed);
    EXPECT_EQ(f.settingsFile, user + "vexo.ini");
    EXPECT_EQ(f.configDirs, (Strings{user + "configs", data + "configs"}));
    EXPECT_EQ(f.codecDir, data + "codec");
    EXPECT_EQ(data.find(".."), std::string::npos) << data;

    // A vexo.ini in a writable program folder makes a portable copy of an installed program.
    WriteFile(bin + "vexo.ini", "");
    f = CurrentFolders();
    EXPECT_FALSE(f.installed);
    EXPECT_EQ(f.settingsFile, bin + "vexo.ini");
    EXPECT_EQ(f.configDirs, (Strings{bin + "configs"}));

    // Without a data folder beside it (the build tree) everything stays beside the program.
    fs::remove(bin + "vexo.ini");
    fs::remove_all(data);
    EXPECT_EQ(SettingsFilePath(), bin + "vexo.ini");
}

TEST_F(InstalledTest, TheFirstStartCopiesOurDefaultConfigOnce) {
    PrepareUserFolders();
    EXPECT_EQ(ReadFile(user + "configs/default.cfg"), "ours\n");
    WriteFile(user + "configs/default.cfg", "mine\n");
    PrepareUserFolders();
    EXPECT_EQ(ReadFile(user + "configs/default.cfg"), "mine\n");

    // A portable program writes nothing into the user's configuration folder.
    fs::remove_all(root / "config");
    TempDir portable;
    platform::SetProgramDirectoryForTesting(portable.path());
    PrepareUserFolders();
    EXPECT_FALSE(fs::exists(root / "config"));
}

class InstalledFormTest : public InstalledTest {
protected:
    InstalledFormTest() {
        WriteFile(user + "configs/default.cfg", "mine\n");
        WriteFile(user + "configs/Own.CFG", "own\n");
        WriteFile(data + "configs/extra.cfg", "extra\n");
        C().edBasePath.SetText(root / "game"); // builds the lists
    }
    MainControls& C() { return form->Controls; }
    std::string Source(const std::string& config) {
        return BuildRunPaths("/q3", "baseq3", config, bin, "/out", '/').ConfigSource;
    }

    FakeHost host;
    CAviFile writer;
    platform::MainThreadQueue queue;
    std::unique_ptr<TfrmMain> form = std::make_unique<TfrmMain>(host, writer, queue);
};

TEST_F(InstalledFormTest, BothConfigFoldersServeAndTheUsersIsEdited) {
    EXPECT_EQ(C().cbConfigs.Items(), (Strings{"default.cfg", "extra.cfg", "own.cfg"}));
    EXPECT_EQ(C().cbConfigs.Text(), "default.cfg");
    EXPECT_EQ(Source("default.cfg"), user + "configs/default.cfg");
    EXPECT_EQ(Source("extra.cfg"), data + "configs/extra.cfg");

    // Picking a config only the installation holds is remembered in the user's settings.
    C().cbConfigs.UserSelect(C().cbConfigs.IndexOfNoCase("extra.cfg"));
    EXPECT_TRUE(C().btnEditConfig.Enabled());
    EXPECT_EQ(ReadIniString(user + "vexo.ini", "settings", "lastcfg", ""), "extra.cfg");

    form->btnOpenConfigDirClick();
    ASSERT_EQ(host.shell.size(), 1u);
    EXPECT_EQ(host.shell[0].file, user + "configs");
    // The installed config cannot be changed: the user edits a copy, used from then on.
    form->btnEditConfigClick();
    ASSERT_EQ(host.shell.size(), 2u);
    EXPECT_EQ(host.shell[1].params, "\"" + user + "configs/extra.cfg\"");
    EXPECT_EQ(ReadFile(user + "configs/extra.cfg"), "extra\n");
    EXPECT_EQ(Source("extra.cfg"), user + "configs/extra.cfg");

    WriteFile(data + "codec/huffyuv.inf", "x");
    form->Label11DblClick();
    ASSERT_EQ(host.shell.size(), 3u);
    EXPECT_EQ(host.shell[2].file, data + "codec/huffyuv.inf");
}

} // namespace
} // namespace vexo::test
