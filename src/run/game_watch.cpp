#include "run/game_watch.h"

#include <chrono>
#include <thread>

#include "platform/fs.h"

namespace vexo {

namespace {

constexpr char kSep = platform::kPathSep;

// Loading a large map on a slow machine takes well under a minute.
constexpr int kStallSeconds = 120;
int g_stallSeconds = kStallSeconds;
// How long a game that has played its demo to the end is given to quit by itself.
constexpr int kStaySeconds = 5;

} // namespace

int StallSeconds() {
    return g_stallSeconds;
}

void SetStallSecondsForTesting(int seconds) {
    g_stallSeconds = seconds > 0 ? seconds : kStallSeconds;
}

EngineCapture::EngineCapture(const RunPaths& paths)
    : file_(paths.CaptureFile), folder_(paths.CaptureDir),
      folderExisted_(platform::DirectoryExists(folder_)) {
    DeleteFiles();
}

EngineCapture::~EngineCapture() {
    DeleteFiles();
    if (!folderExisted_)
        platform::RemoveEmptyDirectory(folder_);
}

// The recording, the files it goes on in past 2 GB (its name with "_" appended) and the
// index the engine keeps beside each while it writes (".index.dat" appended).
void EngineCapture::DeleteFiles() const {
    const std::string name = file_.substr(file_.find_last_of(kSep) + 1);
    for (const std::string& found : platform::FindMatches(folder_ + kSep + name + "*", false))
        platform::DeleteFileAt(folder_ + kSep + found);
}

GameWatch::GameWatch(const RunPaths& paths, bool markerAsked, std::function<void()> pump,
                     std::function<bool()> stop)
    : paths_(paths), markerAsked_(markerAsked), pump_(std::move(pump)), stop_(std::move(stop)) {}

GameEnd GameWatch::Wait(platform::Process& game, const TDirThread& worker, EngineConsole& console) {
    using Clock = std::chrono::steady_clock;
    auto lastProgress = Clock::now();
    auto nextLook = lastProgress;
    Clock::time_point closedAt{};
    Clock::time_point completedAt{};
    bool closing = false;   // a file of the recording was closed at closedAt
    std::string closedFile; // the last file closed that the recording went on after
    int64_t progress = -1;
    GameEnd end = GameEnd::Ended;
    while (!game.Wait(80)) {
        pump_();
        for (const std::string& line : game.TakeOutputLines())
            console.Feed(line);
        const auto now = Clock::now();
        if (console.DemoCompleted() && completedAt == Clock::time_point{})
            completedAt = now;
        if (stop_())
            end = GameEnd::Stopped;
        else if (!console.Error().empty())
            end = GameEnd::Error;
        else if (completedAt != Clock::time_point{}) {
            // The demo was played to its end and the engine has closed its recording. The
            // game quits now where its config says "quit" after a demo; one whose config
            // says nothing waits in its menu for a player, so it is ended here.
            if (now - completedAt > std::chrono::seconds(kStaySeconds))
                end = GameEnd::Finished;
        } else if (!console.ClosedRecording().empty() && !console.DemoCompleted() && markerAsked_ &&
                   closedFile != console.ClosedRecording()) {
            // The end of a demo closes the recording too, and the marker follows at once;
            // a file closed because it grew too large is followed by the next file at once.
            if (!closing) {
                closing = true;
                closedAt = now;
            } else if (now - closedAt > std::chrono::seconds(3)) {
                if (RecordingEnded(console))
                    end = GameEnd::LeftEarly;
                closedFile = console.ClosedRecording(); // went on in the next file
                closing = false;
            }
        } else if (now >= nextLook) {
            nextLook = now + std::chrono::seconds(1);
            const int64_t seen = RecordingProgress(worker);
            if (seen != progress) {
                progress = seen;
                lastProgress = now;
            } else if (now - lastProgress > std::chrono::seconds(g_stallSeconds)) {
                end = GameEnd::Stalled;
            }
        }
        if (end != GameEnd::Ended) {
            game.Terminate();
            game.Wait(-1);
            break;
        }
    }
    // What the game wrote last, its error among it, may still be on its way.
    const auto until = Clock::now() + std::chrono::seconds(1);
    while (!game.OutputClosed() && Clock::now() < until)
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    for (const std::string& line : game.TakeOutputLines())
        console.Feed(line);
    return end;
}

bool GameWatch::RecordingEnded(const EngineConsole& console) const {
    const std::string& closed = console.ClosedRecording();
    return !closed.empty() && !platform::FileExists(paths_.CaptureDir + kSep + closed + "_");
}

// A number that grows while the game records: the frames the collector took, the size of
// the engine's recording (with the files it goes on in past 2 GB) and the screenshots
// waiting in the folder.
int64_t GameWatch::RecordingProgress(const TDirThread& worker) const {
    int64_t progress = worker.FrameCounter();
    for (std::string file = paths_.CaptureFile;; file += '_') {
        const platform::FileStamp capture = platform::StampOf(file);
        if (!capture.valid)
            break;
        progress += capture.size;
    }
    return progress +
           platform::CountMatchingFiles(paths_.ScreenshotDir + kSep + paths_.ScreenshotMask);
}

} // namespace vexo
