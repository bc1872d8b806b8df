// The real main window with its message boxes, shell calls and status texts recorded.
#pragma once

#include <functional>
#include <string>
#include <vector>

#include "app/main_window.h"
#include "support/fake_host.h"

namespace vexo::test {

// The real window, with message boxes and the shell recorded instead of shown.
class RecordingWindow : public MainWindow {
public:
    using MainWindow::MainWindow;
    int MessageBox(const std::string& text, const std::string& caption, unsigned flags) override {
        boxes.push_back({text, caption, flags});
        if (onBox)
            onBox(text);
        return (flags & 0x0F) == MB_YESNO ? reply : IDOK;
    }
    bool ShellExecute(const std::string& verb, const std::string& file, const std::string& params,
                      const std::string& directory, int show) override {
        shell.push_back({verb, file, params, directory, show});
        return true;
    }
    void ProcessMessages() override {
        MainWindow::ProcessMessages();
        const std::string status = Form().Controls.status.SimpleText();
        if (status != lastStatus) {
            statuses.push_back(status);
            lastStatus = status;
            if (onStatus)
                onStatus(status);
        }
    }
    std::vector<MessageBoxCall> boxes;
    std::vector<ShellCall> shell;
    int reply = IDNO; // the answer to a Yes/No question
    std::vector<std::string> statuses;
    std::string lastStatus;
    std::function<void(const std::string&)> onStatus;
    std::function<void(const std::string&)> onBox;
};

} // namespace vexo::test
