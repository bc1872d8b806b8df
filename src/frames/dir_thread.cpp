#include "frames/dir_thread.h"

#include <algorithm>
#include <chrono>

namespace vexo {

std::shared_ptr<TDirThread> TDirThread::Create(platform::MainThreadQueue& queue, CollectorUi ui) {
    std::shared_ptr<TDirThread> thread(new TDirThread(queue, std::move(ui)));
    thread->self_ = thread;
    return thread;
}

TDirThread::TDirThread(platform::MainThreadQueue& queue, CollectorUi ui)
    : queue_(queue), ui_(std::move(ui)) {}

TDirThread::~TDirThread() {
    Terminate();
    if (thread_.joinable()) {
        if (thread_.get_id() == std::this_thread::get_id())
            thread_.detach();
        else
            thread_.join();
    }
}

void TDirThread::GameEnded() {
    {
        std::lock_guard<std::mutex> lock(mutex_);
        gameEnded_ = true;
    }
    wake_.notify_all();
}

void TDirThread::TakeWhatIsLeft() {
    lenient_ = true;
    GameEnded();
    Resume();
}

void TDirThread::Resume() {
    bool expected = false;
    if (!started_.compare_exchange_strong(expected, true))
        return;
    cleanupDone_ = false;
    thread_ = std::thread([this] { Execute(); });
}

void TDirThread::Terminate() {
    {
        std::lock_guard<std::mutex> lock(mutex_);
        terminated_ = true;
    }
    wake_.notify_all();
}

bool TDirThread::Pause(int milliseconds) {
    std::unique_lock<std::mutex> lock(mutex_);
    wake_.wait_for(lock, std::chrono::milliseconds(std::max(0, milliseconds)),
                   [this] { return terminated_.load(); });
    return !terminated_;
}

void TDirThread::Report(FrameProgress::Step step, int32_t frame, const std::string& source,
                        int attempt) {
    if (!ui_.Progress)
        return;
    FrameProgress p;
    p.step = step;
    p.frame = frame;
    p.source = source;
    p.attempt = attempt;
    p.framesWritten = framesWritten_;
    p.bytesWritten = bytesWritten_;
    queue_.Post([f = ui_.Progress, p] { f(p); });
}

void TDirThread::ErrorBox(const std::string& text) {
    if (ui_.ErrorBox)
        queue_.PostAndWait([f = ui_.ErrorBox, text] { f(text); });
}

bool TDirThread::Fail(const std::string& text) {
    failureText_ = text;
    failed_ = true;
    Report(FrameProgress::Step::Failed);
    ErrorBox(text);
    Terminate();
    return false;
}

void TDirThread::Refuse(const std::string& text) {
    Report(FrameProgress::Step::Failed);
    ErrorBox(text);
}

void TDirThread::Execute() {
    active_ = true;
    screenshots_.Begin();
    screenshots_.Consume = Consume;
    capture_.Release = Consume;
    frameCounter_ = 0;
    framesWritten_ = 0;
    bytesWritten_ = 0;
    while (!terminated_) {
        if (!Pause(Interval))
            break;
        // A native engine's own recording, once it is there, holds the demo's frames.
        if (frameCounter_ == 0 && capture_.Appeared()) {
            capture_.TakeAll(*this);
            break;
        }
        if (!screenshots_.Scan(*this))
            break;
    }
    screenshots_.End();
    Terminate();
    active_ = false;
    // The termination handler runs on the main thread; it keeps this object alive.
    std::shared_ptr<TDirThread> self = self_.lock();
    queue_.Post([self] { self->DeleteProcessedFiles(); });
}

namespace {

// The way from one stage to the next, and from the last to the writer.
class StageLink : public FrameSink {
public:
    StageLink(const std::vector<std::unique_ptr<FrameStage>>& stages, size_t index,
              const std::function<bool(const Frame&)>& write)
        : stages_(stages), index_(index), write_(write) {}
    bool Put(const Frame& frame) override {
        if (index_ == stages_.size())
            return write_(frame);
        StageLink next(stages_, index_ + 1, write_);
        return stages_[index_]->Take(frame, next);
    }

private:
    const std::vector<std::unique_ptr<FrameStage>>& stages_;
    size_t index_;
    const std::function<bool(const Frame&)>& write_;
};

} // namespace

bool TDirThread::Deliver(const Frame& frame) {
    ++frameCounter_;
    if (stages_.empty())
        return Write(frame);
    const std::function<bool(const Frame&)> write = [this](const Frame& f) { return Write(f); };
    return StageLink(stages_, 0, write).Put(frame);
}

bool TDirThread::Write(const Frame& frame) {
    const int32_t position = framesWritten_;
    int32_t bytes = 0;
    bool ok = false;
    if (frame.prepared)
        ok = Writer->WritePreparedFrame(*frame.prepared, position, &bytes);
    else if (frame.picture)
        ok = Writer->WritePicture(*frame.picture, position, &bytes);
    else
        ok = Writer->WriteFrame(frame.image, position, &bytes);
    bytesWritten_ += bytes;
    if (ok)
        ++framesWritten_;
    return ok;
}

std::unique_ptr<CAviFile::PreparedFrame>
TDirThread::NewPreparedFrame(bool apart, const CAviFile::PreparedFrame* partner) {
    // A stage that works on the pictures themselves needs them as they are.
    if (!Writer || std::any_of(stages_.begin(), stages_.end(),
                               [](const auto& stage) { return !stage->TakesPreparedFrames(); }))
        return nullptr;
    return Writer->NewPreparedFrame(apart, partner);
}

int TDirThread::PicturesPerFrame() const {
    int pictures = 1;
    for (const auto& stage : stages_)
        pictures *= stage->PicturesPerFrame();
    return pictures;
}

void TDirThread::DeleteProcessedFiles() {
    if (thread_.joinable())
        thread_.join(); // the body has returned; make the end of the thread final
    screenshots_.DeleteTaken();
    cleanupDone_ = true;
}

} // namespace vexo
