// The screenshots the game writes into its screenshot folder, as a source of frames: the
// files are taken in the order of their names (without regard to case), each once, when the
// game has had time to finish it, read ahead while the frame before is written, retried when
// they cannot be read yet, emptied once used and deleted at the end.
#pragma once

#include <memory>
#include <set>
#include <string>
#include <vector>

#include "frames/frame_feed.h"
#include "frames/tga.h"
#include "util/no_case.h"

namespace vexo {

class ScreenshotSource {
public:
    ScreenshotSource();
    ~ScreenshotSource();
    ScreenshotSource(const ScreenshotSource&) = delete;
    ScreenshotSource& operator=(const ScreenshotSource&) = delete;

    void SetDirectory(const std::string& directory) { directory_ = directory; }
    void SetMask(const std::string& mask) { mask_ = mask; }
    // Whether used screenshots are emptied and, at the end, deleted (the program's way).
    bool Consume = true;
    // Files never taken, never deleted (see TDirThread::SetPassOver).
    void PassOver(const std::vector<std::string>& fullPaths) {
        passOver_.insert(fullPaths.begin(), fullPaths.end());
    }

    // Starts a demo's frames afresh.
    void Begin();
    // One look into the folder, taking every new screenshot in order (and those the game
    // writes meanwhile). False when the source is done: the third look in all that found
    // nothing new, or a frame that could not be read or written.
    bool Scan(FrameFeed& feed);
    // Ends the reading ahead and lets go of the frames made ahead.
    void End();
    // Deletes every screenshot taken (when consuming).
    void DeleteTaken();

private:
    struct ReadAhead;
    struct ReadResult {
        TgaImage* image = nullptr;                   // the screenshot as read, or
        CAviFile::PreparedFrame* prepared = nullptr; // the frame made of it
    };
    std::vector<std::string> List() const;
    bool TakeFile(FrameFeed& feed, const std::string& fullPath, const std::string& name,
                  const std::string& nextPath);
    // Reading the next screenshot while the current frame is written: started only for a
    // file the game has finished with, and taken only if the file is still the same. Once
    // the first frame has fixed the stream's format, the screenshot is also made into a
    // frame there (converted, and compressed where the compressor allows).
    void MakePreparedFrames(FrameFeed& feed);
    void StartReadAhead(const std::string& fullPath);
    ReadResult TakeReadAhead(const std::string& fullPath, const std::string& path);
    void DropReadAhead();

    std::string directory_;
    std::string mask_;
    std::set<std::string, decltype(&LessNoCase)> taken_{&LessNoCase};
    std::set<std::string, decltype(&LessNoCase)> passOver_{&LessNoCase};
    int idle_ = 0; // looks that found files but took none; never reset
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
