#include "run/run_driver.h"

#include <atomic>
#include <cerrno>
#include <chrono>
#include <exception>
#include <memory>
#include <optional>
#include <thread>
#include <vector>

#include "frames/avi_file.h"
#include "frames/blend_stage.h"
#include "frames/dir_thread.h"
#include "game/engine.h"
#include "game/engine_console.h"
#include "game/game_script.h"
#include "platform/fs.h"
#include "platform/log.h"
#include "platform/main_queue.h"
#include "platform/process.h"
#include "run/game_watch.h"
#include "run/recording_guard.h"
#include "run/run_cleanup.h"
#include "settings/ini.h"

namespace vexo {

namespace {

constexpr char kSep = platform::kPathSep;
using Clock = std::chrono::steady_clock;
using run_detail::RunCleanup;
using run_detail::WaitPumping;

// One click on Start: the checks, then every checked demo recorded in turn. Each step of
// the run is a method of its own; the order of every text and call is the run's.
class RecordingRun {
public:
    RecordingRun(const RunRequest& request, RunObserver& observer, CAviFile& writer)
        : request_(request), observer_(observer), writer_(writer) {
        ui_.Progress = [&observer](const FrameProgress& p) { observer.Progress(p); };
        ui_.ErrorBox = [&observer](const std::string& text) { observer.Failure(text); };
    }

    void Run() {
        ReadInputs();
        ShowStatus("");
        if (!PassesChecks())
            return;
        if (!LoadCodec()) {
            writer_.Close(0);
            ShowStatus("Failed.");
            return observer_.Failure("You didn't select an AVI codec yet.");
        }
        if (!media::ICHeldBy(writer_.CodecVars.fccHandler, request_.Output.container)) {
            const std::string text =
                ContainerRefusesText(media::ICGetName(writer_.CodecVars.fccHandler),
                                     media::ContainerName(request_.Output.container));
            platform::LogFailure("run", text);
            writer_.Close(0);
            ShowStatus("Failed.");
            return observer_.Failure(text);
        }
        observer_.RunStarts();
        ended_ = false;
        // Whatever leaves the run from here by an exception ends the game and the worker,
        // closes the writer and gives the window back.
        RunCleanup cleanup(observer_, queue_, writer_, paths_);
        cleanup_ = &cleanup;
        bool recorded = false;
        for (const RunDemo& demo : request_.Demos) {
            if (recorded && !LoadCodec()) {
                writer_.Close(0);
                ShowStatus("Failed.");
                EndRun();
                return observer_.Failure("You didn't select an AVI codec yet.");
            }
            if (!RecordDemo(demo)) {
                // A failure that ends the whole run; demos that failed before it are listed.
                if (!failures_.empty() || observer_.StopRequested())
                    EndWithFailures();
                return;
            }
            recorded = true;
        }
        if (!failures_.empty())
            return EndWithFailures();
        EndRun();
        ShowStatus("Completed.");
    }

private:
    // The run ended with demos that could not be recorded: one message lists them all.
    void EndWithFailures() {
        if (!ended_) {
            ShowStatus("Failed.");
            EndRun();
        }
        if (!failures_.empty())
            observer_.Failure(FailedDemosText(failures_));
        failures_.clear();
    }

    void EndRun() {
        ended_ = true;
        observer_.RunEnds();
    }

    // A status text, shown before the run goes on with the collector's reports handed over.
    void ShowStatus(const std::string& text) {
        observer_.Status(text);
        queue_.Drain();
    }
    bool LoadCodec() { return request_.LoadCodec && request_.LoadCodec(&writer_.CodecVars); }

    // Completes the video while the observer stays responsive: completing an MP4 file
    // rewrites it whole, which takes a while for a long recording.
    void CloseWriter() {
        std::atomic<bool> closed{false};
        std::thread closing([&] {
            writer_.Close(0);
            closed = true;
        });
        struct Join {
            std::thread& thread;
            ~Join() { thread.join(); }
        } join{closing};
        WaitPumping(observer_, queue_, [&] { return closed.load(); });
    }

    void ReadInputs() {
        paths_ = BuildRunPaths(request_.BaseDir, request_.ModName, request_.ConfigItem,
                               request_.ProgramDir, request_.OutDir, kSep,
                               FindGameEngine(request_.BaseDir),
                               IsSafeNameSuffix(request_.NameSuffix) ? request_.NameSuffix : "");
        options_ = request_.Capture;
        options_.TimeScale = TimeScaleForScript(request_.Capture.TimeScale);
        // With motion blur the game captures every sub-frame: the rate times their number.
        if (request_.SubFrames > 1)
            options_.CaptureRate =
                std::to_string(ParseLeadingInteger(options_.CaptureRate) * request_.SubFrames);
    }

