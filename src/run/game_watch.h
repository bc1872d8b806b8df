// A recording's game from its launch to its end: the engine's own recording files around
// it, and the watch that reads the game's console while it runs.
#pragma once

#include <functional>
#include <string>

#include "frames/dir_thread.h"
#include "game/engine_console.h"
#include "game/game_script.h"
#include "platform/process.h"

namespace vexo {

// A native engine's recording of one demo: a file of a fixed name in the modification's
// "videos" folder. One left from before is removed before the game starts; the file, and the
// folder when the engine made it, go again once the demo is done, however it ended.
class EngineCapture {
public:
    explicit EngineCapture(const RunPaths& paths);
    ~EngineCapture();
    EngineCapture(const EngineCapture&) = delete;
    EngineCapture& operator=(const EngineCapture&) = delete;

private:
    void DeleteFiles() const;

    std::string file_;
    std::string folder_;
    bool folderExisted_;
};

// How a recording's game came to its end.
enum class GameEnd {
    Ended,     // the game ended by itself
    Finished,  // the demo was played to its end and the game stayed (in its menu); it was ended
    Error,     // the engine reported an error that ended the demo; the game was ended
    LeftEarly, // the demo was left before its end; the game was ended
    Stalled,   // nothing was recorded for a long time; the game was ended
    Stopped,   // the user stopped the run; the game was ended
};

// Waits for a recording's game to end, reading its console as it goes. A game that reports
// an error, leaves its demo early or records nothing for a long time waits in its menu for
// a player who may not be there: it is ended, as it is when the user stops the run.
class GameWatch {
public:
    // markerAsked: the game script has the game say when the demo was played to its end.
    // pump runs between looks (every 80 ms at most); stop tells whether the user asked the
    // run to stop.
    GameWatch(const RunPaths& paths, bool markerAsked, std::function<void()> pump,
              std::function<bool()> stop);
    GameEnd Wait(platform::Process& game, const TDirThread& worker, EngineConsole& console);
    // Whether the engine has closed its recording for good: the last file it closed is not
    // followed by a next one.
    bool RecordingEnded(const EngineConsole& console) const;

private:
    int64_t RecordingProgress(const TDirThread& worker) const;

    const RunPaths& paths_;
    bool markerAsked_;
    std::function<void()> pump_;
    std::function<bool()> stop_;
};

// How long a game may record nothing at all before it is taken for one that will never play
// its demo, in seconds.
int StallSeconds();

} // namespace vexo
