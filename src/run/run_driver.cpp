#include "run/run_driver.h"

#include <atomic>
#include <cctype>
#include <cerrno>
#include <charconv>
#include <chrono>
#include <exception>
#include <memory>
#include <optional>
#include <thread>
#include <vector>

#include "controls/main_controls.h"
#include "frames/avi_file.h"
#include "frames/dir_thread.h"
#include "game/engine.h"
#include "game/engine_console.h"
#include "game/game_script.h"
#include "platform/fs.h"
#include "platform/log.h"
#include "platform/process.h"
#include "run/recording_guard.h"
#include "settings/codec_settings.h"
#include "settings/ini.h"

namespace vexo {

namespace {

constexpr char kSep = platform::kPathSep;

// How long a game may record nothing at all before it is taken for one that will never
// play its demo. Loading a large map on a slow machine takes well under a minute.
constexpr int kStallSeconds = 120;
int g_stallSeconds = kStallSeconds;

void ErrorBox(IFormHost& host, const std::string& text) {
    host.MessageBox(text, "Error", MB_OK | MB_ICONERROR);
}

// Handles the window's pending messages until done() holds. The short sleep keeps the
// main thread from taking a whole core away from the collector while it waits.
// Once done() holds, the worker's last texts are already queued: one more pass shows them
// before the caller's next status text.
template <typename Done> void WaitPumping(IFormHost& host, Done done) {
    while (!done()) {
        host.ProcessMessages();
        if (!done())
            std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
    host.ProcessMessages();
}

// A native engine's recording of one demo: a file of a fixed name in the modification's
// "videos" folder. One left from before is removed before the game starts; the file, and the
// folder when the engine made it, go again once the demo is done, however it ended.
class EngineCapture {
public:
    explicit EngineCapture(const RunPaths& paths)
        : file_(paths.CaptureFile), folder_(paths.CaptureDir),
          folderExisted_(platform::DirectoryExists(folder_)) {
        DeleteFiles();
    }
    ~EngineCapture() {
        DeleteFiles();
        if (!folderExisted_)
            platform::RemoveEmptyDirectory(folder_);
    }
    EngineCapture(const EngineCapture&) = delete;
    EngineCapture& operator=(const EngineCapture&) = delete;

private:
    // The recording, the files it goes on in past 2 GB (its name with "_" appended) and the
    // index the engine keeps beside each while it writes (".index.dat" appended).
    void DeleteFiles() const {
        const std::string name = file_.substr(file_.find_last_of(kSep) + 1);
        for (const std::string& found : platform::FindMatches(folder_ + kSep + name + "*", false))
            platform::DeleteFileAt(folder_ + kSep + found);
    }

    std::string file_;
    std::string folder_;
    bool folderExisted_;
};

// What a run has under way, put right when an exception leaves the run (a worker thread
// that cannot start, say): the worker is stopped before the writer closes, the game is ended
// and its temporary config removed, and the window is given back, so that the error box
// that follows shows over a window that works.
class RunCleanup {
public:
    RunCleanup(MainControls& c, IFormHost& host, CAviFile& writer, const RunPaths& paths)
        : c_(c), host_(host), writer_(writer), paths_(paths),
          exceptions_(std::uncaught_exceptions()) {}
    ~RunCleanup() {
        if (std::uncaught_exceptions() <= exceptions_)
            return; // the run ended by itself and has put everything right
        try {
            Abandon();
        } catch (...) {
            // Nothing more can be done; the error on its way is the one to show.
        }
    }
    RunCleanup(const RunCleanup&) = delete;
    RunCleanup& operator=(const RunCleanup&) = delete;

    std::optional<platform::Process> game;
    std::shared_ptr<TDirThread> worker;

private:
    void Abandon() {
        if (worker) {
            worker->Terminate();
            WaitPumping(host_, [&] { return !worker->Started() || !worker->Active(); });
        }
        writer_.Close(0);
        if (game) {
            game->Terminate();
            while (!game->Wait(80))
                host_.ProcessMessages();
            game->Close();
        }
        platform::DeleteFileAt(paths_.TempConfig);
        ShowStatus(c_, host_, "Failed.");
        EnableAfterRun(c_, host_);
        if (worker)
            WaitPumping(host_, [&] { return worker->CleanupDone(); });
    }

    MainControls& c_;
    IFormHost& host_;
    CAviFile& writer_;
    const RunPaths& paths_;
    const int exceptions_;
};

} // namespace

std::string RecordingFileName(const std::string& aviFileName) {
    return aviFileName.substr(0, aviFileName.size() - 4) + " (recording).avi";
}

std::string FailedFileName(const std::string& aviFileName) {
    return aviFileName.substr(0, aviFileName.size() - 4) + " (failed).avi";
}

std::string DemoGoneText(const std::string& demoItem) {
    return "The demo \"" + demoItem +
           "\" is no longer in the modification's demos folder. Refresh the demo list and "
           "try again.";
}

std::string NotSavedText(const std::string& aviFileName, const std::string& recording) {
    return "The video could not be saved as \"" + aviFileName + "\". It was kept as \"" +
           recording + "\".";
}

std::string NoFramesText(const std::string& demoItem) {
    return "The game wrote no frames for the demo \"" + demoItem +
           "\".\n\n"
           "Check that the game can record: the original Quake III Arena writes screenshots "
           "(cl_avidemo), ioquake3 and OpenArena write a video (the video command). Check "
           "also that the demo plays in the game and that the config does not quit it "
           "first.";
}

std::string EngineErrorText(const std::string& demoItem, const std::string& engineError) {
    return "The game could not play the demo \"" + demoItem + "\": \"" + engineError + "\".";
}

std::string LeftEarlyText(const std::string& demoItem, const std::string& keptAs) {
    return "The demo \"" + demoItem + "\" was stopped in the game before its end. " +
           (keptAs.empty() ? std::string("Nothing was recorded.")
                           : "What was recorded is kept as \"" + keptAs + "\".");
}

std::string StalledText(const std::string& demoItem, int seconds) {
    return "The game recorded nothing of the demo \"" + demoItem + "\" for " +
           std::to_string(seconds) + " seconds and was ended.";
}

std::string FailedDemosText(const std::vector<std::string>& reasons) {
    std::string text =
        reasons.size() == 1
            ? std::string("One demo could not be recorded; it stays checked.")
            : std::to_string(reasons.size()) + " demos could not be recorded; they stay checked.";
    for (const std::string& reason : reasons)
        text += "\n\n" + reason;
    return text;
}

void MakePath(const std::string& path) {
    size_t first = path.find_first_of("\\/");
    if (first == std::string::npos) {
        platform::CreateDirectoryAt(path);
        return;
    }
    for (size_t pos = path.find_first_of("\\/", first + 1); pos != std::string::npos;
         pos = path.find_first_of("\\/", pos + 1))
        platform::CreateDirectoryAt(path.substr(0, pos));
    if (path.back() != '\\' && path.back() != '/')
        platform::CreateDirectoryAt(path);
}

int32_t AviRateFromText(const std::string& text) {
    const int32_t rate = ParseLeadingInteger(text);
    return rate < 1 || rate > 100 ? 25 : rate;
}

float GammaFromItem(const std::string& item) {
    size_t end = 0;
    while (end < item.size() &&
           (std::isdigit(static_cast<unsigned char>(item[end])) || item[end] == '.'))
        ++end;
    // Read with a decimal point whatever the user's locale (strtod would expect a comma
    // under a German desktop), as a double narrowed to float.
    double value = 0.0;
    std::from_chars(item.data(), item.data() + end, value);
    return static_cast<float>(value);
}

std::string AviFileName(const std::string& outDir, const std::string& modName,
                        const std::string& demoBaseName, char sep) {
    return outDir + sep + modName + "_" + demoBaseName + ".avi";
}

std::string ScreenshotWarningText(int count, const std::string& modName) {
    std::string lower = modName;
    for (char& ch : lower)
        ch = static_cast<char>(std::tolower(static_cast<unsigned char>(ch)));
    return "Found " + std::to_string(count) + " screenshot(s) in \"" + lower +
           "/screenshots\".\n\n" +
           "You have to make sure this screenshots folder is absolutely\n"
           "empty before you launch your demos. Please wipe it and try\n"
           "again. Would you like to open the folder now?";
}

namespace {

// One click on Start: the checks, then every checked demo recorded in turn. Each step of
// the run is a method of its own; the order of every text and call is the run's.
class RecordingRun {
public:
    RecordingRun(MainControls& c, IFormHost& host, CAviFile& writer,
                 platform::MainThreadQueue& queue, const std::atomic<bool>* stop)
        : c_(c), host_(host), writer_(writer), queue_(queue), stop_(stop) {
        ui_.Status = [&c](const std::string& text) { c.status.SetSimpleText(text); };
        ui_.Title = [&host](const std::string& text) { host.SetApplicationTitle(text); };
        ui_.ErrorBox = [&host](const std::string& text) { ErrorBox(host, text); };
    }

