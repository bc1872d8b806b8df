// Loading the main window's options from the settings file at start-up, and the handlers
// that store an option the moment the user changes it.
#pragma once

#include <functional>
#include <string>

#include "controls/main_controls.h"

namespace vexo {

// Steps 1 to 12 of the start-up load. The control change rule applies: every value that
// changes a control runs its handler (bound by the caller). installedGame, when given, is
// asked for a game directory where the settings file and the registry name none.
void LoadSettings(MainControls& c, const std::function<std::string()>& installedGame = {});

void cbWindowedClick(MainControls& c);
void cbRealtimeClick(MainControls& c);
void cbDraw2DClick(MainControls& c);
void cbDrawGunClick(MainControls& c);
void edAviFpsChange(MainControls& c);
void edFpsChange(MainControls& c);
void edTimeScaleChange(MainControls& c);
void cbConfigsChange(MainControls& c);

} // namespace vexo
