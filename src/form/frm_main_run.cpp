#include "form/frm_main.h"
#include "run/run_driver.h"

namespace vexo {

void TfrmMain::btnStartClick() {
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
