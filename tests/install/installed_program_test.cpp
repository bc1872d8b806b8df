// This build installed into a temporary prefix, and the installed program started offscreen
// for a user whose home is a temporary directory.
#include <gtest/gtest.h>

#include <chrono>
#include <csignal>
#include <cstdlib>
#include <fcntl.h>
#include <filesystem>
#include <map>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>

#include "form/frm_main.h"
#include "frames/avi_file.h"
#include "platform/fs.h"
#include "settings/ini.h"
#include "support/fake_host.h"
#include "support/temp_dir.h"
#include "support/tga_file.h"

namespace vexo::test {
namespace {

namespace fs = std::filesystem;

// Every entry below dir with its size and modification time.
std::map<std::string, std::pair<uintmax_t, fs::file_time_type>> Snapshot(const std::string& dir) {
    std::map<std::string, std::pair<uintmax_t, fs::file_time_type>> entries;
    for (const auto& e : fs::recursive_directory_iterator(dir))
        entries[e.path()] = {e.is_regular_file() ? e.file_size() : 0, e.last_write_time()};
    return entries;
}

// Starts program with HOME set to home, no XDG_CONFIG_HOME and the offscreen platform.
pid_t StartAs(const std::string& program, const std::string& home) {
    const pid_t pid = ::fork();
    if (pid == 0) {
        ::setenv("HOME", home.c_str(), 1);
        ::unsetenv("XDG_CONFIG_HOME");
        ::setenv("QT_QPA_PLATFORM", "offscreen", 1);
        const int null = ::open("/dev/null", O_WRONLY);
        ::dup2(null, 1);
        ::dup2(null, 2);
        ::execl(program.c_str(), program.c_str(), static_cast<char*>(nullptr));
        ::_exit(127);
    }
    return pid;
}

TEST(InstalledProgram, KeepsItsSettingsAndConfigsInTheUsersFolder) {
    TempDir root;
    const std::string prefix = root / "prefix", home = root / "home";
    const std::string install = std::string("'") + VEXO_CMAKE + "' --install '" + VEXO_BUILD_DIR +
                                "' --prefix '" + prefix + "' >/dev/null";
    ASSERT_EQ(std::system(install.c_str()), 0);
    fs::create_directories(home);
    const auto installed = Snapshot(prefix);
    // The recorder without a window beside it, with its manual page; it finds the installed
    // configs before any window has run.
    EXPECT_TRUE(fs::exists(prefix + "/share/man/man1/vexo-record.1.gz"));
    const std::string demos = test::Capture("HOME='" + home + "' '" + prefix +
                                            "/bin/vexo-record' --game /nowhere x 2>&1");
    EXPECT_NE(demos.find("vexo-record: there is no game in \"/nowhere\""), std::string::npos)
        << demos;

    // The program writes the fields it loads at every start; "timescale" comes last.
    const std::string ini = home + "/.config/vexograph/vexo.ini";
    const pid_t pid = StartAs(prefix + "/bin/vexograph", home);
    ASSERT_GT(pid, 0);
    bool running = true;
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(60);
    while (running && ReadIniString(ini, "settings", "timescale", "") != "1.0" &&
           std::chrono::steady_clock::now() < deadline) {
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
        running = ::waitpid(pid, nullptr, WNOHANG) == 0;
    }
    if (running) {
        ::kill(pid, SIGKILL);
        ::waitpid(pid, nullptr, 0);
    }
    EXPECT_TRUE(running) << "the installed program ended by itself";
    EXPECT_EQ(ReadIniInteger(ini, "settings", "avifps", 0), 25);
    EXPECT_EQ(ReadIniString(ini, "settings", "timescale", ""), "1.0");
    EXPECT_EQ(ReadFile(home + "/.config/vexograph/configs/default.cfg"),
              ReadFile(std::string(VEXO_SOURCE_DIR) + "/configs/default.cfg"));
    EXPECT_TRUE(Snapshot(prefix) == installed) << "the program wrote into its prefix";

    // The config list that installation shows for that user.
    ::setenv("HOME", home.c_str(), 1);
    ::unsetenv("XDG_CONFIG_HOME");
    platform::SetProgramDirectoryForTesting(prefix + "/bin/");
    FakeHost host;
    CAviFile writer;
    platform::MainThreadQueue queue;
    TfrmMain form(host, writer, queue);
    form.Guard([&] { form.FormCreate(); });
    platform::SetProgramDirectoryForTesting("");
    EXPECT_TRUE(host.boxes.empty());
    EXPECT_EQ(form.Controls.cbConfigs.Items(), std::vector<std::string>{"default.cfg"});
    EXPECT_EQ(form.Controls.cbConfigs.Text(), "default.cfg");
}

} // namespace
} // namespace vexo::test
