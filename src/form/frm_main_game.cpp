// Placeholder handlers until the game directory and list logic lands.
#include "form/frm_main.h"

namespace vexo {

void TfrmMain::edBasePathChange() {}
void TfrmMain::btnBasePathSetClick() {}
void TfrmMain::btnOutPathSetClick() {}
void TfrmMain::cbModsChange() {}
void TfrmMain::clbDemosClick() {}
void TfrmMain::edDemoNameMouseDown() {}
void TfrmMain::Button1Click() {}
void TfrmMain::btnRunModClick() {}
void TfrmMain::btnOpenModDirClick() {}
void TfrmMain::btnEditConfigClick() {}
void TfrmMain::btnOpenConfigDirClick() {}
void TfrmMain::btnOpenDemosDirClick() {}
void TfrmMain::imgAppBannerClick() {}
void TfrmMain::imgPpBannerClick() {}
void TfrmMain::Label11DblClick() {}

} // namespace vexo
