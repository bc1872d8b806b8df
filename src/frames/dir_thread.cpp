#include "frames/dir_thread.h"

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <vector>

#include "frames/avi_file.h"
#include "frames/tga.h"
#include "platform/fs.h"
#include "platform/game_capture.h"
#include "platform/log.h"

namespace vexo {

namespace {

constexpr auto kSettleTime = std::chrono::milliseconds(10);

// How long to wait for a game to write more of its capture file.
constexpr int kCaptureWaitMs = 10;

// How long to wait before reading a screenshot so that the game has had kSettleTime since
// it last wrote the file. A file written long ago (every file when the collector runs after
// the game) is read at once; a file just written, one whose time lies in the future or one
// that cannot be examined waits the whole settle time.
std::chrono::nanoseconds SettleWait(const std::string& path) {
    const platform::FileStamp stamp = platform::StampOf(path);
    const int64_t now = platform::WallClockNs();
    if (!stamp.valid || now == 0)
        return kSettleTime;
    const auto age = std::chrono::nanoseconds(now - stamp.modifiedNs);
    if (age < std::chrono::nanoseconds::zero())
        return kSettleTime;
    if (age >= kSettleTime)
        return std::chrono::nanoseconds::zero();
    return kSettleTime - age;
}

using platform::FileStamp;
using platform::StampOf;

} // namespace

// One reader thread for the whole run, so that the images it reads come from one place
// in memory instead of a new thread's for every frame.
struct TDirThread::ReadAhead {
    std::mutex mutex;
    std::condition_variable changed;
    bool stop = false;
    bool queued = false; // a file is waiting to be read or is being read
    bool done = false;   // ...and result holds what came of it
    std::string fullPath;
    std::string path;
    CAviFile::PreparedFrame* frame = nullptr; // where the image goes, if anywhere
    TgaBandReader reader;                     // for screenshots read straight into frames
    ReadResult result;
    FileStamp stamp;    // the version of the file the result came from
    std::thread worker; // last: it starts once everything it uses has been made

    ReadAhead() {
        worker = std::thread([this] { Run(); });
    }
    ~ReadAhead() {
        {
            std::lock_guard<std::mutex> lock(mutex);
            stop = true;
        }
        changed.notify_all();
        worker.join();
        FreeImage(result.image);
    }

    void Run() {
        std::unique_lock<std::mutex> lock(mutex);
        for (;;) {
            changed.wait(lock, [this] { return stop || (queued && !done); });
            if (stop)
                return;
            const std::string file = path;
            CAviFile::PreparedFrame* into = frame;
            lock.unlock();
            ReadResult r;
            const FileStamp before = StampOf(file);
            FileStamp after;
            // A screenshot as the game writes them goes straight into the frame; anything
            // else is read as an image first.
            const bool made =
                into && reader.Open(file.c_str()) && CAviFile::PrepareFrame(*into, reader);
            reader.Close();
            if (made && (after = StampOf(file)) == before) {
                r.prepared = into;
            } else {
                int32_t status = IMG_UNKNOWN;
                r.image = LoadTga(file.c_str(), &status);
                after = StampOf(file);
                if (status != IMG_OK || !(before == after)) {
                    FreeImage(r.image);
                    r.image = nullptr;
                }
                if (r.image && into && CAviFile::PrepareFrame(*into, *r.image)) {
                    FreeImage(r.image);
                    r.image = nullptr;
                    r.prepared = into;
                }
            }
            lock.lock();
            result = r;
            stamp = after;
            done = true;
            changed.notify_all();
        }
    }

