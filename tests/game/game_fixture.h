// A main window without pixels over a temporary game installation and a temporary program
// directory (vexo.ini, configs/, codec/), with a host that records what was asked of it.
#pragma once

#include <gtest/gtest.h>

#include <filesystem>
#include <memory>

#include "form/frm_main.h"
#include "frames/avi_file.h"
#include "platform/fs.h"
#include "settings/ini.h"
#include "support/fake_host.h"
#include "support/system_games.h"
#include "support/temp_dir.h"

namespace vexo::test {

using Strings = std::vector<std::string>;

class GameTest : public ::testing::Test {
protected:
    GameTest() {
        platform::SetProgramDirectoryForTesting(program.path());
        // Every status text passes through the window's message handling; keep them all.
        host.onProcessMessages = [this] { statuses.push_back(C().status.SimpleText()); };
    }
    ~GameTest() override { platform::SetProgramDirectoryForTesting(""); }

    MainControls& C() { return form->Controls; }
    std::string Read(const char* section, const char* key) {
        return ReadIniString(program / "vexo.ini", section, key, "<missing>");
    }
    void Ini(const std::string& text) { WriteFile(program / "vexo.ini", text); }
    void GameFile(const std::string& relative) { WriteFile(game / relative, "x"); }
    void Config(const std::string& name) { WriteFile(program / ("configs/" + name), "x"); }
    Strings Demos() {
        Strings items;
        for (const auto& item : C().clbDemos.Items())
            items.push_back(item.text);
        return items;
    }

    SystemGames system; // no game of this machine shows up in the lists
    TempDir program, game;
    FakeHost host;
    CAviFile writer;
    platform::MainThreadQueue queue;
    std::unique_ptr<TfrmMain> form = std::make_unique<TfrmMain>(host, writer, queue);
    Strings statuses;
};

} // namespace vexo::test
