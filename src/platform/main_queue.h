// The hand-over from worker threads to the main (window) thread: work posted here runs on
// the main thread, in the order it was posted, whenever the main thread handles its pending
// messages (Drain). A wake hook lets a window toolkit schedule a drain from its event loop.
#pragma once

#include <condition_variable>
#include <deque>
#include <functional>
#include <mutex>
#include <thread>

namespace vexo::platform {

class MainThreadQueue {
public:
    MainThreadQueue();

    // Runs fn later on the main thread. Called from any thread.
    void Post(std::function<void()> fn);
    // Runs fn on the main thread and waits until it has run. From the main thread itself
    // it runs fn at once.
    void PostAndWait(std::function<void()> fn);
    // Runs everything posted so far, in order. Main thread only. Returns the number run.
    int Drain();
    // Called (from the posting thread) after each post, so a toolkit can wake its loop.
    void SetWakeHook(std::function<void()> hook);
    bool IsMainThread() const { return std::this_thread::get_id() == mainThread_; }
    // Drops work that can no longer run (shut-down). Waiters are released.
    void Shutdown();

private:
    std::mutex mutex_;
    std::condition_variable done_;
    std::deque<std::function<void()>> queue_;
    std::function<void()> wake_;
    std::thread::id mainThread_;
    bool shutdown_ = false;
};

} // namespace vexo::platform
