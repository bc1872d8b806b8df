#include "form/frm_main.h"
#include "platform/fs.h"
#include "platform/log.h"
#include "run/run_driver.h"
#include "settings/codec_settings.h"
#include "settings/ini.h"

namespace vexo {

namespace {

// What Start says when no modification is selected: what to fix for there to be one.
std::string NoModificationText(const MainControls& c) {
    if (c.cbMods.Items().empty())
        return "There is no game in \"" + c.edBasePath.Text() +
               "\": no folder there holds the game's pk3 files. Correct \"Quake III Arena "
               "Path:\", or choose the game's folder (or its quake3.exe) with the \"...\" button "
               "beside it.";
    return "No modification is selected. Pick one under \"Use Modification:\".";
}

// The window as the run's observer: status line, title, message boxes, check marks.
class WindowObserver : public RunObserver {
public:
    WindowObserver(MainControls& c, IFormHost& host, const std::atomic<bool>& stop)
        : c_(c), host_(host), stop_(stop) {}

    void Status(const std::string& text) override { ShowStatus(c_, host_, text); }
    void Title(const std::string& text) override {
        host_.SetApplicationTitle(text.empty() ? kMainCaption : text);
    }
    void Progress(const FrameProgress& progress) override {
        c_.status.SetSimpleText(FrameStatusText(progress));
        const std::string title = FrameTitleText(progress);
        if (!title.empty())
            host_.SetApplicationTitle(title);
    }
    bool Ask(const std::string& text, const std::string& caption) override {
        return host_.MessageBox(text, caption, MB_YESNO | MB_ICONWARNING) == IDYES;
    }
    void Failure(const std::string& text) override {
        host_.MessageBox(text, "Error", MB_OK | MB_ICONERROR);
    }
    void OpenFolder(const std::string& folder) override {
        host_.ShellExecute("open", "", "", folder, SW_SHOW);
    }
    void RunStarts() override { DisableForRun(c_); }
    void RunEnds() override { EnableAfterRun(c_, host_); }
    void DemoRecorded(const RunDemo& demo) override {
        c_.clbDemos.SetChecked(demo.ListIndex, false);
    }
    void Pump() override { host_.ProcessMessages(); }
    bool StopRequested() override { return stop_; }

private:
    MainControls& c_;
    IFormHost& host_;
    const std::atomic<bool>& stop_;
};

} // namespace

RunRequest RunRequestFrom(const MainControls& c) {
    RunRequest r;
    r.BaseDir = c.edBasePath.Text();
    r.ModName = c.cbMods.Text();
    r.ConfigChosen = c.cbConfigs.ItemIndex() >= 0;
    r.ConfigItem = r.ConfigChosen ? c.cbConfigs.Text() : std::string();
    r.ProgramDir = platform::ProgramDirectory();
    r.Capture.Draw2D = c.cbDraw2D.Checked();
    r.Capture.DrawGun = c.cbDrawGun.Checked();
    r.Capture.ModeIndex = c.cbModes.ItemIndex();
    r.Capture.Windowed = c.cbWindowed.Checked();
    r.Capture.CaptureRate = c.edFps.Text();
    r.Capture.TimeScale = c.edTimeScale.Text();
    r.AviRate = c.edAviFps.Text();
    if (c.cbGammas.ItemIndex() >= 0)
        r.Gamma = GammaFromItem(c.cbGammas.Text());
    r.OutDir = c.edOutPath.Text();
    r.Realtime = c.cbRealtime.Checked();
    r.SubFrames = MotionBlurSubFrames(SettingsFilePath());
    r.LoadCodec = [ini = SettingsFilePath()](media::COMPVARS* vars) {
        return LoadCodecSettings(ini, vars);
    };
    r.Output = LoadOutputFormat(SettingsFilePath());
    for (int j = 0; j < c.clbDemos.Count(); ++j)
        if (c.clbDemos.Checked(j))
            r.Demos.push_back({c.clbDemos.ItemText(j), j});
    return r;
}

void TfrmMain::btnStartClick() {
    if (Controls.cbMods.ItemIndex() < 0) {
        const std::string text = NoModificationText(Controls);
        platform::LogFailure("start", "nothing to record with the game path \"" +
                                          Controls.edBasePath.Text() +
                                          "\": no modification is selected");
        host_.MessageBox(text, "Error", MB_OK | MB_ICONERROR);
        return;
    }
    stopRun_ = false;
    WindowObserver observer(Controls, host_, stopRun_);
    RunRecording(RunRequestFrom(Controls), observer, writer_);
    stopRun_ = false;
}

bool TfrmMain::FormCloseQuery() {
    if (Controls.frmMain.Enabled())
        return true;
    if (!stopRun_ && host_.MessageBox(kStopRunText, "Problem", MB_YESNO | MB_ICONWARNING) == IDYES)
        stopRun_ = true;
    return false;
}

} // namespace vexo
