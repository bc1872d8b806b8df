// A main window without pixels over a temporary game installation and a temporary program
// directory (vexo.ini, configs/, codec/), with a host that records what was asked of it.
#pragma once

#include <gtest/gtest.h>

#include <filesystem>
#include <memory>
#include <string>
#include <vector>

#include "form/frm_main.h"
#include "frames/avi_file.h"
#include "platform/fs.h"
#include "settings/ini.h"
#include "support/fake_host.h"
#include "support/temp_dir.h"

namespace vexo::test {

class GameTest : public ::testing::Test {
protected:
    GameTest() {
        platform::SetProgramDirectoryForTesting(program.path());
        form = std::make_unique<TfrmMain>(host, writer, queue);
        // Every status text passes through the window's message handling; keep them all.
        host.onProcessMessages = [this] { statuses.push_back(C().status.SimpleText()); };
    }
    ~GameTest() override { platform::SetProgramDirectoryForTesting(""); }

    MainControls& C() { return form->Controls; }
    std::string Ini() const { return program / "vexo.ini"; }
    std::string Read(const char* section, const char* key) {
        return ReadIniString(Ini(), section, key, "<missing>");
    }
    // A file below the game directory (parents created).
    void GameFile(const std::string& relative, const std::string& content = "x") {
        WriteFile(game / relative, content);
    }
    void GameDir(const std::string& relative) {
        std::filesystem::create_directories(game / relative);
    }
    void Config(const std::string& name) { WriteFile(program / ("configs/" + name), "// cfg\n"); }
    std::vector<std::string> DemoItems() {
        std::vector<std::string> items;
        for (const auto& item : C().clbDemos.Items())
            items.push_back(item.text);
        return items;
    }

    TempDir program;
    TempDir game;
    FakeHost host;
    CAviFile writer;
    platform::MainThreadQueue queue;
    std::unique_ptr<TfrmMain> form;
    std::vector<std::string> statuses;
};

} // namespace vexo::test
