// vexo-record: records demos into AVI videos with the game, without a window, on the same
// recording run as the window: for a shell, a script or a job runner.
#include <algorithm>
#include <charconv>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <mutex>
#include <string>
#include <unistd.h>
#include <vector>

#include "controls/main_controls.h"
#include "display.h"
#include "frames/avi_file.h"
#include "game/engine.h"
#include "game/game_script.h"
#include "jobs.h"
#include "options.h"
#include "platform/fs.h"
#include "platform/log.h"
#include "platform/memory.h"
#include "report_json.h"
#include "run/recording_guard.h"
#include "run/run_driver.h"
#include "virtual_display.h"

namespace {

using namespace vexo;
using namespace vexo::record;

volatile std::sig_atomic_t g_signal = 0;
volatile std::sig_atomic_t g_hardExit = 1;

// The first signal asks the recording to stop; a second one ends the program at once (the
// game and the virtual display end with it; the next start puts right what it left).
void OnSignal(int sig) {
    if (g_signal != 0 && g_hardExit)
        ::_exit(128 + sig);
    g_signal = sig;
}

void CatchSignals(bool hardExitOnSecond) {
    g_hardExit = hardExitOnSecond ? 1 : 0;
    struct sigaction action {};
    action.sa_handler = OnSignal;
    sigemptyset(&action.sa_mask);
    action.sa_flags = SA_RESTART;
    for (int sig : {SIGINT, SIGTERM, SIGHUP})
        ::sigaction(sig, &action, nullptr);
}

// Said once, when the first signal arrives.
void TellStopping(DemoEvents& events) {
    static bool told = false;
    // A job's recorder leaves this to the recorder that started it.
    if (g_signal == 0 || told || !g_hardExit)
        return;
    told = true;
    events.Note("Stopping: the game is ended and what was recorded of the demo under way is "
                "kept as its failed video. A second Ctrl-C quits at once.");
}

// Lines the log gets on any thread, handed over on the main thread.
class LogLines {
public:
    LogLines() {
        platform::SetLogToStandardError(false);
        platform::SetLogListener([this](const std::string& line) {
            std::lock_guard<std::mutex> lock(mutex_);
            lines_.push_back(line);
        });
    }
    ~LogLines() { platform::SetLogListener({}); }
    LogLines(const LogLines&) = delete;
    LogLines& operator=(const LogLines&) = delete;

    std::vector<std::string> Take() {
        std::lock_guard<std::mutex> lock(mutex_);
        return std::exchange(lines_, {});
    }

private:
    std::mutex mutex_;
    std::vector<std::string> lines_;
};

std::string OneLine(std::string text) {
    for (char& c : text)
        if (c == '\n' || c == '\r')
            c = ' ';
    return text;
}

// The run's observer: everything it says goes to the events, no question is asked of
// anybody, and a signal is a request to stop.
class RecordObserver : public RunObserver {
public:
    RecordObserver(DemoEvents& events, LogLines& log) : events_(events), log_(log) {}

    void Begin(const RunDemo& demo) {
        demo_ = demo.Item;
        report_.reset();
        early_.clear();
    }
    // The run ended without a word about its demo: a check before the game refused it.
    bool Refused() const { return !report_.has_value(); }
    const std::optional<DemoReport>& Report() const { return report_; }
    const std::vector<std::string>& Failures() const { return early_; }

    void Status(const std::string& text) override { events_.Status(demo_, text); }
    void Title(const std::string&) override {}
    void Progress(const FrameProgress& p) override {
        if (p.step == FrameProgress::Step::Writing)
            events_.Progress(demo_, p.framesWritten);
    }
    bool Ask(const std::string& text, const std::string& caption) override {
        events_.Note(caption + ": " + OneLine(text) +
                     " Answered no: vexo-record asks nobody and takes the safe answer.");
        return false;
    }
    void Failure(const std::string& text) override {
        // A failure told after the demo's report is that report's reason again.
        if (!report_)
            early_.push_back(OneLine(text));
    }
    void OpenFolder(const std::string&) override {}
    void RunStarts() override {}
    void RunEnds() override {}
    void DemoRecorded(const RunDemo&) override {}
    void DemoFinished(const DemoReport& report) override {
        Pump();
        for (const std::string& text : early_)
            events_.Note(demo_ + ": " + text);
        report_ = report;
        events_.Finished(report, g_signal != 0 && !report.Recorded);
    }
    void Pump() override {
        TellStopping(events_);
        for (const std::string& line : log_.Take())
            events_.Note("log: " + line);
        events_.Tick();
    }
    bool StopRequested() override { return g_signal != 0; }

private:
    DemoEvents& events_;
    LogLines& log_;
    std::string demo_;
    std::optional<DemoReport> report_;
    std::vector<std::string> early_;
};

int Usage(const std::string& problem) {
    std::fprintf(stderr, "vexo-record: %s\n(vexo-record --help lists the options)\n",
                 problem.c_str());
    return 2;
}

double NumberOf(const std::string& text) {
    double value = 0;
    const std::string number = TimeScaleForScript(text);
    std::from_chars(number.data(), number.data() + number.size(), value);
    return value;
}

} // namespace