    void Run() {
        if (c_.cbMods.ItemIndex() < 0)
            return;
        ReadInputs();
        ShowStatus("");
        if (!PassesChecks())
            return;
        if (!LoadCodec()) {
            writer_.Close(0);
            ShowStatus("Failed.");
            return ErrorBox(host_, "You didn't select an AVI codec yet.");
        }
        DisableForRun(c_);
        // Whatever leaves the run from here by an exception ends the game and the worker,
        // closes the writer and gives the window back.
        RunCleanup cleanup(c_, host_, writer_, paths_);
        cleanup_ = &cleanup;
        bool recorded = false;
        for (int j = 0; j < c_.clbDemos.Count(); ++j) {
            if (!c_.clbDemos.Checked(j))
                continue;
            if (recorded && !LoadCodec()) {
                writer_.Close(0);
                ShowStatus("Failed.");
                EnableAfterRun(c_, host_);
                return ErrorBox(host_, "You didn't select an AVI codec yet.");
            }
            if (!RecordDemo(j)) {
                // A failure that ends the whole run; demos that failed before it are listed.
                if (!failures_.empty() || (stop_ && *stop_))
                    EndWithFailures();
                return;
            }
            recorded = true;
        }
        if (!failures_.empty())
            return EndWithFailures();
        EnableAfterRun(c_, host_);
        ShowStatus("Completed.");
    }

