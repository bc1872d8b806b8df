// What the recording run keeps waiting on and puts right when it is left by an exception.
#pragma once

#include <chrono>
#include <exception>
#include <memory>
#include <optional>
#include <thread>

#include "frames/avi_file.h"
#include "frames/dir_thread.h"
#include "game/game_script.h"
#include "platform/fs.h"
#include "platform/main_queue.h"
#include "platform/process.h"
#include "run/run_request.h"

namespace vexo::run_detail {

// Lets the observer handle what waits on its thread, and hands the collector's reports over
// to it, until done() holds. The short sleep keeps the run's thread from taking a whole core
// away from the collector while it waits. Once done() holds, the worker's last reports are
// already queued: one more pass hands them over before the run's next status text.
template <typename Done>
void WaitPumping(RunObserver& observer, platform::MainThreadQueue& queue, Done done) {
    while (!done()) {
        observer.Pump();
        queue.Drain();
        if (!done())
            std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
    observer.Pump();
    queue.Drain();
}

// What a run has under way, put right when an exception leaves the run (a worker thread
// that cannot start, say): the worker is stopped before the writer closes, the game is ended
// and its temporary config removed, and the window is given back, so that the error box
// that follows shows over a window that works.
class RunCleanup {
public:
    RunCleanup(RunObserver& observer, platform::MainThreadQueue& queue, CAviFile& writer,
               const RunPaths& paths)
        : observer_(observer), queue_(queue), writer_(writer), paths_(paths),
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
            WaitPumping(observer_, queue_, [&] { return !worker->Started() || !worker->Active(); });
        }
        writer_.Close(0);
        if (game) {
            game->Terminate();
            while (!game->Wait(80))
                observer_.Pump();
            game->Close();
        }
        platform::DeleteFileAt(paths_.TempConfig);
        observer_.Status("Failed.");
        observer_.RunEnds();
        if (worker)
            WaitPumping(observer_, queue_, [&] { return worker->CleanupDone(); });
    }

    RunObserver& observer_;
    platform::MainThreadQueue& queue_;
    CAviFile& writer_;
    const RunPaths& paths_;
    const int exceptions_;
};

} // namespace vexo::run_detail
