// The main window's logic: its controls and every event handler, without the pixels.
// The visible window (app/) binds its widgets to Controls and calls the handlers through
// Guard, so that an error leaving a handler reaches the user in the generic error box.
#pragma once

#include <atomic>
#include <exception>
#include <functional>
#include <string>

#include "controls/form_host.h"
#include "controls/main_controls.h"
#include "platform/main_queue.h"

namespace vexo {

class CAviFile;
struct RunRequest;

// The recording run the window's controls ask for when Start is pressed: the checked demos
// in list order, every other value as the controls hold it.
RunRequest RunRequestFrom(const MainControls& c);

class TfrmMain {
public:
    // Binds the change handlers; FormCreate is called separately by whoever creates it.
    TfrmMain(IFormHost& host, CAviFile& writer, platform::MainThreadQueue& queue);
    TfrmMain(const TfrmMain&) = delete;
    TfrmMain& operator=(const TfrmMain&) = delete;

    MainControls Controls;

    IFormHost& Host() { return host_; }
    CAviFile& Writer() { return writer_; }
    platform::MainThreadQueue& Queue() { return queue_; }

    // Runs fn; an error leaving it is shown in the generic error box and the program goes on.
    void Guard(const std::function<void()>& fn);
    // The generic error box: caption = application title, error icon, the message with a
    // period appended when its last character sorts after ".".
    void ShowErrorBox(const std::string& message);

    void ShowStatus(const std::string& text) { vexo::ShowStatus(Controls, host_, text); }

    // Start-up and the window's own events.
    void FormCreate();
    void FormShow();
    void timerTimer();
    void btnQuitClick();

    // Option changes stored in the settings file.
    void cbWindowedClick();
    void cbRealtimeClick();
    void cbDraw2DClick();
    void cbDrawGunClick();
    void edAviFpsChange();
    void edFpsChange();
    void edTimeScaleChange();
    void cbConfigsChange();

    // Game directory, lists and shortcuts.
    void edBasePathChange();
    void btnBasePathSetClick();
    void btnOutPathSetClick();
    void cbModsChange();
    void clbDemosClick();
    void edDemoNameMouseDown();
    void Button1Click();
    void btnRunModClick();
    void btnOpenModDirClick();
    void btnEditConfigClick();
    void btnOpenConfigDirClick();
    void btnOpenDemosDirClick();

    // Small windows and links.
    void btnAboutClick();
    void btnHelpClick();
    void imgAppBannerClick();
    void imgPpBannerClick();
    void Label11DblClick();

    // Codec choice and recording.
    void btnCodecClick();
    void btnStartClick();

    // Recording run window operations.
    void DisableForRun();
    void EnableAfterRun();

    // A request to close the window. During a recording the user is asked whether to stop
    // it; the window itself stays open (the run gives it back once the game has ended). True
    // when the window may close.
    bool FormCloseQuery();

private:
    // The start-up load of every option from the settings file. The control change rule
    // applies: every value that changes a control runs its handler. installedGame, when
    // given, is asked for a game directory where the settings file and the registry name none.
    void LoadSettings(const std::function<std::string()>& installedGame);

    IFormHost& host_;
    CAviFile& writer_;
    platform::MainThreadQueue& queue_;
    bool firstShown_ = false;
    std::atomic<bool> stopRun_{false};
};

} // namespace vexo
