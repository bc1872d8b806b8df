#include "form/frm_main.h"
#include "platform/log.h"
#include "run/run_driver.h"

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

} // namespace

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
    RunRecording(Controls, host_, writer_, queue_, &stopRun_);
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