    // The run ended with demos that could not be recorded: one message lists them all.
    void EndWithFailures() {
        if (c_.frmMain.Enabled() == false) {
            ShowStatus("Failed.");
            EnableAfterRun(c_, host_);
        }
        if (!failures_.empty())
            ErrorBox(host_, FailedDemosText(failures_));
        failures_.clear();
    }

private:
    void ShowStatus(const std::string& text) { vexo::ShowStatus(c_, host_, text); }
    bool LoadCodec() { return LoadCodecSettings(ini_, &writer_.CodecVars); }

    void ReadInputs() {
        paths_ = BuildRunPaths(c_.edBasePath.Text(), c_.cbMods.Text(), c_.cbConfigs.Text(),
                               platform::ProgramDirectory(), c_.edOutPath.Text(), kSep,
                               FindGameEngine(c_.edBasePath.Text()));
        options_.Draw2D = c_.cbDraw2D.Checked();
        options_.DrawGun = c_.cbDrawGun.Checked();
        options_.ModeIndex = c_.cbModes.ItemIndex();
        options_.Windowed = c_.cbWindowed.Checked();
        options_.CaptureRate = c_.edFps.Text();
        options_.TimeScale = TimeScaleForScript(c_.edTimeScale.Text());
        ini_ = SettingsFilePath();
    }

