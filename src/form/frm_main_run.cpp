#include "form/frm_main.h"
#include "run/run_driver.h"

namespace vexo {

void TfrmMain::btnStartClick() {
    RunRecording(*this);
}

} // namespace vexo
