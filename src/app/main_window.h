// The visible main window: the widgets of every control, bound to the main window's logic
// (TfrmMain), and the window-system services that logic asks for.
#pragma once

#include <QWidget>
#include <memory>
#include <string>

#include "controls/form_host.h"
#include "form/frm_main.h"

class QTimer;
class QLabel;

namespace vexo {

class TfrmAbout;
class TfrmHelp;

class MainWindow : public QWidget, public IFormHost {
public:
    MainWindow(CAviFile& writer, platform::MainThreadQueue& queue);
    ~MainWindow() override;

    TfrmMain& Form() { return *form_; }
    // Creates the two small windows (hidden); called after the main window exists.
    void CreateAuxiliaryWindows();
    TfrmAbout* About() const { return about_; }
    TfrmHelp* Help() const { return help_; }

    // IFormHost
    void ProcessMessages() override;
    int MessageBox(const std::string& text, const std::string& caption, unsigned flags) override;
    void SetApplicationTitle(const std::string& title) override;
    std::string ApplicationTitle() const override { return appTitle_; }
    void Sleep(int milliseconds) override;
    std::optional<std::string> OpenFileDialog(const OpenDialogOptions& options) override;
    std::optional<std::string> ChooseFolderDialog(const OpenDialogOptions& options) override;
    bool ShellExecute(const std::string& verb, const std::string& file, const std::string& params,
                      const std::string& directory, int showCommand) override;
    void ShowAboutModal() override;
    void ShowHelpModal() override;
    int CompressorChoose(media::COMPVARS& vars, media::OutputFormat& output, int& subFrames,
                         const std::string& title) override;
    void CloseMainWindow() override;

protected:
    void showEvent(QShowEvent* event) override;
    void closeEvent(QCloseEvent* event) override;
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    void BuildWidgets();
    void BindControls();
    // Runs a handler of the logic; errors end up in the generic error box.
    void Run(void (TfrmMain::*handler)());

    platform::MainThreadQueue& queue_;
    std::unique_ptr<TfrmMain> form_;
    std::string appTitle_;
    QTimer* timer_ = nullptr;
    TfrmAbout* about_ = nullptr;
    TfrmHelp* help_ = nullptr;
    QLabel* imgPpBanner_ = nullptr;
    QLabel* imgAppBanner_ = nullptr;
    QLabel* label11_ = nullptr;
    QObject* pressed_ = nullptr; // the banner the left button went down on
    QWidget* edDemoName_ = nullptr;
};

} // namespace vexo
