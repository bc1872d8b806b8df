#include "app/program.h"

#include <QApplication>
#include <QMessageBox>
#include <exception>
#include <memory>

#include "app/main_window.h"

namespace vexo {

int RunProgram(CAviFile& writer) {
    platform::MainThreadQueue queue;
    std::unique_ptr<MainWindow> window;
    int result = 1;
    try {
        window = std::make_unique<MainWindow>(writer, queue);
        window->SetApplicationTitle("");
        window->Form().Guard([&] { window->Form().FormCreate(); });
        window->CreateAuxiliaryWindows();
        window->show();
        result = QApplication::exec();
    } catch (const std::exception& e) {
        // The generic error box, as every handler's error gets it. Before the main window
        // has set a title, the task bar shows the main window's caption: so does the box.
        std::string title = window ? window->ApplicationTitle() : std::string();
        if (title.empty())
            title = kMainCaption;
        QString text = QString::fromStdString(e.what());
        if (!text.isEmpty() && text.back() > QChar('.'))
            text += '.';
        QMessageBox::critical(nullptr, QString::fromStdString(title), text);
        result = 1;
    }
    window.reset();
    queue.Shutdown();
    return result;
}

} // namespace vexo
