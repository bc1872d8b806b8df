#include "platform/main_queue.h"

#include <memory>

namespace vexo::platform {

MainThreadQueue::MainThreadQueue() : mainThread_(std::this_thread::get_id()) {}

void MainThreadQueue::Post(std::function<void()> fn) {
    std::function<void()> wake;
    {
        std::lock_guard<std::mutex> lock(mutex_);
        if (shutdown_)
            return;
        queue_.push_back(std::move(fn));
        wake = wake_;
    }
    if (wake)
        wake();
}

void MainThreadQueue::PostAndWait(std::function<void()> fn) {
    if (IsMainThread()) {
        fn();
        return;
    }
    auto finished = std::make_shared<bool>(false);
    Post([this, fn = std::move(fn), finished] {
        fn();
        std::lock_guard<std::mutex> lock(mutex_);
        *finished = true;
        done_.notify_all();
    });
    std::unique_lock<std::mutex> lock(mutex_);
    done_.wait(lock, [&] { return *finished || shutdown_; });
}

int MainThreadQueue::Drain() {
    int count = 0;
    for (;;) {
        std::function<void()> fn;
        {
            std::lock_guard<std::mutex> lock(mutex_);
            if (queue_.empty())
                return count;
            fn = std::move(queue_.front());
            queue_.pop_front();
        }
        fn();
        ++count;
    }
}

void MainThreadQueue::SetWakeHook(std::function<void()> hook) {
    std::lock_guard<std::mutex> lock(mutex_);
    wake_ = std::move(hook);
}

void MainThreadQueue::Shutdown() {
    std::lock_guard<std::mutex> lock(mutex_);
    shutdown_ = true;
    queue_.clear();
    done_.notify_all();
}

} // namespace vexo::platform
