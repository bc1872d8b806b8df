// The frame collector: the worker thread of a demo's frame pipeline. Its sources are the
// game's screenshot folder (every new screenshot becomes the next frame; each file used is
// emptied, and every file taken deleted at the end) and, for an engine that records into a
// video file of its own, that file (its frames, and its sound made to fit them). Frames go
// through the pipeline's stages, if any, to the writer, which converts them with the output
// gamma and stores them.
#pragma once

#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "frames/avi_file.h"
#include "frames/capture_source.h"
#include "frames/frame_feed.h"
#include "frames/frame_progress.h"
#include "frames/frame_stage.h"
#include "frames/screenshot_source.h"
#include "platform/main_queue.h"

namespace vexo {

// Where the collector reports. Every function runs on the main thread, in the order the
// collector produced them; the collector waits only for ErrorBox.
struct CollectorUi {
    std::function<void(const FrameProgress&)> Progress; // what it does, as numbers
    std::function<void(const std::string&)> ErrorBox;   // caption "Error", error icon
};

class TDirThread : private FrameFeed {
public:
    // Created suspended: nothing happens until Resume.
    static std::shared_ptr<TDirThread> Create(platform::MainThreadQueue& queue, CollectorUi ui);
    ~TDirThread() override;
    TDirThread(const TDirThread&) = delete;
    TDirThread& operator=(const TDirThread&) = delete;

    void SetDirectory(const std::string& directory) { screenshots_.SetDirectory(directory); }
    void SetMask(const std::string& mask) { screenshots_.SetMask(mask); }
    int32_t Interval = 1000; // milliseconds before each look into the directory
    CAviFile* Writer = nullptr;
    // Whether used screenshots are emptied and, at the end, deleted (the program's way), and
    // the disk space of the engine's recording given back as it is read. Off, the files are
    // only read.
    bool Consume = true;

    // Full paths of files that were in the folder before this collector's game started
    // (screenshots an earlier collector left when it failed): never taken, never deleted,
    // and a scan that finds only these counts as a scan that found nothing.
    void SetPassOver(const std::vector<std::string>& fullPaths) {
        screenshots_.PassOver(fullPaths);
    }

    // The file a native engine records into. Once it appears, its frames are the demo's
    // frames, read as the game writes them; screenshots are then no longer looked for. A
    // collector that has written screenshots never takes this file.
    void SetCaptureFile(const std::string& path) { capture_.SetFile(path); }
    // The frame rate the engine was told to record at (cl_aviFrameRate): its sound is made
    // to fit the video's picture by it. Unset (0), the engine is taken to record at the
    // video's own rate.
    void SetEngineFrameRate(double rate) { capture_.SetEngineFrameRate(rate); }
    // A stage the frames pass on their way to the writer, after those added before; only
    // before Resume.
    void AddStage(std::unique_ptr<FrameStage> stage) { stages_.push_back(std::move(stage)); }
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
    // The number the next frame taken from a source will get.
    int32_t FrameCounter() const { return frameCounter_; }
    // The frames the writer has taken.
    int32_t FramesWritten() const { return framesWritten_; }

private:
    TDirThread(platform::MainThreadQueue& queue, CollectorUi ui);
    void Execute();
    void DeleteProcessedFiles();
    void ErrorBox(const std::string& text);
    // Stores a frame that has passed the stages at the next position.
    bool Write(const Frame& frame);

    // What the sources need of the pipeline.
    bool Pause(int milliseconds) override;
    bool Stopping() const override { return terminated_; }
    bool GameEnded() const override { return gameEnded_; }
    bool Lenient() const override { return lenient_; }
    bool HasWriter() const override { return Writer != nullptr; }
    int32_t FramesTaken() const override { return frameCounter_; }
    int PicturesPerFrame() const override;
    void Report(FrameProgress::Step step, int32_t frame = 0, const std::string& source = {},
                int attempt = 0) override;
    bool Deliver(const Frame& frame) override;
    bool Fail(const std::string& text) override;
    void Refuse(const std::string& text) override;
    std::unique_ptr<CAviFile::PreparedFrame>
    NewPreparedFrame(bool apart, const CAviFile::PreparedFrame* partner = nullptr) override;
    CAviFile& Output() override { return *Writer; }

    platform::MainThreadQueue& queue_;
    CollectorUi ui_;
    std::weak_ptr<TDirThread> self_;
    ScreenshotSource screenshots_;
    CaptureSource capture_;
    std::vector<std::unique_ptr<FrameStage>> stages_;
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
    std::string failureText_;
    std::mutex mutex_;
    std::condition_variable wake_;
    std::thread thread_;
};

} // namespace vexo
