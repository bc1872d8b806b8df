#include "display.h"

#include <algorithm>
#include <charconv>
#include <sys/ioctl.h>
#include <unistd.h>

#include "report_json.h"

namespace vexo::record {

namespace {

std::string Fixed(double value, int decimals) {
    char text[32];
    const auto [end, error] =
        std::to_chars(text, text + sizeof text, value, std::chars_format::fixed, decimals);
    return error == std::errc() ? std::string(text, end) : "?";
}

int TerminalWidth(std::FILE* out) {
    winsize size{};
    if (::ioctl(::fileno(out), TIOCGWINSZ, &size) == 0 && size.ws_col > 0)
        return size.ws_col;
    return 80;
}

// "[#####...............] 25%": the share of the demo played.
std::string Bar(double share) {
    constexpr int kCells = 20;
    share = std::clamp(share, 0.0, 1.0);
    const auto filled = static_cast<int>(share * kCells);
    std::string bar = "[";
    bar.append(static_cast<size_t>(filled), '#');
    bar.append(static_cast<size_t>(kCells - filled), '.');
    bar.append("] ").append(std::to_string(static_cast<int>(share * 100))).append("%");
    return bar;
}

} // namespace

double DemoSeconds(int32_t frames, double captureRate, double timeScale) {
    return captureRate > 0 ? frames * timeScale / captureRate : 0;
}

std::optional<double> TimeLeft(double seconds, double moved, double position,
                               std::optional<double> length) {
    if (!length || *length <= 0 || moved <= 0 || seconds <= 0)
        return std::nullopt;
    return std::max(0.0, seconds * (*length - position) / moved);
}

std::string ClockText(double seconds) {
    const long total = seconds > 0 ? static_cast<long>(seconds) : 0;
    const long h = total / 3600, m = total / 60 % 60, s = total % 60;
    char text[32];
    if (h > 0)
        std::snprintf(text, sizeof text, "%ld:%02ld:%02ld", h, m, s);
    else
        std::snprintf(text, sizeof text, "%ld:%02ld", m, s);
    return text;
}

BatchDisplay::BatchDisplay(std::FILE* out, bool live, bool json, int demos, double captureRate,
                           double timeScale)
    : out_(out), live_(live), json_(json), demos_(demos), captureRate_(captureRate),
      timeScale_(timeScale) {}

void BatchDisplay::Started(const std::string& demo, std::optional<double> length) {
    ++started_;
    Under& u = under_[demo];
    u = Under{};
    u.length = length;
    u.started = u.told = now_();
    order_.push_back(demo);
    if (!live_)
        Line(std::string("[")
                 .append(std::to_string(started_))
                 .append("/")
                 .append(std::to_string(demos_)) +
             "] " + demo + ": recording");
    else
        Draw();
}

void BatchDisplay::Status(const std::string& demo, const std::string& text) {
    const auto at = under_.find(demo);
    if (at == under_.end() || text.empty() || text == "Completed." || text == "Failed.")
        return;
    at->second.status = text;
    if (!live_)
        Line(demo + ": " + text);
}

void BatchDisplay::Progress(const std::string& demo, int32_t frames) {
    const auto at = under_.find(demo);
    if (at == under_.end())
        return;
    Under& u = at->second;
    if (u.firstFrames == 0 && frames > 0) {
        u.firstAt = now_();
        u.firstFrames = frames;
    }
    u.frames = frames;
}

std::optional<double> BatchDisplay::LeftOf(const Under& u) const {
    if (u.firstFrames == 0)
        return std::nullopt;
    const double seconds = std::chrono::duration<double>(now_() - u.firstAt).count();
    return TimeLeft(seconds, DemoSeconds(u.frames - u.firstFrames, captureRate_, timeScale_),
                    DemoSeconds(u.frames, captureRate_, timeScale_), u.length);
}

std::string BatchDisplay::Where(const Under& u) const {
    std::string text;
    if (u.frames > 0)
        text = std::to_string(u.frames) + " frames, " +
               Fixed(DemoSeconds(u.frames, captureRate_, timeScale_), 1) +
               (u.length ? " of " + Fixed(*u.length, 1) : "") + " s into the demo, ";
    const double elapsed = std::chrono::duration<double>(now_() - u.started).count();
    return text + ClockText(elapsed) + " elapsed";
}

std::string BatchDisplay::LiveLine(const std::string& demo, int width) const {
    const auto at = under_.find(demo);
    if (at == under_.end())
        return {};
    const Under& u = at->second;
    static const char kSpinner[] = "|/-\\";
    std::string text = demo + " " + kSpinner[spin_ % 4] + " ";
    const std::optional<double> left = LeftOf(u);
    // What matters most comes first: a narrow terminal cuts the line's end.
    if (u.length && *u.length > 0 && u.frames > 0)
        text += Bar(DemoSeconds(u.frames, captureRate_, timeScale_) / *u.length) + " ";
    text += (left ? ClockText(*left) + " left, " : "time left unknown, ") + Where(u);
    if (!u.status.empty())
        text += " - " + u.status;
    if (width > 0 && static_cast<int>(text.size()) > width)
        text.resize(width);
    return text;
}

void BatchDisplay::Finished(const DemoReport& r, bool stopped) {
    const std::string& demo = r.Demo.Item;
    under_.erase(demo);
    order_.erase(std::remove(order_.begin(), order_.end(), demo), order_.end());
    std::string text = demo + ": ";
    const std::string took = ", took " + ClockText(r.SecondsTaken);
    if (r.Recorded) {
        text += "recorded as " + r.Video + " (" + std::to_string(r.Frames) + " frames, " +
                Fixed(r.VideoSeconds, 1) + " s of video, " + (r.Sound ? "with" : "no") + " sound" +
                took + ")";
    } else {
        text += ResultWord(r, stopped) + ": " + r.Reason;
        if (!r.Video.empty())
            text += " What was recorded (" + std::to_string(r.Frames) + " frames) is kept as " +
                    r.Video + ".";
    }
    Line(text);
    if (json_) {
        std::fputs((ReportJson(r, stopped) + "\n").c_str(), stdout);
        std::fflush(stdout);
    }
}

void BatchDisplay::Note(const std::string& text) {
    Line(text);
}

void BatchDisplay::Tick() {
    const auto now = now_();
    if (live_) {
        if (now - lastDraw_ < std::chrono::milliseconds(100))
            return;
        ++spin_;
        Draw();
        return;
    }
    for (const std::string& demo : order_) {
        Under& u = under_[demo];
        if (u.frames != u.framesTold && now - u.told >= std::chrono::seconds(10)) {
            u.framesTold = u.frames;
            u.told = now;
            const std::optional<double> left = LeftOf(u);
            Line(demo + ": " + Where(u) + (left ? ", " + ClockText(*left) + " left" : ""));
        }
    }
}

void BatchDisplay::Summary(const std::vector<DemoReport>& reports, bool stopped) {
    const long recorded = std::count_if(reports.begin(), reports.end(),
                                        [](const DemoReport& r) { return r.Recorded; });
    Line("Recorded " + std::to_string(recorded) + " of " + std::to_string(reports.size()) +
         " demos." + (stopped ? " The recording was stopped by a signal." : ""));
    for (const DemoReport& r : reports)
        if (!r.Recorded)
            Line("  " + r.Demo.Item + ": " + r.Reason);
}

void BatchDisplay::Line(const std::string& text) {
    Clear();
    std::fputs((text + "\n").c_str(), out_);
    if (live_)
        Draw();
    std::fflush(out_);
}

void BatchDisplay::Clear() {
    if (drawn_ > 0)
        std::fprintf(out_, "\x1b[%dA\x1b[J", drawn_);
    drawn_ = 0;
}

void BatchDisplay::Draw() {
    Clear();
    const int width = TerminalWidth(out_) - 1;
    for (const std::string& demo : order_)
        std::fputs((LiveLine(demo, width) + "\n").c_str(), out_);
    drawn_ = static_cast<int>(order_.size());
    lastDraw_ = now_();
    std::fflush(out_);
}

} // namespace vexo::record