    // The checks, in order; the first that fails ends the click with its message.
    bool PassesChecks() {
        auto fail = [this](const std::string& text) {
            ErrorBox(host_, text);
            return false;
        };
        if (c_.cbConfigs.ItemIndex() < 0)
            return fail("You didn't select a config to use.");
        if (!platform::DirectoryExists(paths_.BaseDir))
            return fail("Quake III directory does not exist.");
        if (!platform::FileExists(paths_.GameExe) || FindBaseGame(paths_.BaseDir).empty())
            return fail("Quake III not found in selected directory.");
        if (!platform::DirectoryExists(paths_.OutDir))
            return fail("Output directory does not exist.");
        if (!ModDirectoryExists(paths_))
            return fail("Selected MOD directory does not exist.");
        const int leftovers =
            platform::CountMatchingFiles(paths_.ScreenshotDir + kSep + paths_.ScreenshotMask);
        if (leftovers > 0) {
            if (host_.MessageBox(ScreenshotWarningText(leftovers, paths_.ModName), "Problem",
                                 MB_YESNO | MB_ICONWARNING) == IDYES)
                // The folder as it is on disk: the count above found it in any letter case.
                host_.ShellExecute("open", "", "", platform::ResolvePathCase(paths_.ScreenshotDir),
                                   SW_SHOW);
            return false;
        }
        if (c_.clbDemos.CheckedCount() == 0)
            return fail("You didn't select any demos in demo list.");
        // A game at timescale 0 never ends its demo, and its recording fills the disk.
        if (!IsPositiveTimeScale(c_.edTimeScale.Text()))
            return fail(kTimeScaleText);
        return true;
    }

