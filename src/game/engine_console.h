// What a game says on its console while it records a demo. Engines of the ioquake3 family
// write their console to standard error; the run reads it line by line to learn what the
// game cannot say through its exit code: that the demo could not be played (the engine
// shows its error and waits in its menu), that the demo was played to its end, or that its
// recording was closed before that (the player left the demo in the game).
#pragma once

#include <deque>
#include <string>
#include <utility>

#include "game/engine.h"

namespace vexo {

// What the game script has the game print when the demo has been played to its end (the
// engine runs "nextdemo" only then, never when a demo is left early).
inline constexpr const char* kDemoEndMarker = "vexo_demo_complete";

class EngineConsole {
public:
    // captureName: what the engine's recording is called (RunPaths::CaptureName).
    explicit EngineConsole(std::string captureName = kEngineCaptureName)
        : captureName_(std::move(captureName)) {}

    // One line of the game's console output, as it was written (colour codes and all).
    void Feed(const std::string& line);

    // The reason the engine gave for an error that ended the demo ("couldn't open
    // demos/x.dm_66"), without colour codes; empty while there was none.
    const std::string& Error() const { return error_; }
    // True once the game has said that the demo was played to its end.
    bool DemoCompleted() const { return completed_; }
    // The name of the last file of its own recording the engine closed ("Wrote N:M frames
    // to videos/vexo_capture.avi" gives "vexo_capture.avi"); a file of another name is not
    // this recording's; empty before that.
    // Past 2 GB the engine closes a file and goes on in the next, named after it with "_"
    // appended: the recording has ended only where no such next file follows.
    const std::string& ClosedRecording() const { return closedRecording_; }
    // The pictures the engine said the files it closed hold, together.
    long FramesRecorded() const { return framesRecorded_; }
    // The last lines seen (at most 20), for the log.
    std::string LastLines() const;

private:
    std::string captureName_;
    std::string error_;
    bool completed_ = false;
    std::string closedRecording_;
    long framesRecorded_ = 0;
    bool framed_ = false; // the line before was the row of stars an engine error begins with
    std::deque<std::string> last_;
};

// A console line without the game's colour codes ("^" and the character after it).
std::string WithoutColourCodes(const std::string& line);

} // namespace vexo
