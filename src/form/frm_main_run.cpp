// Placeholder until the recording run lands.
#include "form/frm_main.h"

namespace vexo {

void TfrmMain::btnStartClick() {}

} // namespace vexo