    // Records item j into its AVI file. False when a failure ended the run.
    bool RecordDemo(int j) {
        const std::string item = c_.clbDemos.ItemText(j);
        const std::string demo = DemoBaseName(item);
        auto status = [this](const std::string& text) { ShowStatus(text); };
        // The player's configs come back as they are now once the game has ended, however
        // the demo ends; a journal names them until then.
        RecordingGuard guard(paths_);
        switch (PrepareGameScript(paths_, options_, demo, status, &markerAsked_)) {
        case ScriptCopyFailed:
            return FailBeforeGame("Error copying config file.");
        case ScriptUpdateFailed:
            return FailBeforeGame("Error updating config.");
        case ScriptOk:
            break;
        }
        // A game asked for a demo that is not there waits in its menu for a user.
        if (!DemoFileExists(paths_, item, kSep))
            return FailBeforeGame(DemoGoneText(item));
        // Screenshots still in the folder now were left by an earlier demo of this run
        // whose collector failed: they are not this demo's frames.
        std::vector<std::string> leftovers;
        for (const std::string& name :
             platform::FindMatches(paths_.ScreenshotDir + kSep + paths_.ScreenshotMask, false))
            leftovers.push_back(paths_.ScreenshotDir + kSep + name);
        // A native engine records into a file of a fixed name: one left by an interrupted
        // run is not this demo's.
        const EngineCapture capture(paths_);
        cleanup_->game = LaunchGame(BuildGameCommandLine(paths_), paths_, status);
        auto& game = cleanup_->game;
        if (!game)
            return FailBeforeGame("Error launching Quake III Arena.");
        guard.GameStarted(game->Id());

        // The demo is recorded beside its video under a name of its own: an earlier video
        // of the demo is replaced only once the new one is complete.
        const std::string target = AviFileName(paths_.OutDir, paths_.ModName, demo, kSep);
        const std::string recording = RecordingFileName(target);
        guard.RecordingStarted(recording);
        MakePath(paths_.OutDir);
        writer_.Open(recording, 640, 480, AviRateFromText(c_.edAviFps.Text()), 1);
        if (c_.cbGammas.ItemIndex() >= 0)
            writer_.SetGamma(GammaFromItem(c_.cbGammas.Text()));

        std::shared_ptr<TDirThread> worker = TDirThread::Create(queue_, ui_);
        cleanup_->worker = worker;
        worker->SetDirectory(paths_.ScreenshotDir);
        worker->SetMask(paths_.ScreenshotMask);
        worker->Interval = 1000;
        worker->Writer = &writer_;
        worker->SetPassOver(leftovers);
        worker->SetCaptureFile(paths_.CaptureFile);
        worker->SetEngineFrameRate(EngineFrameRateValue(options_.CaptureRate, options_.TimeScale));
        if (c_.cbRealtime.Checked())
            worker->Resume();

        host_.SetApplicationTitle("VEXO [ waiting... ]");
        ShowStatus("Waiting for Quake III to finish...");
        EngineConsole console;
        const GameEnd end = WaitForGame(*game, *worker, console);

        ShowStatus("Cleaning up...");
        int exitCode = 1;
        if (!game->ExitCode(exitCode))
            exitCode = 1;
        game->Close();
        guard.RestoreConfigs();
        worker->GameEnded();
        platform::DeleteFileAt(paths_.TempConfig);
        if (end != GameEnd::Ended || !console.Error().empty()) {
            host_.SetApplicationTitle(kMainCaption);
            return FailDemo(item, end, console, *worker, recording, target);
        }
        if (exitCode != 0) {
            platform::LogFailure("run", item + ": the game ended with exit code " +
                                            std::to_string(exitCode) +
                                            "; its last words: " + console.LastLines());
            return FailAfterGame(*worker, recording, target);
        }
        // The engine closed its recording, but never said that the demo was played to its
        // end: the player left the demo in the game (and then the game itself).
        if (RecordingEnded(console) && !console.DemoCompleted() && markerAsked_) {
            host_.SetApplicationTitle(kMainCaption);
            return FailDemo(item, GameEnd::LeftEarly, console, *worker, recording, target);
        }

        host_.SetApplicationTitle(kMainCaption);
        if (!c_.cbRealtime.Checked())
            worker->Resume();
        WaitPumping(host_, [&] {
            // A stop asked for while the frames are still being collected ends the collector.
            if (stop_ && *stop_ && !worker->Terminated())
                worker->Terminate();
            return !worker->Active();
        });
        if (worker->Terminated() && stop_ && *stop_)
            return FailDemo(item, GameEnd::Stopped, console, *worker, recording, target);
        if (!worker->Failed() && worker->FramesWritten() == 0)
            return FailWithoutFrames(*worker, recording, item);
        FinishDemo(j, *worker, recording, target);
        return true;
    }

    enum class GameEnd {
        Ended,     // the game ended by itself
        Error,     // the engine reported an error that ended the demo; the game was ended
        LeftEarly, // the demo was left before its end; the game was ended
        Stalled,   // nothing was recorded for a long time; the game was ended
        Stopped,   // the user stopped the run; the game was ended
    };

