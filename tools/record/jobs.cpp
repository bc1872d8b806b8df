#include "jobs.h"

#include <charconv>
#include <chrono>
#include <csignal>
#include <cstdio>
#include <optional>
#include <thread>

#include "platform/fs.h"
#include "platform/process.h"
#include "report_json.h"

namespace vexo::record {

namespace {

void Emit(const std::string& line) {
    std::fputs((line + "\n").c_str(), stdout);
    std::fflush(stdout);
}

std::string Quoted(const std::string& arg) {
    std::string quoted(1, '"');
    return quoted.append(arg).append(1, '"');
}

struct Job {
    RunDemo demo;
    platform::Process process;
    bool reported = false;
    std::vector<std::string> notes; // what it said besides its events, for a job that fails
    std::optional<std::chrono::steady_clock::time_point> endedAt;
};

// Hands a line of a job on to the display.
void Hear(Job& job, const std::string& line, DemoEvents& display,
          std::vector<DemoReport>& reports) {
    const auto members = ParseFlatJson(line);
    if (!members) {
        if (!line.empty()) {
            display.Note(job.demo.Item + ": " + line);
            job.notes.push_back(line);
        }
        return;
    }
    const auto event = members->find("event");
    if (event == members->end()) {
        if (std::optional<DemoReport> report = ReportFromJson(*members)) {
            report->Demo = job.demo;
            job.reported = true;
            reports.push_back(*report);
            display.Finished(*report, members->at("result") == "stopped");
        }
        return;
    }
    auto text = [&members](const char* key) {
        const auto at = members->find(key);
        return at == members->end() ? std::string() : at->second;
    };
    if (event->second == "status") {
        display.Status(job.demo.Item, text("text"));
    } else if (event->second == "progress") {
        int32_t frames = 0;
        const std::string n = text("frames");
        std::from_chars(n.data(), n.data() + n.size(), frames);
        display.Progress(job.demo.Item, frames);
    } else if (event->second == "note") {
        display.Note(job.demo.Item + ": " + text("text"));
        job.notes.push_back(text("text"));
    }
}

} // namespace

void JobEvents::Status(const std::string&, const std::string& text) {
    Emit("{\"event\":\"status\",\"text\":" + JsonString(text) + "}");
}

void JobEvents::Progress(const std::string&, int32_t frames) {
    if (frames == told_)
        return;
    told_ = frames;
    Emit("{\"event\":\"progress\",\"frames\":" + std::to_string(frames) + "}");
}

void JobEvents::Finished(const DemoReport& report, bool stopped) {
    Emit(ReportJson(report, stopped));
}

void JobEvents::Note(const std::string& text) {
    Emit("{\"event\":\"note\",\"text\":" + JsonString(text) + "}");
}

int RunJobs(const RecordOptions& resolved, const std::vector<RunDemo>& demos, int jobs,
            DemoEvents& display, const std::function<void()>& tick,
            const std::function<int()>& signal, std::vector<DemoReport>& reports) {
    const std::string program = platform::ProgramDirectory() + "vexo-record";
    std::vector<Job> running;
    size_t next = 0;
    int passedOn = 0;
    while (next < demos.size() || !running.empty()) {
        const int sig = signal();
        if (sig != 0 && passedOn != sig) {
            passedOn = sig;
            for (Job& job : running)
                ::kill(job.process.Id(), sig);
        }
        while (sig == 0 && static_cast<int>(running.size()) < jobs && next < demos.size()) {
            Job job;
            job.demo = demos[next++];
            std::string command = Quoted(program);
            for (const std::string& arg : JobArguments(resolved, job.demo.Item))
                command.append(" ").append(Quoted(arg));
            platform::ProcessOptions options;
            options.CaptureOutput = true;
            options.EndWithProgram = true;
            // Each job starts a virtual display of its own.
            options.Environment.emplace_back("DISPLAY", "");
            std::string error;
            display.Started(job.demo.Item, ListedDemoLength(resolved, job.demo.Item));
            std::optional<platform::Process> process =
                platform::StartProcess(command, "", options, &error);
            if (!process) {
                DemoReport report;
                report.Demo = job.demo;
                report.Reason = "Its recorder could not be started: " + error;
                reports.push_back(report);
                display.Finished(report, false);
                continue;
            }
            job.process = std::move(*process);
            running.push_back(std::move(job));
        }
        for (auto it = running.begin(); it != running.end();) {
            // A program the job started may hold its output open a little beyond its end.
            const auto now = std::chrono::steady_clock::now();
            if (!it->endedAt && it->process.Wait(0))
                it->endedAt = now;
            const bool ended = it->endedAt && (it->process.OutputClosed() ||
                                               now - *it->endedAt > std::chrono::seconds(2));
            for (const std::string& line : it->process.TakeOutputLines())
                Hear(*it, line, display, reports);
            if (!ended) {
                ++it;
                continue;
            }
            int code = 1;
            it->process.ExitCode(code);
            if (!it->reported) {
                DemoReport report;
                report.Demo = it->demo;
                report.Reason = "Its recorder ended with exit code " + std::to_string(code) +
                                " without saying how the demo went" +
                                (it->notes.empty() ? "." : ": " + it->notes.back());
                reports.push_back(report);
                display.Finished(report, code == 128 + SIGINT || code == 128 + SIGTERM);
            }
            it = running.erase(it);
        }
        tick();
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
    }
    return static_cast<int>(demos.size() - next);
}

} // namespace vexo::record
