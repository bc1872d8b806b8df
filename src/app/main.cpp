#include <QApplication>

#include "app/program.h"
#include "frames/avi_file.h"
#include "platform/memory.h"

// The one AVI writer of the program: constructed before any window, destroyed after them.
static vexo::CAviFile gAviFile;

int main(int argc, char** argv) {
    vexo::platform::ReturnLargeBlocksWhenFreed();
    QApplication app(argc, argv);
    QApplication::setApplicationName("Vexograph");
    return vexo::RunProgram(gAviFile);
}