    // Waits for the game to end, reading its console as it goes. A game that reports an
    // error, leaves its demo early or records nothing for a long time waits in its menu for a
    // player who may not be there: it is ended, as it is when the user stops the run.
    GameEnd WaitForGame(platform::Process& game, TDirThread& worker, EngineConsole& console) {
        using Clock = std::chrono::steady_clock;
        auto lastProgress = Clock::now();
        auto nextLook = lastProgress;
        Clock::time_point closedAt{};
        bool closing = false;   // a file of the recording was closed at closedAt
        std::string closedFile; // the last file closed that the recording went on after
        int64_t progress = -1;
        GameEnd end = GameEnd::Ended;
        while (!game.Wait(80)) {
            host_.ProcessMessages();
            for (const std::string& line : game.TakeOutputLines())
                console.Feed(line);
            const auto now = Clock::now();
            if (stop_ && *stop_)
                end = GameEnd::Stopped;
            else if (!console.Error().empty())
                end = GameEnd::Error;
            else if (!console.ClosedRecording().empty() && !console.DemoCompleted() &&
                     markerAsked_ && closedFile != console.ClosedRecording()) {
                // The end of a demo closes the recording too, and the marker follows at once;
                // a file closed because it grew too large is followed by the next file at once.
                if (!closing) {
                    closing = true;
                    closedAt = now;
                } else if (now - closedAt > std::chrono::seconds(3)) {
                    if (RecordingEnded(console))
                        end = GameEnd::LeftEarly;
                    closedFile = console.ClosedRecording(); // went on in the next file
                    closing = false;
                }
            } else if (now >= nextLook) {
                nextLook = now + std::chrono::seconds(1);
                const int64_t seen = RecordingProgress(worker);
                if (seen != progress) {
                    progress = seen;
                    lastProgress = now;
                } else if (now - lastProgress > std::chrono::seconds(g_stallSeconds)) {
                    end = GameEnd::Stalled;
                }
            }
            if (end != GameEnd::Ended) {
                game.Terminate();
                game.Wait(-1);
                break;
            }
        }
        // What the game wrote last, its error among it, may still be on its way.
        const auto until = Clock::now() + std::chrono::seconds(1);
        while (!game.OutputClosed() && Clock::now() < until)
            std::this_thread::sleep_for(std::chrono::milliseconds(10));
        for (const std::string& line : game.TakeOutputLines())
            console.Feed(line);
        return end;
    }

    // Whether the engine has closed its recording for good: the last file it closed is not
    // followed by a next one.
    bool RecordingEnded(const EngineConsole& console) const {
        const std::string& closed = console.ClosedRecording();
        return !closed.empty() && !platform::FileExists(paths_.CaptureDir + kSep + closed + "_");
    }

    // A number that grows while the game records: the frames the collector took, the size
    // of the engine's recording (with the files it goes on in past 2 GB) and the
    // screenshots waiting in the folder.
    int64_t RecordingProgress(const TDirThread& worker) const {
        int64_t progress = worker.FrameCounter();
        for (std::string file = paths_.CaptureFile;; file += '_') {
            const platform::FileStamp capture = platform::StampOf(file);
            if (!capture.valid)
                break;
            progress += capture.size;
        }
        return progress +
               platform::CountMatchingFiles(paths_.ScreenshotDir + kSep + paths_.ScreenshotMask);
    }

    // A demo the game could not record to its end: what the game wrote is taken into the
    // recording and kept as a failed one, the demo stays checked, and the run goes on with
    // the next demo (unless the user stopped it). The reason is listed when the run ends.
    bool FailDemo(const std::string& item, GameEnd end, const EngineConsole& console,
                  TDirThread& worker, const std::string& recording, const std::string& target) {
        worker.TakeWhatIsLeft();
        WaitPumping(host_, [&] { return !worker.Active(); });
        writer_.Close(0);
        KeepFailedRecording(worker, recording, target);
        const bool kept = worker.FramesWritten() > 0;
        const std::string failed = FailedFileName(target);
        std::string text;
        std::string log;
        switch (end) {
        case GameEnd::Error:
        case GameEnd::Ended:
            text = EngineErrorText(item, console.Error());
            log = "the game reported an error: " + console.Error();
            break;
        case GameEnd::LeftEarly:
            text = LeftEarlyText(item, kept ? failed : "");
            log = "the demo was stopped in the game before its end, after frame " +
                  std::to_string(console.FramesRecorded());
            break;
        case GameEnd::Stalled:
            text = StalledText(item, g_stallSeconds);
            log = "the game recorded nothing for " + std::to_string(g_stallSeconds) +
                  " seconds and was ended";
            break;
        case GameEnd::Stopped:
            log = "the user stopped the recording";
            break;
        }
        const std::string last = console.LastLines();
        platform::LogFailure("run", item + ": " + log +
                                        (kept ? "; kept as " + failed : "; nothing recorded") +
                                        (last.empty() ? "" : "; the game's last words: " + last));
        if (!text.empty())
            failures_.push_back(text);
        WaitPumping(host_, [&] { return worker.CleanupDone(); });
        return end != GameEnd::Stopped;
    }

