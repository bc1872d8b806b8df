#include "form/frm_main.h"

#include "game/discovery.h"
#include "run/recording_guard.h"
#include "settings/ini.h"

namespace vexo {

TfrmMain::TfrmMain(IFormHost& host, CAviFile& writer, platform::MainThreadQueue& queue)
    : host_(host), writer_(writer), queue_(queue) {
    MainControls& c = Controls;
    c.cbWindowed.OnClick = [this] { cbWindowedClick(); };
    c.cbRealtime.OnClick = [this] { cbRealtimeClick(); };
    c.cbDraw2D.OnClick = [this] { cbDraw2DClick(); };
    c.cbDrawGun.OnClick = [this] { cbDrawGunClick(); };
    c.edAviFps.OnChange = [this] { edAviFpsChange(); };
    c.edFps.OnChange = [this] { edFpsChange(); };
    c.edTimeScale.OnChange = [this] { edTimeScaleChange(); };
    c.cbConfigs.OnChange = [this] { cbConfigsChange(); };
    c.edBasePath.OnChange = [this] { edBasePathChange(); };
    c.cbMods.OnChange = [this] { cbModsChange(); };
    c.clbDemos.OnClick = [this] { clbDemosClick(); };
}

void TfrmMain::ShowErrorBox(const std::string& message) {
    std::string text = message;
    if (!text.empty() && static_cast<unsigned char>(text.back()) > '.')
        text += '.';
    host_.MessageBox(text, host_.ApplicationTitle(), MB_OK | MB_ICONERROR);
}

void TfrmMain::Guard(const std::function<void()>& fn) {
    try {
        fn();
    } catch (const std::exception& e) {
        ShowErrorBox(e.what());
    }
}

void TfrmMain::FormCreate() {
    host_.SetApplicationTitle(kMainCaption);
    ShowStatus("Loading settings...");
    // A settings file that cannot be written does not leave the window half loaded: every
    // control gets its value and the lists are built; the error is shown once, at the end.
    DeferSettingsWriteErrors deferred;
    LoadSettings(FindInstalledGame);
    Controls.cbModes.SetItemIndex(3);
    Controls.cbGammas.SetItemIndex(10);
    // A recording the program was killed during left the player's game changed.
    const std::vector<std::string> recovered = RecoverInterruptedRecordings();
    ShowStatus("Ready.");
    if (!recovered.empty())
        host_.MessageBox(RecoveryNoticeText(recovered), "Notice", MB_OK | MB_ICONINFORMATION);
    deferred.ThrowFirst();
}

void TfrmMain::FormShow() {
    if (firstShown_)
        return;
    const std::string ini = SettingsFilePath();
    if (ReadIniBool(ini, "settings", "firstrun", false)) {
        firstShown_ = true; // a failed write below must not open it again at the next showing
        WriteIniInteger(ini, "settings", "firstrun", 0);
        host_.ShowHelpModal();
    }
    firstShown_ = true;
}

void TfrmMain::timerTimer() {
    const MainControls& c = Controls;
    const int checked = c.clbDemos.CheckedCount();
    const int32_t fps = ParseLeadingInteger(c.edFps.Text());
    const int32_t aviFps = ParseLeadingInteger(c.edAviFps.Text());
    // Start also answers a game path that gives no modification: it says what to fix.
    const bool noModification = !c.edBasePath.Text().empty() && c.cbMods.ItemIndex() < 0;
    Controls.btnStart.SetEnabled(
        (checked > 0 && fps >= 1 && fps <= 100 && aviFps >= 1 && aviFps <= 200) || noModification);
}

void TfrmMain::btnQuitClick() {
    host_.CloseMainWindow();
}

void TfrmMain::btnAboutClick() {
    host_.ShowAboutModal();
}
void TfrmMain::btnHelpClick() {
    host_.ShowHelpModal();
}

void TfrmMain::DisableForRun() {
    vexo::DisableForRun(Controls);
}
void TfrmMain::EnableAfterRun() {
    vexo::EnableAfterRun(Controls, host_);
}

} // namespace vexo
