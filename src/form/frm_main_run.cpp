#include "form/frm_main.h"
#include "run/run_driver.h"

namespace vexo {

void TfrmMain::btnStartClick() {
    RunRecording(Controls, host_, writer_, queue_);
}

} // namespace vexo
