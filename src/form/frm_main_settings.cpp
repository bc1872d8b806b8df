// Loading the main window's options from the settings file at start-up, and the handlers
// that store an option the moment the user changes it.
#include "form/frm_main.h"
#include "media/vfw.h"
#include "platform/fs.h"
#include "platform/registry.h"
#include "settings/codec_settings.h"
#include "settings/folders.h"
#include "settings/ini.h"

namespace vexo {

using media::COMPVARS, media::ICCompressorFree;

void TfrmMain::LoadSettings(const std::function<std::string()>& installedGame) {
    MainControls& c = Controls;
    const std::string ini = SettingsFilePath();
    c.cbWindowed.SetChecked(ReadIniBool(ini, "settings", "windowed", true));
    c.cbRealtime.SetChecked(ReadIniBool(ini, "settings", "realtime", false));
    c.cbDraw2D.SetChecked(ReadIniBool(ini, "settings", "draw2D", false));
    c.cbDrawGun.SetChecked(ReadIniBool(ini, "settings", "drawGun", true));
    c.edAviFps.SetText(std::to_string(ReadIniInteger(ini, "settings", "avifps", 25)));
    c.edFps.SetText(std::to_string(ReadIniInteger(ini, "settings", "fps", 35)));
    c.edTimeScale.SetText(ReadIniString(ini, "settings", "timescale", "1.0"));

    // The game directory: the settings file, else the game's registry entry, else an
    // installation found where the system's packages put it. Only the first is stored.
    c.edBasePath.SetText(ReadIniString(ini, "paths", "quake", ""));
    if (c.edBasePath.Text().empty())
        c.edBasePath.SetText(
            platform::ReadRegistryString("SOFTWARE\\Id\\Quake III Arena", "INSTALLPATH"));
    if (c.edBasePath.Text().empty() && installedGame)
        c.edBasePath.SetText(installedGame());
    if (c.edBasePath.OnChange)
        c.edBasePath.OnChange();

    c.edOutPath.SetText(ReadIniString(ini, "paths", "output", DefaultOutputDirectory()));
    if (!platform::DirectoryExists(c.edOutPath.Text()))
        c.edOutPath.SetText(DefaultOutputDirectory());

    // Probe the stored codec choice; nothing of it is kept.
    COMPVARS probe{};
    ResetCodecSettings(&probe, true);
    LoadCodecSettings(ini, &probe);
    ICCompressorFree(&probe);
}

namespace {

void WriteFlag(const char* key, const TCheckBox& box) {
    WriteIniInteger(SettingsFilePath(), "settings", key, box.Checked() ? 1 : 0);
}

} // namespace

void TfrmMain::cbWindowedClick() {
    WriteFlag("windowed", Controls.cbWindowed);
}
void TfrmMain::cbRealtimeClick() {
    WriteFlag("realtime", Controls.cbRealtime);
}
void TfrmMain::cbDraw2DClick() {
    WriteFlag("draw2D", Controls.cbDraw2D);
}
void TfrmMain::cbDrawGunClick() {
    WriteFlag("drawGun", Controls.cbDrawGun);
}

void TfrmMain::edAviFpsChange() {
    WriteIniInteger(SettingsFilePath(), "settings", "avifps",
                    ParseLeadingInteger(Controls.edAviFps.Text()));
}

void TfrmMain::edFpsChange() {
    WriteIniInteger(SettingsFilePath(), "settings", "fps",
                    ParseLeadingInteger(Controls.edFps.Text()));
}

void TfrmMain::edTimeScaleChange() {
    WriteIniString(SettingsFilePath(), "settings", "timescale", Controls.edTimeScale.Text());
}

void TfrmMain::cbConfigsChange() {
    MainControls& c = Controls;
    if (c.cbConfigs.ItemIndex() < 0) {
        c.btnEditConfig.SetEnabled(false);
        return;
    }
    const std::string path =
        FindConfigFile(CurrentFolders(), c.cbConfigs.Text(), platform::kPathSep);
    if (platform::FileExists(path)) {
        c.btnEditConfig.SetEnabled(true);
        WriteIniString(SettingsFilePath(), "settings", "lastcfg", c.cbConfigs.Text());
    } else {
        c.btnEditConfig.SetEnabled(false);
    }
}

} // namespace vexo
