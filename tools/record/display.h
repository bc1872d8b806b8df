// What vexo-record tells while it records: on a terminal one line per demo under way with a
// live progress indicator, otherwise one plain line per event; with --json one JSON object
// per demo on standard output besides.
#pragma once

#include <chrono>
#include <cstdint>
#include <cstdio>
#include <map>
#include <string>
#include <vector>

#include "run/run_request.h"

namespace vexo::record {

// The events of a batch of demos, from the run in this program or from a job's program.
class DemoEvents {
public:
    virtual ~DemoEvents() = default;
    virtual void Started(const std::string& demo) = 0;
    // A step of the run ("Launching Quake III...").
    virtual void Status(const std::string& demo, const std::string& text) = 0;
    // The frames of the demo in its video so far.
    virtual void Progress(const std::string& demo, int32_t frames) = 0;
    // How the demo ended; stopped: by a signal.
    virtual void Finished(const DemoReport& report, bool stopped) = 0;
    // A line of its own: a log line, a question answered, a notice.
    virtual void Note(const std::string& text) = 0;
    // Called often while a demo records.
    virtual void Tick() {}
};

// The demo's place in the game in seconds: each frame the game captures is 1 / capture rate
// seconds of the game's own time at timescale 1, timescale x that at another.
double DemoSeconds(int32_t frames, double captureRate, double timeScale);
// "M:SS", or "H:MM:SS" from an hour on.
std::string ClockText(double seconds);

class BatchDisplay : public DemoEvents {
public:
    // out: where the human lines go; live: redraw the lines of the demos under way (a
    // terminal); json: one JSON object per demo on standard output.
    BatchDisplay(std::FILE* out, bool live, bool json, int demos, double captureRate,
                 double timeScale);

    void Started(const std::string& demo) override;
    void Status(const std::string& demo, const std::string& text) override;
    void Progress(const std::string& demo, int32_t frames) override;
    void Finished(const DemoReport& report, bool stopped) override;
    void Note(const std::string& text) override;
    // Redraws the live lines (at most ten times a second) or writes a plain line of progress
    // for each demo whose frames moved on (every ten seconds).
    void Tick() override;
    // The closing lines: how many demos were recorded, and each one that was not, with why.
    void Summary(const std::vector<DemoReport>& reports, bool stopped);

    // The text of a demo's live line, cut to width characters (0: not cut).
    std::string LiveLine(const std::string& demo, int width) const;

private:
    struct Under {
        std::chrono::steady_clock::time_point started;
        std::string status;
        int32_t frames = 0;
        int32_t framesTold = 0;
        std::chrono::steady_clock::time_point told;
    };
    void Line(const std::string& text);
    void Clear();
    void Draw();

    std::FILE* out_;
    bool live_;
    bool json_;
    int demos_;
    int started_ = 0;
    double captureRate_;
    double timeScale_;
    std::vector<std::string> order_; // the demos under way, in the order they started
    std::map<std::string, Under> under_;
    int drawn_ = 0; // live lines on the screen below the last plain line
    unsigned spin_ = 0;
    std::chrono::steady_clock::time_point lastDraw_{};
};

} // namespace vexo::record
