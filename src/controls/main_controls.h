// Every control of the main window that the logic reads or writes, with its initial state.
#pragma once

#include <string>

#include "controls/controls.h"
#include "controls/form_host.h"

namespace vexo {

inline constexpr const char* kMainCaption = "Vexograph | PUBLIC BETA v0.5";

// The output directory the program falls back to: the user's videos folder where it exists,
// else the home folder $HOME names.
std::string DefaultOutputDirectory();

struct MainControls {
    MainControls();

    // Path rows.
    TEdit edBasePath{"edBasePath"};
    TButton btnBasePathSet{"btnBasePathSet"};
    TEdit edOutPath; // initial text: the default output directory
    TButton btnOutPathSet{"btnOutPathSet"};

    // Left column.
    TButton btnRunMod{"btnRunMod"};
    TButton btnOpenModDir{"btnOpenModDir"};
    TComboBox cbMods{"cbMods", true};
    TButton btnEditConfig{"btnEditConfig"};
    TButton btnOpenConfigDir{"btnOpenConfigDir"};
    TComboBox cbConfigs{"cbConfigs", true};
    TComboBox cbModes{"cbModes", true};
    TEdit edAviFps{"edAviFps"};
    TEdit edFps{"edFps"};
    TEdit edTimeScale{"edTimeScale"};
    TComboBox cbGammas{"cbGammas", true};
    TCheckBox cbWindowed{"cbWindowed", true};
    TCheckBox cbDraw2D{"cbDraw2D", false};
    TCheckBox cbRealtime{"cbRealtime", false};
    TCheckBox cbDrawGun{"cbDrawGun", true};

    // Right column.
    TButton Button1{"Button1"};
    TButton btnOpenDemosDir{"btnOpenDemosDir"};
    TCheckListBox clbDemos{"clbDemos"};
    TEdit edDemoName{"edDemoName"};
    TButton btnStart{"btnStart"};
    TButton btnCodec{"btnCodec"};
    TButton btnAbout{"btnAbout"};
    TButton btnHelp{"btnHelp"};
    TButton btnQuit{"btnQuit"};

    TStatusBar status{"status"};

    // The main window as a whole (disabled during a recording run).
    TControl frmMain{"frmMain"};
};

// The twelve resolution items and the 51 gamma items, in order.
const std::vector<std::string>& ResolutionItems();
const std::vector<std::string>& GammaItems();

// Puts text into the status line, then handles the pending window events so that it is
// painted before the caller goes on.
void ShowStatus(MainControls& c, IFormHost& host, const std::string& text);

// A recording run disables Start and the whole window, and enables both again afterwards
// (restoring the application title).
void DisableForRun(MainControls& c);
void EnableAfterRun(MainControls& c, IFormHost& host);

} // namespace vexo
