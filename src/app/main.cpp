#include <QApplication>
#include <QIcon>
#include <QMessageBox>
#include <exception>

#include "app/main_window.h"
#include "frames/avi_file.h"
#include "platform/memory.h"
#include "settings/folders.h"

// The one AVI writer of the program: constructed before any window, destroyed after them.
static vexo::CAviFile gAviFile;

int main(int argc, char** argv) {
    vexo::platform::ReturnLargeBlocksWhenFreed();
    QApplication app(argc, argv);
    QApplication::setApplicationName("Vexograph");
    // The desktop entry and the icon an installed program brings along.
    QApplication::setDesktopFileName("vexograph");
    QApplication::setWindowIcon(QIcon::fromTheme("vexograph"));
    vexo::PrepareUserFolders();
    try {
        vexo::platform::MainThreadQueue queue;
        int result;
        {
            vexo::MainWindow window(gAviFile, queue);
            window.SetApplicationTitle("");
            window.Form().Guard([&] { window.Form().FormCreate(); });
            window.CreateAuxiliaryWindows();
            window.show();
            result = QApplication::exec();
        }
        queue.Shutdown();
        return result;
    } catch (const std::exception& e) {
        QString text = QString::fromStdString(e.what());
        if (!text.isEmpty() && text.back() > QChar('.'))
            text += '.';
        QMessageBox::critical(nullptr, "Vexograph", text);
        return 1;
    }
}