    // Failure course A: the game was not started; nothing was recorded.
    bool FailBeforeGame(const std::string& text) {
        platform::LogFailure("run", "the game was not started: " + text);
        ShowStatus("Failed.");
        EnableAfterRun(c_, host_);
        platform::DeleteFileAt(paths_.TempConfig);
        ErrorBox(host_, text);
        return false;
    }

    // Failure course B: the game ended badly. What it wrote before is taken into the
    // recording as a finishing scan would take it, so that the screenshot folder is left
    // empty; the recording is kept as a failed one, an earlier video stays as it was.
    bool FailAfterGame(TDirThread& worker, const std::string& recording,
                       const std::string& target) {
        worker.TakeWhatIsLeft();
        WaitPumping(host_, [&] { return !worker.Active(); });
        ShowStatus("Failed.");
        EnableAfterRun(c_, host_);
        writer_.Close(0);
        KeepFailedRecording(worker, recording, target);
        ErrorBox(host_, "Quake III didn't shut down properly.");
        WaitPumping(host_, [&] { return worker.CleanupDone(); });
        return false;
    }

    // The game ended well but recorded nothing: waiting longer would not help.
    bool FailWithoutFrames(TDirThread& worker, const std::string& recording,
                           const std::string& item) {
        platform::LogFailure("run", item + ": the game wrote no screenshots into " +
                                        paths_.ScreenshotDir + " and no recording " +
                                        paths_.CaptureFile);
        ShowStatus("Failed.");
        EnableAfterRun(c_, host_);
        writer_.Close(0);
        platform::DeleteFileAt(recording);
        ErrorBox(host_, NoFramesText(item));
        WaitPumping(host_, [&] { return worker.CleanupDone(); });
        return false;
    }

    // The collector has stopped: the file is completed and takes the video's name (a
    // recording the collector could not finish is kept as a failed one), and the demo is
    // done.
    void FinishDemo(int j, TDirThread& worker, const std::string& recording,
                    const std::string& target) {
        ShowStatus("Finalizing...");
        writer_.Close(0);
        worker.Terminate();
        if (worker.Failed())
            KeepFailedRecording(worker, recording, target);
        else if (!platform::MoveFileReplacing(recording, target)) {
            platform::LogFailure("run", "cannot rename " + recording + " to " + target + ": " +
                                            platform::SystemErrorText(errno));
            ErrorBox(host_, NotSavedText(target, recording));
        }
        c_.clbDemos.SetChecked(j, false);
        // The worker's clean-up deletes the screenshots it took; it must be over before the
        // next game writes screenshots of the same names.
        WaitPumping(host_, [&] { return worker.CleanupDone(); });
    }

    static void KeepFailedRecording(const TDirThread& worker, const std::string& recording,
                                    const std::string& target) {
        if (worker.FramesWritten() > 0)
            platform::MoveFileReplacing(recording, FailedFileName(target));
        else
            platform::DeleteFileAt(recording);
    }

    MainControls& c_;
    IFormHost& host_;
    CAviFile& writer_;
    platform::MainThreadQueue& queue_;
    CollectorUi ui_;
    RunCleanup* cleanup_ = nullptr; // while the window is disabled for the run
    const std::atomic<bool>* stop_ = nullptr;
    bool markerAsked_ = false;          // the game says when the demo was played to its end
    std::vector<std::string> failures_; // the demos that failed while the run went on
    RunPaths paths_;
    CaptureOptions options_;
    std::string ini_;
};

} // namespace

void RunRecording(MainControls& c, IFormHost& host, CAviFile& writer,
                  platform::MainThreadQueue& queue, const std::atomic<bool>* stop) {
    RecordingRun(c, host, writer, queue, stop).Run();
}

void SetStallSecondsForTesting(int seconds) {
    g_stallSeconds = seconds > 0 ? seconds : kStallSeconds;
}

} // namespace vexo
