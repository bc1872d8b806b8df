// What vexo-record tells while it records: on a terminal one line per demo under way with a
// live progress bar and the time left, otherwise one plain line per event; with --json one
// JSON object per demo on standard output besides.
#pragma once

#include <chrono>
#include <cstdint>
#include <cstdio>
#include <functional>
#include <map>
#include <optional>
#include <string>
#include <vector>

#include "run/run_request.h"

namespace vexo::record {

// The events of a batch of demos, from the run in this program or from a job's program.
class DemoEvents {
public:
    virtual ~DemoEvents() = default;
    // length: the demo's length in seconds of the game's time, when it is known.
    virtual void Started(const std::string& demo, std::optional<double> length) = 0;
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

// The demo's place in the game in seconds: each frame of the video is 1 / capture rate seconds
// of the game's own time at timescale 1, timescale x that at another. With motion blur the
// game captures more pictures, but each frame of the video still stands for 1 / capture rate.
double DemoSeconds(int32_t frames, double captureRate, double timeScale);
// The time left of a demo of length seconds at position seconds, at the pace since its first
// frames came: it moved on by `moved` seconds of the demo in `seconds`. The pace of frames,
// not the time since the game started: without Realtime the frames come only after the game
// has played the demo, and the engine's start takes a while of its own. Nothing before the
// demo has moved on or when its length is unknown.
std::optional<double> TimeLeft(double seconds, double moved, double position,
                               std::optional<double> length);
// "M:SS", or "H:MM:SS" from an hour on.
std::string ClockText(double seconds);

class BatchDisplay : public DemoEvents {
public:
    // out: where the human lines go; live: redraw the lines of the demos under way (a
    // terminal); json: one JSON object per demo on standard output.
    BatchDisplay(std::FILE* out, bool live, bool json, int demos, double captureRate,
                 double timeScale);

    void Started(const std::string& demo, std::optional<double> length) override;
    void Status(const std::string& demo, const std::string& text) override;
    void Progress(const std::string& demo, int32_t frames) override;
    void Finished(const DemoReport& report, bool stopped) override;
    void Note(const std::string& text) override;
    // Redraws the live lines (at most ten times a second) or writes a plain line of progress
    // for each demo whose frames moved on (every ten seconds).
    void Tick() override;
    // The closing lines: how many demos were recorded, and each one that was not, with why.
    void Summary(const std::vector<DemoReport>& reports, bool stopped);

    // The text of a demo's live line, cut to width characters (0: not cut): its progress bar
    // and share, frames, place in the demo of its length, the time taken and the time left.
    std::string LiveLine(const std::string& demo, int width) const;
    // The clock the times are taken from (the steady clock unless a test sets another).
    void SetClock(std::function<std::chrono::steady_clock::time_point()> now) {
        now_ = std::move(now);
    }

private:
    struct Under {
        std::optional<double> length;
        std::chrono::steady_clock::time_point started;
        std::string status;
        int32_t frames = 0;
        int32_t framesTold = 0;
        // When frames first came, and how many.
        std::chrono::steady_clock::time_point firstAt;
        int32_t firstFrames = 0;
        std::chrono::steady_clock::time_point told;
    };
    // The time left of a demo under way, now.
    std::optional<double> LeftOf(const Under& u) const;
    // "N frames, P of L s into the demo, H:MM:SS elapsed" of a demo under way, now.
    std::string Where(const Under& u) const;
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
    std::function<std::chrono::steady_clock::time_point()> now_ = std::chrono::steady_clock::now;
};

} // namespace vexo::record
