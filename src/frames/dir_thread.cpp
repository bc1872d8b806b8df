#include "frames/dir_thread.h"

#include <algorithm>
#include <cstdio>
#include <vector>

#include "frames/avi_file.h"
#include "frames/tga.h"
#include "platform/fs.h"

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

void TDirThread::Status(const std::string& text) {
    if (ui_.Status)
        queue_.Post([f = ui_.Status, text] { f(text); });
}

void TDirThread::Title(const std::string& text) {
    if (ui_.Title)
        queue_.Post([f = ui_.Title, text] { f(text); });
}

void TDirThread::ErrorBox(const std::string& text) {
    if (ui_.ErrorBox)
        queue_.PostAndWait([f = ui_.ErrorBox, text] { f(text); });
}

void TDirThread::Execute() {
    busy_ = false;
    active_ = true;
    processed_.clear();
    frameCounter_ = 0;
    int idle = 0; // scans that found files but wrote none; never reset

    while (!terminated_) {
        if (!Pause(Interval))
            break;
        if (busy_)
            continue;
        const std::string sep(1, platform::kPathSep);
        std::vector<std::string> names = platform::FindMatches(directory_ + sep + mask_, false);
        if (names.empty())
            continue; // nothing there yet: not an idle scan
        // The directory lists in no particular order: take the files in ascending order of
        // their full paths, compared without regard to case.
        std::sort(names.begin(), names.end(), LessNoCase);
        int written = 0;
        for (const std::string& name : names) {
            if (name.empty() || name[0] == '.')
                continue;
            const std::string full = directory_ + sep + name;
            if (processed_.count(full))
                continue;
            processed_.insert(full); // before handling: never taken twice, even if it fails
            if (!HandleFrameFile(full, name))
                break; // this search ends; a read or write failure also ends the collector
            ++written;
        }
        if (terminated_)
            break;
        if (written == 0) {
            Status("Sensing...");
            ++idle;
            if (idle > 2)
                break;
        }
    }

    Terminate();
    active_ = false;
    // The termination handler runs on the main thread; it keeps this object alive.
    std::shared_ptr<TDirThread> self = self_.lock();
    queue_.Post([self] { self->DeleteProcessedFiles(); });
}

bool TDirThread::HandleFrameFile(const std::string& fullPath, const std::string& name) {
    if (!Writer) {
        Status("Failed.");
        ErrorBox("Internal error. Aborting.");
        return false;
    }
    busy_ = true;
    const int32_t number = frameCounter_;
    Status("Writing frame " + std::to_string(number) + " (" + name + ") ...");
    Title("VEXO [ " + name + " ]");
    std::this_thread::sleep_for(std::chrono::milliseconds(10));

    TgaImage* image = nullptr;
    for (int attempt = 0; attempt < 20; ++attempt) {
        int32_t status = IMG_UNKNOWN;
        image = LoadTga(platform::ResolvePathCase(fullPath).c_str(), &status);
        if (image && status == IMG_OK)
            break;
        FreeImage(image);
        image = nullptr;
        Status("Retrying frame " + std::to_string(number) + " (" + std::to_string(attempt) +
               ") ...");
        std::this_thread::sleep_for(std::chrono::milliseconds(100));
    }
    if (!image) {
        Status("Failed.");
        ErrorBox("Error reading a generated TGA file.");
        Terminate();
        return false;
    }
    const int32_t position = frameCounter_++;
    const bool ok = Writer->WriteFrame(image, position);
    FreeImage(image);
    if (!ok) {
        Status("Failed.");
        ErrorBox("Error writing AVI frame to output file.");
        Terminate();
        return false;
    }
    if (Consume)
        TruncateFile(fullPath);
    busy_ = false;
    return true;
}

bool TruncateFile(const std::string& path) {
    std::FILE* f = std::fopen(platform::ResolvePathCase(path).c_str(), "wb");
    if (!f)
        return false;
    std::fclose(f);
    return true;
}

void TDirThread::DeleteProcessedFiles() {
    if (thread_.joinable())
        thread_.join(); // the body has returned; make the end of the thread final
    if (Consume)
        for (const std::string& path : processed_)
            platform::DeleteFileAt(path);
    processed_.clear();
    cleanupDone_ = true;
}

} // namespace vexo
