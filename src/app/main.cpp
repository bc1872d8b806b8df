#include <QApplication>
#include <QIcon>

#include "app/program.h"
#include "frames/avi_file.h"
#include "media/ffmpeg_log.h"
#include "platform/log.h"
#include "platform/memory.h"
#include "settings/folders.h"

// The one AVI writer of the program: constructed before any window, destroyed after them.
static vexo::CAviFile gAviFile;

int main(int argc, char** argv) {
    vexo::platform::ReturnLargeBlocksWhenFreed();
    vexo::media::LogFfmpegErrors();
    QApplication app(argc, argv);
    QApplication::setApplicationName("Vexograph");
    // The desktop entry and the icon an installed program brings along.
    QApplication::setDesktopFileName("vexograph");
    QApplication::setWindowIcon(QIcon::fromTheme("vexograph"));
    vexo::PrepareUserFolders();
    return vexo::RunProgram(gAviFile);
}