    // Waits for the file queued and hands over what was read (nothing when nothing was),
    // with the version of the file it came from.
    ReadResult Finish(FileStamp* from = nullptr) {
        std::unique_lock<std::mutex> lock(mutex);
        changed.wait(lock, [this] { return !queued || done; });
        ReadResult r = result;
        if (from)
            *from = stamp;
        result = ReadResult{};
        queued = done = false;
        frame = nullptr;
        return r;
    }
};

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

void TDirThread::Execute() {
    busy_ = false;
    active_ = true;
    processed_.clear();
    frameCounter_ = 0;
    framesWritten_ = 0;
    bytesWritten_ = 0;
    int idle = 0; // scans that found files but wrote none; never reset

    while (!terminated_) {
        if (!Pause(Interval))
            break;
        if (busy_)
            continue;
        // A native engine's own recording, once it is there, holds the demo's frames.
        if (!captureFile_.empty() && frameCounter_ == 0 && platform::FileExists(captureFile_)) {
            TakeCapture();
            break;
        }
        const std::string sep(1, platform::kPathSep);
        // The directory lists in no particular order: the files are taken in ascending order
        // of their full paths, compared without regard to case.
        auto list = [&] {
            std::vector<std::string> found = platform::FindMatches(directory_ + sep + mask_, false);
            std::erase_if(found, [&](const std::string& name) {
                return passOver_.count(directory_ + sep + name) != 0;
            });
            std::sort(found.begin(), found.end(), LessNoCase);
            return found;
        };
        std::vector<std::string> names = list();
        if (names.empty() && !gameEnded_)
            continue; // nothing there yet: not an idle scan
        // Once the game has ended nothing more will come: a scan that finds nothing is idle
        // too, so a game that wrote no frame at all does not keep the collector waiting.
        int written = 0;
        // The search goes on as long as it finds files past the last one it reached, so that
        // screenshots the game writes while the search is taking others are taken in the
        // same search, as a search of the directory itself returns new entries ahead of it.
        std::string reached;
        for (bool more = true, failed = false; more && !failed && !terminated_;) {
            more = false;
            for (size_t i = 0; i < names.size(); ++i) {
                const std::string& name = names[i];
                if (!reached.empty() && !LessNoCase(reached, name))
                    continue;
                reached = name;
                more = true;
                if (name.empty() || name[0] == '.')
                    continue;
                const std::string full = directory_ + sep + name;
                if (processed_.count(full))
                    continue;
                processed_.insert(full); // before handling: never taken twice, even if it fails
                // The file this search will take next, so that it can be read meanwhile.
                std::string next;
                for (size_t j = i + 1; j < names.size(); ++j) {
                    if (names[j].empty() || names[j][0] == '.')
                        continue;
                    const std::string candidate = directory_ + sep + names[j];
                    if (!processed_.count(candidate) && !EqualNoCase(candidate, full)) {
                        next = candidate;
                        break;
                    }
                }
                if (!HandleFrameFile(full, name, next)) {
                    failed = true; // this search ends; a read or write failure ends the collector
                    break;
                }
                ++written;
            }
            if (more && !failed && !terminated_)
                names = list();
        }
        if (terminated_)
            break;
        if (written == 0) {
            Report(FrameProgress::Step::Sensing);
            ++idle;
            if (idle > 2)
                break;
        }
    }

    readAhead_.reset(); // ends the reader thread
    prepared_[0].reset();
    prepared_[1].reset();
    ownFrame_.reset();
    reader_.Close();
    Terminate();
    active_ = false;
    // The termination handler runs on the main thread; it keeps this object alive.
    std::shared_ptr<TDirThread> self = self_.lock();
    queue_.Post([self] { self->DeleteProcessedFiles(); });
}

// Frames to make the screenshots into, once the first frame has fixed the stream's format.
void TDirThread::MakePreparedFrames() {
    if (prepared_[1] || !Writer)
        return;
    // The reader's two frames share one compressor. Where they come complete, the two
    // threads take the frames in turn and this thread makes its own in a third (compressed
    // by the stream itself); elsewhere the reader makes nearly every frame and this thread
    // reads the few others as images into the stream's own buffer.
    auto first = Writer->NewPreparedFrame(true);
    auto second = first ? Writer->NewPreparedFrame(true, first.get()) : nullptr;
    if (!second)
        return; // not yet (or no memory): images as before
    if (second->CompletesApart() && !(ownFrame_ = Writer->NewPreparedFrame(false)))
        return;
    prepared_[0] = std::move(first);
    prepared_[1] = std::move(second);
}

void TDirThread::StartReadAhead(const std::string& fullPath) {
    DropReadAhead();
    const std::string path = platform::ResolvePathCase(fullPath);
    // A file the game may still be writing is left to the regular read, which waits.
    if (SettleWait(path) > std::chrono::nanoseconds::zero())
        return;
    if (!readAhead_) {
        try {
            readAhead_ = std::make_unique<ReadAhead>();
        } catch (const std::exception&) {
            return; // no thread to spare: each file is read when its turn comes
        }
    }
    // The frame not being written now (the one taken last), when there are frames.
    CAviFile::PreparedFrame* into = prepared_[nextPrepared_].get();
    nextPrepared_ ^= 1;
    {
        std::lock_guard<std::mutex> lock(readAhead_->mutex);
        readAhead_->fullPath = fullPath;
        readAhead_->path = path;
        readAhead_->frame = into;
        readAhead_->queued = true;
        readAhead_->done = false;
    }
    readAhead_->changed.notify_all();
}

TDirThread::ReadResult TDirThread::TakeReadAhead(const std::string& fullPath,
                                                 const std::string& path) {
    if (!readAhead_)
        return {};
    const bool same = readAhead_->fullPath == fullPath;
    FileStamp stamp;
    ReadResult r = readAhead_->Finish(&stamp);
    // Taken only when it is this file, still in the version that was read.
    if ((r.image || r.prepared) && (!same || !(StampOf(path) == stamp))) {
        FreeImage(r.image);
        r = ReadResult{};
    }
    return r;
}

void TDirThread::DropReadAhead() {
    if (readAhead_)
        FreeImage(readAhead_->Finish().image);
}

bool TDirThread::HandleFrameFile(const std::string& fullPath, const std::string& name,
                                 const std::string& nextPath) {
    if (!Writer) {
        Report(FrameProgress::Step::Failed);
        ErrorBox("Internal error. Aborting.");
        return false;
    }
    busy_ = true;
    const int32_t number = frameCounter_;
    Report(FrameProgress::Step::Writing, number, name);
    const std::string path = platform::ResolvePathCase(fullPath);
    const std::chrono::nanoseconds settle = SettleWait(path);
    if (settle > std::chrono::nanoseconds::zero())
        std::this_thread::sleep_for(settle);

    MakePreparedFrames();
    const ReadResult ahead = TakeReadAhead(fullPath, path);
    TgaImage* image = ahead.image;
    CAviFile::PreparedFrame* prepared = ahead.prepared;
    // The next screenshot is read meanwhile. A frame already made in full leaves this
    // thread nothing but to store it, so the next one is made here instead and the one
    // after it there: the two threads take the frames in turn.
    if (!nextPath.empty() && !(prepared && prepared->Complete()))
        StartReadAhead(nextPath);
    // A screenshot as the game writes them goes straight into a frame; for anything else,
    // and when that read fails, the image is read and retried as always.
    if (!image && !prepared && ownFrame_) {
        if (reader_.Open(path.c_str()) && CAviFile::PrepareFrame(*ownFrame_, reader_))
            prepared = ownFrame_.get();
        reader_.Close();
    }
    std::string why; // of the last failed read
    for (int attempt = 0; !image && !prepared && attempt < 20; ++attempt) {
        int32_t status = IMG_UNKNOWN;
        image = LoadTga(attempt == 0 ? path.c_str() : platform::ResolvePathCase(fullPath).c_str(),
                        &status, &why);
        if (image && status == IMG_OK)
            break;
        FreeImage(image);
        image = nullptr;
        Report(FrameProgress::Step::Retrying, number, name, attempt);
        std::this_thread::sleep_for(std::chrono::milliseconds(100));
    }
    if (!image && !prepared && lenient_) {
        // What a failed game left half-written is no frame: passed over (and deleted at the
        // end with the rest).
        busy_ = false;
        return true;
    }
    if (!image && !prepared) {
        platform::LogFailure("collector", "cannot read the screenshot " + path + ": " + why);
        return Fail("Error reading a generated TGA file.");
    }
    const int32_t position = frameCounter_++;
    int32_t bytes = 0;
    const bool ok = prepared ? Writer->WritePreparedFrame(*prepared, position, &bytes)
                             : Writer->WriteFrame(image, position, &bytes);
    bytesWritten_ += bytes;
    FreeImage(image);
    if (!ok) {
        platform::LogFailure("collector", "frame " + std::to_string(position) + " from " + path +
                                              " was not written");
        DropReadAhead();
        return Fail("Error writing AVI frame to output file.");
    }
    ++framesWritten_;
    if (Consume)
        TruncateFile(fullPath);
    busy_ = false;
    return true;
}

bool TDirThread::TakeCapture() {
    // The engine ends a recording file before it grows past 2 GB and goes on in a new one,
    // named after the last with "_" appended: they are taken in turn.
    std::unique_ptr<SoundFit> sound;
    bool first = true;
    for (std::string file = captureFile_; first || platform::FileExists(file); file += '_') {
        const std::string next = file + '_';
        platform::GameCaptureReader::Waits waits;
        // A file is complete once the game has ended or has gone on in the next one.
        waits.writerDone = [this, next] { return gameEnded_ || platform::FileExists(next); };
        waits.cancelled = [this] { return terminated_.load(); };
        waits.pause = [this] { Pause(kCaptureWaitMs); };
        // Read while the game writes it, the file gives back the disk space of what has
        // been taken, so that it holds little more than the frames not yet taken.
        const std::unique_ptr<platform::GameCaptureReader> capture =
            platform::GameCaptureReader::Open(file, std::move(waits), Consume, nullptr);
        if (!capture)
            break; // no capture the game got to write: no frames from it
        // The game's sound goes with its frames as the video's second stream.
        if (first && Writer && capture->Sound())
            sound = AddSound(*capture->Sound());
        first = false;
        if (!TakeCaptureFile(*capture, file.substr(file.find_last_of(platform::kPathSep) + 1),
                             sound.get()))
            return false;
        if (terminated_)
            break;
    }
    if (sound && !sound->Finish())
        return Fail("Error writing AVI frame to output file.");
    return true;
}

std::unique_ptr<SoundFit> TDirThread::AddSound(const platform::CaptureSound& sound) {
    const double engineRate = engineFrameRate_ > 0 ? engineFrameRate_ : Writer->Fps;
    CAviFile* writer = Writer;
    std::string why;
    std::unique_ptr<SoundFit> fit = SoundFit::Create(
        sound, engineRate, Writer->Fps,
        [writer](const uint8_t* data, int32_t bytes) { return writer->WriteSound(data, bytes); },
        &why);
    if (!fit) {
        platform::LogFailure("collector", "the video has no sound: " + why);
        return nullptr;
    }
    if (!Writer->AddSound(sound.samplesPerSecond, sound.channels, sound.bitsPerSample))
        return nullptr;
    return fit;
}

bool TDirThread::Fail(const std::string& text) {
    failureText_ = text;
    failed_ = true;
    Report(FrameProgress::Step::Failed);
    ErrorBox(text);
    Terminate();
    return false;
}

bool TDirThread::TakeCaptureFile(platform::GameCaptureReader& capture, const std::string& name,
                                 SoundFit* sound) {
    for (;;) {
        switch (capture.Next()) {
        case platform::GameCaptureReader::Item::Picture: {
            if (!Writer)
                return Fail("Internal error. Aborting.");
            const int32_t position = frameCounter_++;
            Report(FrameProgress::Step::Writing, position, name);
            int32_t bytes = 0;
            const bool ok = Writer->WritePicture(capture.Picture(), position, &bytes);
            bytesWritten_ += bytes;
            if (!ok) {
                return Fail("Error writing AVI frame to output file.");
            }
            ++framesWritten_;
            if (sound && !sound->Picture())
                return Fail("Error writing AVI frame to output file.");
            break;
        }
        case platform::GameCaptureReader::Item::Sound:
            if (sound && !sound->Sound(capture.SoundData(), capture.SoundBytes()))
                return Fail("Error writing AVI frame to output file.");
            break;
        case platform::GameCaptureReader::Item::End:
        case platform::GameCaptureReader::Item::Cancelled:
            return true;
        case platform::GameCaptureReader::Item::Error:
            return Fail("Error reading the video the game recorded.");
        }
    }
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