int main(int argc, char** argv) {
    platform::ReturnLargeBlocksWhenFreed();
    RecordOptions options;
    std::string error;
    if (!ParseArguments(argc, argv, options, error))
        return Usage(error);
    if (options.help) {
        std::fputs(kUsage, stdout);
        return 0;
    }
    if (options.listCompressors) {
        std::fputs(CompressorList().c_str(), stdout);
        return 0;
    }
    LogLines log;
    if (!ResolveOptions(options, error))
        return Usage(error);
    if (options.listDemos) {
        for (const std::string& demo : ListedDemos(options))
            std::printf("%s\n", demo.c_str());
        return 0;
    }
    if (options.demos.empty() && !options.all)
        return Usage("no demo to record: name demos, give their files, or --all");
    if (options.job && options.demos.size() != 1)
        return Usage("--job records one demo");

    CatchSignals(!options.job);
    std::FILE* human = options.json ? stderr : stdout;
    DemoSelection selection;
    if (!selection.Select(options, error))
        return Usage(error);
    const std::vector<RunDemo>& demos = selection.Demos();
    if (demos.empty())
        return Usage("the modification " + *options.mod + " has no demos to record");
    if (!platform::DirectoryExists(*options.output) &&
        !platform::CreateDirectoryPath(*options.output))
        return Usage("the output folder " + *options.output +
                     " cannot be made: " + platform::SystemErrorText(errno));

    BatchDisplay display(human, ::isatty(::fileno(human)) != 0, options.json,
                         static_cast<int>(demos.size()), *options.fps,
                         NumberOf(*options.timeScale));
    JobEvents jobEvents;
    DemoEvents& events = options.job ? static_cast<DemoEvents&>(jobEvents) : display;
    if (!options.job)
        for (const std::string& done : RecoverInterruptedRecordings())
            events.Note(done);
    for (const std::string& line : log.Take())
        events.Note("log: " + line);

    int jobs = std::min<int>(options.jobs, static_cast<int>(demos.size()));
    if (jobs > 1 && !FindGameEngine(*options.game).Native) {
        events.Note("The original game writes the screenshots of every demo into one shared "
                    "folder: the demos are recorded one at a time.");
        jobs = 1;
    }
    std::vector<DemoReport> reports;
    int notStarted = 0;
    bool refused = false;
    if (jobs > 1) {
        notStarted = RunJobs(
            options, demos, jobs, display,
            [&] {
                TellStopping(display);
                for (const std::string& line : log.Take())
                    display.Note("log: " + line);
                display.Tick();
            },
            [] { return static_cast<int>(g_signal); }, reports);
    } else {
        VirtualDisplay screen;
        const char* shown = std::getenv("DISPLAY");
        if (!shown || !*shown) {
            const auto& items = ResolutionItems();
            const std::string size = items[*options.mode].substr(5);
            const int width = std::atoi(size.c_str());
            const int height = std::atoi(size.substr(size.find('x') + 1).c_str());
            if (!screen.Start(width, height, error))
                return Usage("there is no display (DISPLAY is not set) and a virtual one "
                             "cannot be started: " +
                             error);
            events.Note("No display: the game runs on the virtual display " + screen.Name() + ".");
        }
        RunRequest request = RequestFor(options, "_" + std::to_string(::getpid()));
        CAviFile writer;
        RecordObserver observer(events, log);
        for (const RunDemo& demo : demos) {
            if (g_signal != 0) {
                ++notStarted;
                continue;
            }
            request.Demos = {demo};
            observer.Begin(demo);
            // A job's recorder leaves the demo's length to the recorder that started it.
            events.Started(demo.Item,
                           options.job ? std::nullopt : ListedDemoLength(options, demo.Item));
            RunRecording(request, observer, writer);
            observer.Pump();
            if (observer.Refused()) {
                std::string why;
                for (const std::string& text : observer.Failures())
                    why += (why.empty() ? "" : " ") + text;
                events.Note("vexo-record: " + (why.empty() ? "the recording could not start "
                                                             "(the lines above say why)"
                                                           : why));
                refused = true;
                break;
            }
            reports.push_back(*observer.Report());
        }
    }
    if (refused) {
        if (!options.job && !reports.empty())
            display.Summary(reports, false);
        return 2;
    }
    const bool stopped = g_signal != 0;
    for (size_t i = demos.size() - notStarted; i < demos.size(); ++i) {
        DemoReport report;
        report.Demo = demos[i];
        report.Reason = "The recording was stopped before this demo's turn.";
        events.Finished(report, true);
        reports.push_back(report);
    }
    if (!options.job)
        display.Summary(reports, stopped);
    if (stopped)
        return 128 + g_signal;
    for (const DemoReport& r : reports)
        if (!r.Recorded)
            return 1;
    return 0;
}
