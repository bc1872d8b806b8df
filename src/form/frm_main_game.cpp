// The game directory, list, shortcut and link handlers of the main window.
#include "form/frm_main.h"
#include "game/discovery.h"
#include "game/lists.h"
#include "game/shortcuts.h"

namespace vexo {

void TfrmMain::edBasePathChange() {
    vexo::edBasePathChange(Controls);
}
void TfrmMain::btnBasePathSetClick() {
    vexo::btnBasePathSetClick(Controls, Host());
}
void TfrmMain::btnOutPathSetClick() {
    vexo::btnOutPathSetClick(Controls, Host());
}
void TfrmMain::cbModsChange() {
    vexo::cbModsChange(Controls);
}
void TfrmMain::clbDemosClick() {
    vexo::clbDemosClick(Controls);
}
void TfrmMain::edDemoNameMouseDown() {
    vexo::edDemoNameMouseDown(Controls);
}
void TfrmMain::Button1Click() {
    vexo::Button1Click(Controls, Host());
}
void TfrmMain::btnRunModClick() {
    vexo::btnRunModClick(Controls, Host());
}
void TfrmMain::btnOpenModDirClick() {
    vexo::btnOpenModDirClick(Controls, Host());
}
void TfrmMain::btnEditConfigClick() {
    vexo::btnEditConfigClick(Controls, Host());
}
void TfrmMain::btnOpenConfigDirClick() {
    vexo::btnOpenConfigDirClick(Controls, Host());
}
void TfrmMain::btnOpenDemosDirClick() {
    vexo::btnOpenDemosDirClick(Controls, Host());
}
void TfrmMain::imgAppBannerClick() {
    vexo::imgAppBannerClick(Host());
}
void TfrmMain::imgPpBannerClick() {
    vexo::imgPpBannerClick(Controls, Host());
}
void TfrmMain::Label11DblClick() {
    vexo::Label11DblClick(Host());
}

} // namespace vexo