    // The checks, in order; the first that fails ends the click with its message.
    bool PassesChecks() {
        auto fail = [this](const std::string& text) {
            observer_.Failure(text);
            return false;
        };
        if (!request_.ConfigChosen)
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
            if (observer_.Ask(ScreenshotWarningText(leftovers, paths_.ModName), "Problem"))
                // The folder as it is on disk: the count above found it in any letter case.
                observer_.OpenFolder(platform::ResolvePathCase(paths_.ScreenshotDir));
            return false;
        }
        if (request_.Demos.empty())
            return fail("You didn't select any demos in demo list.");
        // A game at timescale 0 never ends its demo, and its recording fills the disk.
        if (!IsPositiveTimeScale(request_.Capture.TimeScale))
            return fail(kTimeScaleText);
        return true;
    }

    // Records a demo into its AVI file. False when a failure ended the run.
    bool RecordDemo(const RunDemo& runDemo) {
        demo_ = runDemo;
        demoStart_ = Clock::now();
        const std::string& item = runDemo.Item;
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
        const std::string target =
            VideoFileName(paths_.OutDir, paths_.ModName, demo, kSep,
                          media::ContainerExtension(request_.Output.container));
        const std::string recording = RecordingFileName(target);
        guard.RecordingStarted(recording);
        MakePath(paths_.OutDir);
        aviRate_ = AviRateFromText(request_.AviRate);
        writer_.Open(recording, 640, 480, aviRate_, 1, request_.Output);
        if (request_.Gamma)
            writer_.SetGamma(*request_.Gamma);

        std::shared_ptr<TDirThread> worker = TDirThread::Create(queue_, ui_);
        cleanup_->worker = worker;
        worker->SetDirectory(paths_.ScreenshotDir);
        worker->SetMask(paths_.ScreenshotMask);
        worker->Interval = 1000;
        worker->Writer = &writer_;
        worker->SetPassOver(leftovers);
        worker->SetCaptureFile(paths_.CaptureFile);
        worker->SetEngineFrameRate(EngineFrameRateValue(options_.CaptureRate, options_.TimeScale));
        if (request_.SubFrames > 1)
            worker->AddStage(std::make_unique<BlendStage>(request_.SubFrames));
        if (request_.Realtime)
            worker->Resume();

        observer_.Title("VEXO [ waiting... ]");
        ShowStatus("Waiting for Quake III to finish...");
        EngineConsole console(paths_.CaptureName);
        GameWatch watch(
            paths_, markerAsked_,
            [this] {
                observer_.Pump();
                queue_.Drain();
            },
            [this] { return observer_.StopRequested(); });
        GameEnd end = watch.Wait(*game, *worker, console);

        ShowStatus("Cleaning up...");
        int exitCode = 1;
        if (!game->ExitCode(exitCode))
            exitCode = 1;
        if (end == GameEnd::Finished) { // a complete demo, whose game was ended by us
            end = GameEnd::Ended;
            exitCode = 0;
        }
        game->Close();
        guard.RestoreConfigs();
        worker->GameEnded();
        platform::DeleteFileAt(paths_.TempConfig);
        if (end != GameEnd::Ended || !console.Error().empty()) {
            observer_.Title("");
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
        if (watch.RecordingEnded(console) && !console.DemoCompleted() && markerAsked_) {
            observer_.Title("");
            return FailDemo(item, GameEnd::LeftEarly, console, *worker, recording, target);
        }

        observer_.Title("");
        if (!request_.Realtime)
            worker->Resume();
        WaitPumping(observer_, queue_, [&] {
            // A stop asked for while the frames are still being collected ends the collector.
            if (observer_.StopRequested() && !worker->Terminated())
                worker->Terminate();
            return !worker->Active();
        });
        if (worker->Terminated() && observer_.StopRequested())
            return FailDemo(item, GameEnd::Stopped, console, *worker, recording, target);
        if (!worker->Failed() && worker->FramesWritten() == 0)
            return FailWithoutFrames(*worker, recording, item);
        FinishDemo(*worker, recording, target);
        return true;
    }

    // A demo the game could not record to its end: what the game wrote is taken into the
    // recording and kept as a failed one, the demo stays checked, and the run goes on with
    // the next demo (unless the user stopped it). The reason is listed when the run ends.
    bool FailDemo(const std::string& item, GameEnd end, const EngineConsole& console,
                  TDirThread& worker, const std::string& recording, const std::string& target) {
        worker.TakeWhatIsLeft();
        WaitPumping(observer_, queue_, [&] { return !worker.Active(); });
        const bool sound = writer_.HasSound();
        CloseWriter();
        KeepFailedRecording(worker, recording, target);
        const bool kept = worker.FramesWritten() > 0;
        const std::string failed = FailedFileName(target);
        std::string text;
        std::string log;
        switch (end) {
        case GameEnd::Error:
        case GameEnd::Ended:
        case GameEnd::Finished:
            text = EngineErrorText(item, console.Error());
            log = "the game reported an error: " + console.Error();
            break;
        case GameEnd::LeftEarly:
            text = LeftEarlyText(item, kept ? failed : "");
            log = "the demo was stopped in the game before its end, after frame " +
                  std::to_string(console.FramesRecorded());
            break;
        case GameEnd::Stalled:
            text = StalledText(item, StallSeconds());
            log = "the game recorded nothing for " + std::to_string(StallSeconds()) +
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
        Report(false, kept ? failed : "", worker, sound,
               text.empty() ? std::string("The recording was stopped.") : text);
        WaitPumping(observer_, queue_, [&] { return worker.CleanupDone(); });
        return end != GameEnd::Stopped;
    }

    // Failure course A: the game was not started; nothing was recorded.
    bool FailBeforeGame(const std::string& text) {
        platform::LogFailure("run", "the game was not started: " + text);
        ShowStatus("Failed.");
        EndRun();
        platform::DeleteFileAt(paths_.TempConfig);
        DemoReport report;
        report.Demo = demo_;
        report.Reason = text;
        observer_.DemoFinished(report);
        observer_.Failure(text);
        return false;
    }

    // Failure course B: the game ended badly. What it wrote before is taken into the
    // recording as a finishing scan would take it, so that the screenshot folder is left
    // empty; the recording is kept as a failed one, an earlier video stays as it was.
    bool FailAfterGame(TDirThread& worker, const std::string& recording,
                       const std::string& target) {
        worker.TakeWhatIsLeft();
        WaitPumping(observer_, queue_, [&] { return !worker.Active(); });
        ShowStatus("Failed.");
        EndRun();
        const bool sound = writer_.HasSound();
        CloseWriter();
        KeepFailedRecording(worker, recording, target);
        const char* text = "Quake III didn't shut down properly.";
        Report(false, worker.FramesWritten() > 0 ? FailedFileName(target) : "", worker, sound,
               text);
        observer_.Failure(text);
        WaitPumping(observer_, queue_, [&] { return worker.CleanupDone(); });
        return false;
    }

    // The game ended well but recorded nothing: waiting longer would not help.
    bool FailWithoutFrames(TDirThread& worker, const std::string& recording,
                           const std::string& item) {
        platform::LogFailure("run", item + ": the game wrote no screenshots into " +
                                        paths_.ScreenshotDir + " and no recording " +
                                        paths_.CaptureFile);
        ShowStatus("Failed.");
        EndRun();
        writer_.Close(0);
        platform::DeleteFileAt(recording);
        Report(false, "", worker, false, NoFramesText(item));
        observer_.Failure(NoFramesText(item));
        WaitPumping(observer_, queue_, [&] { return worker.CleanupDone(); });
        return false;
    }

    // The collector has stopped: the file is completed and takes the video's name (a
    // recording the collector could not finish is kept as a failed one), and the demo is
    // done.
    void FinishDemo(TDirThread& worker, const std::string& recording, const std::string& target) {
        ShowStatus("Finalizing...");
        const bool sound = writer_.HasSound();
        CloseWriter();
        worker.Terminate();
        std::string video = target;
        if (worker.Failed()) {
            KeepFailedRecording(worker, recording, target);
            video = worker.FramesWritten() > 0 ? FailedFileName(target) : "";
        } else if (!platform::MoveFileReplacing(recording, target)) {
            platform::LogFailure("run", "cannot rename " + recording + " to " + target + ": " +
                                            platform::SystemErrorText(errno));
            video = recording;
            observer_.Failure(NotSavedText(target, recording));
        }
        observer_.DemoRecorded(demo_);
        Report(!worker.Failed(), video, worker, sound, worker.Failed() ? worker.FailureText() : "");
        // The worker's clean-up deletes the screenshots it took; it must be over before the
        // next game writes screenshots of the same names.
        WaitPumping(observer_, queue_, [&] { return worker.CleanupDone(); });
    }

    // Tells the observer how the demo under way ended.
    void Report(bool recorded, const std::string& video, const TDirThread& worker, bool sound,
                const std::string& reason) {
        DemoReport report;
        report.Demo = demo_;
        report.Recorded = recorded;
        report.Video = video;
        report.Frames = video.empty() ? 0 : worker.FramesWritten();
        report.VideoSeconds = aviRate_ > 0 ? static_cast<double>(report.Frames) / aviRate_ : 0;
        report.SecondsTaken = std::chrono::duration<double>(Clock::now() - demoStart_).count();
        report.Sound = sound && !video.empty();
        report.Reason = reason;
        observer_.DemoFinished(report);
    }

    static void KeepFailedRecording(const TDirThread& worker, const std::string& recording,
                                    const std::string& target) {
        if (worker.FramesWritten() > 0)
            platform::MoveFileReplacing(recording, FailedFileName(target));
        else
            platform::DeleteFileAt(recording);
    }

    const RunRequest& request_;
    RunObserver& observer_;
    CAviFile& writer_;
    // The collector's reports wait here until the run hands them to the observer.
    platform::MainThreadQueue queue_;
    CollectorUi ui_;
    RunCleanup* cleanup_ = nullptr;     // while the run records
    bool ended_ = false;                // the observer was told that the run ended
    bool markerAsked_ = false;          // the game says when the demo was played to its end
    std::vector<std::string> failures_; // the demos that failed while the run went on
    RunPaths paths_;
    CaptureOptions options_;
    RunDemo demo_; // the demo under way
    Clock::time_point demoStart_;
    int32_t aviRate_ = 25;
};

} // namespace

void RunRecording(const RunRequest& request, RunObserver& observer, CAviFile& writer) {
    RecordingRun(request, observer, writer).Run();
}

} // namespace vexo
