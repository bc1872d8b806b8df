// A window system for headless tests: records what the logic asks of it and answers
// dialogs and message boxes from scripted replies.
#pragma once

#include <deque>
#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "controls/form_host.h"
#include "platform/main_queue.h"

namespace vexo::test {

struct MessageBoxCall {
    std::string text;
    std::string caption;
    unsigned flags;
};

struct ShellCall {
    std::string verb, file, params, directory;
    int show;
};

class FakeHost : public IFormHost {
public:
    explicit FakeHost(platform::MainThreadQueue* queue = nullptr) : queue_(queue) {}

    void ProcessMessages() override {
        ++processed;
        if (queue_)
            queue_->Drain();
        if (onProcessMessages)
            onProcessMessages();
    }
    int MessageBox(const std::string& text, const std::string& caption, unsigned flags) override {
        boxes.push_back({text, caption, flags});
        if (!boxReplies.empty()) {
            int reply = boxReplies.front();
            boxReplies.pop_front();
            return reply;
        }
        return (flags & 0x0F) == MB_YESNO ? IDNO : IDOK;
    }
    void SetApplicationTitle(const std::string& t) override {
        title = t;
        titles.push_back(t);
    }
    std::string ApplicationTitle() const override { return title; }
    void Sleep(int milliseconds) override { sleeps.push_back(milliseconds); }
    std::optional<std::string> OpenFileDialog(const OpenDialogOptions& options) override {
        dialogs.push_back(options);
        return NextDialogReply();
    }
    std::optional<std::string> ChooseFolderDialog(const OpenDialogOptions& options) override {
        dialogs.push_back(options);
        return NextDialogReply();
    }
    bool ShellExecute(const std::string& verb, const std::string& file, const std::string& params,
                      const std::string& directory, int show) override {
        shell.push_back({verb, file, params, directory, show});
        return shellWorks;
    }
    void ShowAboutModal() override { ++aboutShown; }
    void ShowHelpModal() override { ++helpShown; }
    int CompressorChoose(media::COMPVARS& vars, media::OutputFormat& output, int& subFrames,
                         const std::string& t) override {
        chooserTitles.push_back(t);
        shownOutputs.push_back(output);
        const int confirmed = chooser ? chooser(vars) : 0;
        if (confirmed && chosenOutput)
            output = *chosenOutput;
        shownSubFrames.push_back(subFrames);
        if (confirmed && chosenSubFrames)
            subFrames = chosenSubFrames;
        return confirmed;
    }
    void CloseMainWindow() override { ++closed; }

    std::vector<MessageBoxCall> boxes;
    std::deque<int> boxReplies;
    std::string title;
    std::vector<std::string> titles;
    std::vector<int> sleeps;
    std::vector<OpenDialogOptions> dialogs;
    std::deque<std::optional<std::string>> dialogReplies;
    std::vector<ShellCall> shell;
    bool shellWorks = true; // what ShellExecute answers
    std::vector<std::string> chooserTitles;
    std::function<int(media::COMPVARS&)> chooser;
    std::vector<media::OutputFormat> shownOutputs;   // what the dialog opened with
    std::optional<media::OutputFormat> chosenOutput; // what a confirmed dialog chooses
    std::vector<int> shownSubFrames;                 // motion blur the dialog opened with
    int chosenSubFrames = 0;                         // and a confirmed one chooses (0: kept)
    std::function<void()> onProcessMessages;
    int aboutShown = 0, helpShown = 0, closed = 0, processed = 0;

private:
    std::optional<std::string> NextDialogReply() {
        if (dialogReplies.empty())
            return std::nullopt;
        auto reply = dialogReplies.front();
        dialogReplies.pop_front();
        return reply;
    }
    platform::MainThreadQueue* queue_;
};

} // namespace vexo::test
