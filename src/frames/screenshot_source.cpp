#include "frames/screenshot_source.h"

#include <algorithm>
#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <mutex>
#include <thread>

#include "platform/fs.h"
#include "platform/log.h"

namespace vexo {

namespace {

constexpr auto kSettleTime = std::chrono::milliseconds(10);

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
struct ScreenshotSource::ReadAhead {
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

ScreenshotSource::ScreenshotSource() = default;

ScreenshotSource::~ScreenshotSource() {
    End();
}

void ScreenshotSource::Begin() {
    taken_.clear();
    idle_ = 0;
}

void ScreenshotSource::End() {
    readAhead_.reset(); // ends the reader thread
    prepared_[0].reset();
    prepared_[1].reset();
    ownFrame_.reset();
    reader_.Close();
}

// The directory lists in no particular order: the files are taken in ascending order of
// their full paths, compared without regard to case.
std::vector<std::string> ScreenshotSource::List() const {
    const std::string sep(1, platform::kPathSep);
    std::vector<std::string> found = platform::FindMatches(directory_ + sep + mask_, false);
    std::erase_if(found, [&](const std::string& name) {
        return passOver_.count(directory_ + sep + name) != 0;
    });
    std::sort(found.begin(), found.end(), LessNoCase);
    return found;
}

bool ScreenshotSource::Scan(FrameFeed& feed) {
    const std::string sep(1, platform::kPathSep);
    std::vector<std::string> names = List();
    if (names.empty() && !feed.GameEnded())
        return true; // nothing there yet: not an idle look
    // Once the game has ended nothing more will come: a look that finds nothing is idle too,
    // so a game that wrote no frame at all does not keep the collector waiting.
    int written = 0;
    // The search goes on as long as it finds files past the last one it reached, so that
    // screenshots the game writes while the search is taking others are taken in the same
    // search, as a search of the directory itself returns new entries ahead of it.
    std::string reached;
    for (bool more = true, failed = false; more && !failed && !feed.Stopping();) {
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
            if (taken_.count(full))
                continue;
            taken_.insert(full); // before handling: never taken twice, even if it fails
            // The file this search will take next, so that it can be read meanwhile.
            std::string next;
            for (size_t j = i + 1; j < names.size(); ++j) {
                if (names[j].empty() || names[j][0] == '.')
                    continue;
                const std::string candidate = directory_ + sep + names[j];
                if (!taken_.count(candidate) && !EqualNoCase(candidate, full)) {
                    next = candidate;
                    break;
                }
            }
            if (!TakeFile(feed, full, name, next)) {
                failed = true; // this search ends; a read or write failure ends the collector
                break;
            }
            ++written;
        }
        if (more && !failed && !feed.Stopping())
            names = List();
    }
    if (feed.Stopping())
        return false;
    if (written == 0) {
        feed.Report(FrameProgress::Step::Sensing);
        if (++idle_ > 2)
            return false;
    }
    return true;
}

// Frames to make the screenshots into, once the first frame has fixed the stream's format.
void ScreenshotSource::MakePreparedFrames(FrameFeed& feed) {
    if (prepared_[1])
        return;
    // The reader's two frames share one compressor. Where they come complete, the two
    // threads take the frames in turn and this thread makes its own in a third (compressed
    // by the stream itself); elsewhere the reader makes nearly every frame and this thread
    // reads the few others as images into the stream's own buffer.
    auto first = feed.NewPreparedFrame(true);
    auto second = first ? feed.NewPreparedFrame(true, first.get()) : nullptr;
    if (!second)
        return; // not yet (or no memory, or pictures wanted): images as before
    if (second->CompletesApart() && !(ownFrame_ = feed.NewPreparedFrame(false)))
        return;
    prepared_[0] = std::move(first);
    prepared_[1] = std::move(second);
}

void ScreenshotSource::StartReadAhead(const std::string& fullPath) {
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

ScreenshotSource::ReadResult ScreenshotSource::TakeReadAhead(const std::string& fullPath,
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

void ScreenshotSource::DropReadAhead() {
    if (readAhead_)
        FreeImage(readAhead_->Finish().image);
}

bool ScreenshotSource::TakeFile(FrameFeed& feed, const std::string& fullPath,
                                const std::string& name, const std::string& nextPath) {
    if (!feed.HasWriter()) {
        feed.Refuse("Internal error. Aborting.");
        return false;
    }
    const int32_t number = feed.FramesTaken();
    feed.Report(FrameProgress::Step::Writing, number, name);
    const std::string path = platform::ResolvePathCase(fullPath);
    const std::chrono::nanoseconds settle = SettleWait(path);
    if (settle > std::chrono::nanoseconds::zero())
        std::this_thread::sleep_for(settle);

    MakePreparedFrames(feed);
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
        feed.Report(FrameProgress::Step::Retrying, number, name, attempt);
        std::this_thread::sleep_for(std::chrono::milliseconds(100));
    }
    if (!image && !prepared && feed.Lenient()) {
        // What a failed game left half-written is no frame: passed over (and deleted at the
        // end with the rest).
        return true;
    }
    if (!image && !prepared) {
        platform::LogFailure("collector", "cannot read the screenshot " + path + ": " + why);
        return feed.Fail("Error reading a generated TGA file.");
    }
    Frame frame;
    frame.image = image;
    frame.prepared = prepared;
    if (prepared)
        frame.image = nullptr;
    const bool ok = feed.Deliver(frame);
    FreeImage(image);
    if (!ok) {
        platform::LogFailure("collector", "frame " + std::to_string(number) + " from " + path +
                                              " was not written");
        DropReadAhead();
        return feed.Fail("Error writing AVI frame to output file.");
    }
    if (Consume)
        TruncateFile(fullPath);
    return true;
}

bool TruncateFile(const std::string& path) {
    std::FILE* f = std::fopen(platform::ResolvePathCase(path).c_str(), "wb");
    if (!f)
        return false;
    std::fclose(f);
    return true;
}

void ScreenshotSource::DeleteTaken() {
    if (Consume)
        for (const std::string& path : taken_)
            platform::DeleteFileAt(path);
    taken_.clear();
}

} // namespace vexo
