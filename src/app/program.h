// The program from the main window's creation to the end of its event loop.
#pragma once

namespace vexo {

class CAviFile;

// Creates the main window and its two small windows around the one AVI writer, shows the
// main window and runs the event loop until it closes (the QApplication exists already).
// An error that escapes this start-up or the event loop is shown in the generic error box,
// captioned with the application title, and ends the program: the result is then 1.
int RunProgram(CAviFile& writer);

} // namespace vexo
