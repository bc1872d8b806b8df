// The frame collector: a worker thread that watches the game's screenshot folder, turns
// every new screenshot into the next frame of the AVI writer, empties each file it used
// and, when it ends, deletes every file it took. An engine that records into a video file of
// its own instead has that file's frames (and sound, made to fit them) taken the same way,
// in order.
#pragma once

#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <set>
#include <string>
#include <thread>
#include <vector>

#include "frames/avi_file.h"
#include "frames/frame_progress.h"
#include "frames/sound_fit.h"
#include "platform/game_capture.h"
#include "platform/main_queue.h"
#include "util/no_case.h"

namespace vexo {

// Where the collector reports. Every function runs on the main thread, in the order the
// collector produced them; the collector waits only for ErrorBox.
struct CollectorUi {
    std::function<void(const FrameProgress&)> Progress; // what it does, as numbers
    std::function<void(const std::string&)> ErrorBox;   // caption "Error", error icon
};

class TDirThread {
public:
    // Created suspended: nothing happens until Resume.
    static std::shared_ptr<TDirThread> Create(platform::MainThreadQueue& queue, CollectorUi ui);
    ~TDirThread();
    TDirThread(const TDirThread&) = delete;
    TDirThread& operator=(const TDirThread&) = delete;

    void SetDirectory(const std::string& directory) { directory_ = directory; }
    void SetMask(const std::string& mask) { mask_ = mask; }
    int32_t Interval = 1000; // milliseconds before each look into the directory
    CAviFile* Writer = nullptr;
    // Whether used screenshots are emptied and, at the end, deleted (the program's way).
    // Off, the files are only read.
    bool Consume = true;

    // Full paths of files that were in the folder before this collector's game started
    // (screenshots an earlier collector left when it failed): never taken, never deleted,
    // and a scan that finds only these counts as a scan that found nothing.
    void SetPassOver(const std::vector<std::string>& fullPaths) {
        passOver_.insert(fullPaths.begin(), fullPaths.end());
    }

    // The file a native engine records into. Once it appears, its frames are the demo's
    // frames, read as the game writes them; screenshots are then no longer looked for. A
    // collector that has written screenshots never takes this file.
    void SetCaptureFile(const std::string& path) { captureFile_ = path; }
    // The frame rate the engine was told to record at (cl_aviFrameRate): its sound is made
    // to fit the video's picture by it. Unset (0), the engine is taken to record at the
    // video's own rate.
    void SetEngineFrameRate(double rate) { engineFrameRate_ = rate; }
    // Tells the collector that the game has ended: nothing more will be written, so a scan
    // that finds nothing counts as an idle scan, and the end of the capture file is its end.
    void GameEnded();

    // After a game that failed: takes what the game wrote before it failed, as a finishing
    // scan takes it (starting the worker if it was not yet), passing over files the game
    // left half-written instead of failing on them.
    void TakeWhatIsLeft();

    // Starts the worker (once).
    void Resume();
    // Asks the worker to stop after the file it is handling.
    void Terminate();
    bool Terminated() const { return terminated_; }
    // True while the collector is working; false once it has stopped for good.
    bool Active() const { return active_; }
    // True once the files it took have been deleted (or when it was never started).
    bool CleanupDone() const { return cleanupDone_; }
    bool Started() const { return started_; }
    // True when the collector stopped over a file it could not read or a frame the writer
    // refused (and told the user so).
    bool Failed() const { return failed_; }
    // What the user was told when it failed; read once it has stopped.
    const std::string& FailureText() const { return failureText_; }
    // The position the next frame will get.
    int32_t FrameCounter() const { return frameCounter_; }
    // The frames the writer has taken.
    int32_t FramesWritten() const { return framesWritten_; }

private:
    TDirThread(platform::MainThreadQueue& queue, CollectorUi ui);
    void Execute();
    bool HandleFrameFile(const std::string& fullPath, const std::string& name,
                         const std::string& nextPath);
    // Reading the next screenshot while the current frame is written: started only for a
    // file the game has finished with, and taken only if the file is still the same. Once
    // the first frame has fixed the stream's format, the screenshot is also made into a
    // frame there (converted, and compressed where the compressor allows).
    struct ReadAhead;
    struct ReadResult {
        TgaImage* image = nullptr;                   // the screenshot as read, or
        CAviFile::PreparedFrame* prepared = nullptr; // the frame made of it
    };
    void MakePreparedFrames();
    void StartReadAhead(const std::string& fullPath);
    ReadResult TakeReadAhead(const std::string& fullPath, const std::string& path);
    void DropReadAhead();
    // Takes every frame and piece of sound of the engine's capture file, as the game writes
    // them, until the game has ended and the file is read to its end. False on a failure.
    bool TakeCapture();
    // Tells the user why the collector stops, marks it failed and stops it: false.
    bool Fail(const std::string& text);
    bool TakeCaptureFile(platform::GameCaptureReader& capture, const std::string& name,
                         SoundFit* sound);
    // The sound stream for the capture's sound, made to fit the picture; none (and the log
    // says why) where that cannot be done.
    std::unique_ptr<SoundFit> AddSound(const platform::CaptureSound& sound);
    void DeleteProcessedFiles();
    bool Pause(int milliseconds); // false when termination was requested
    void Report(FrameProgress::Step step, int32_t frame = 0, const std::string& source = {},
                int attempt = 0);
    void ErrorBox(const std::string& text);

    platform::MainThreadQueue& queue_;
    CollectorUi ui_;
    std::weak_ptr<TDirThread> self_;
    std::string directory_;
    std::string mask_;
    bool busy_ = false;
    std::set<std::string, decltype(&LessNoCase)> processed_{&LessNoCase};
    std::set<std::string, decltype(&LessNoCase)> passOver_{&LessNoCase};
    std::atomic<int32_t> frameCounter_{0};
    std::atomic<bool> active_{true};
    std::atomic<bool> terminated_{false};
    std::atomic<bool> cleanupDone_{true};
    std::atomic<bool> started_{false};
    std::atomic<bool> gameEnded_{false};
    std::atomic<bool> failed_{false};
    std::atomic<bool> lenient_{false};
    std::atomic<int32_t> framesWritten_{0};
    int64_t bytesWritten_ = 0; // on the worker
    std::string captureFile_;
    std::string failureText_;
    double engineFrameRate_ = 0;
    std::mutex mutex_;
    std::condition_variable wake_;
    std::thread thread_;
    // Two frames made ahead, used in turn: one the reader fills while the other is written;
    // and the frame this thread makes of a screenshot it reads itself.
    std::unique_ptr<CAviFile::PreparedFrame> prepared_[2];
    int nextPrepared_ = 0;
    std::unique_ptr<CAviFile::PreparedFrame> ownFrame_;
    TgaBandReader reader_; // for screenshots this thread reads straight into its frame
    std::unique_ptr<ReadAhead> readAhead_; // after the frames it fills: ends before them
};

// Empties a file (opens it for writing and closes it); true when it could be opened.
bool TruncateFile(const std::string& path);

} // namespace vexo
