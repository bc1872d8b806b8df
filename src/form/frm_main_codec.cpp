// Placeholder until the codec choice lands.
#include "form/frm_main.h"

namespace vexo {

void TfrmMain::btnCodecClick() {}

} // namespace vexo
