// vexo-record as a player starts it: the program copied into a folder of its own with its
// vexo.ini and configs beside it (a portable copy), run with the test's environment less
// DISPLAY, its standard output and error kept in files. Python's json module reads the JSON
// lines it writes.
#pragma once

#include <algorithm>
#include <csignal>
#include <fcntl.h>
#include <filesystem>
#include <gtest/gtest.h>
#include <map>
#include <string>
#include <sys/wait.h>
#include <unistd.h>
#include <vector>

#include "support/temp_dir.h"
#include "support/tga_file.h"

namespace vexo::test {

// One JSON line of vexo-record, as Python's json module reads it.
struct JsonReport {
    std::string demo, result, video, reason;
    long frames = -1;
    bool sound = false;
};

class Recorder {
public:
    // The program folder: the copied vexo-record, vexo.ini naming the game and the output
    // folder, and configs/default.cfg.
    Recorder(const std::string& game, const std::string& output, const std::string& config) {
        std::filesystem::copy_file(VEXO_RECORD, program.path() + "/vexo-record");
        WriteFile(program / "vexo.ini", "[paths]\nquake=" + game + "\noutput=" + output + "\n");
        WriteFile(program / "configs/default.cfg", config);
    }

    // Starts it with the arguments; returns its process id.
    pid_t Start(const std::vector<std::string>& args) {
        const pid_t pid = ::fork();
        if (pid == 0) {
            ::unsetenv("DISPLAY");
            ::setenv("XDG_STATE_HOME", (state / "").c_str(), 1);
            const int out = ::open(Out().c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
            const int err = ::open(Err().c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
            ::dup2(out, 1);
            ::dup2(err, 2);
            std::vector<std::string> all = {program / "vexo-record"};
            all.insert(all.end(), args.begin(), args.end());
            std::vector<char*> argv;
            for (std::string& a : all)
                argv.push_back(a.data());
            argv.push_back(nullptr);
            ::execv(argv[0], argv.data());
            ::_exit(127);
        }
        return pid;
    }
    // Waits for it; its exit code, or 128 + the signal that ended it.
    static int Wait(pid_t pid) {
        int status = 0;
        ::waitpid(pid, &status, 0);
        return WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
    }
    int Run(const std::vector<std::string>& args) { return Wait(Start(args)); }

    std::string Out() const { return program / "out.txt"; }
    std::string Err() const { return program / "err.txt"; }
    std::string Output() const { return ReadFile(Out()); }
    std::string Errors() const { return ReadFile(Err()); }

    // The JSON lines of standard output, by demo; a line Python cannot read fails the test
    // and leaves its demo out.
    std::map<std::string, JsonReport> Reports() const {
        const std::string rows = Capture(
            "python3 -c 'import json, sys\n"
            "for line in open(sys.argv[1]):\n"
            "    o = json.loads(line)\n"
            "    print(o[\"demo\"], o[\"result\"], o[\"frames\"], o[\"sound\"], o[\"video\"], "
            "o[\"reason\"], o[\"video_seconds\"] >= 0, o[\"seconds_taken\"] >= 0, sep=\"\\t\")' '" +
            Out() + "'");
        std::map<std::string, JsonReport> reports;
        size_t at = 0;
        while (at < rows.size()) {
            const size_t end = rows.find('\n', at);
            std::vector<std::string> f;
            std::string line = rows.substr(at, end - at);
            at = end == std::string::npos ? rows.size() : end + 1;
            for (size_t tab; (tab = line.find('\t')) != std::string::npos; line.erase(0, tab + 1))
                f.push_back(line.substr(0, tab));
            f.push_back(line);
            if (f.size() != 8 || f[6] != "True" || f[7] != "True")
                continue;
            JsonReport r{f[0],
                         f[1],
                         f[4] == "None" ? "" : f[4],
                         f[5] == "None" ? "" : f[5],
                         std::stol(f[2]),
                         f[3] == "True"};
            reports[r.demo] = r;
        }
        return reports;
    }

    TempDir program, state;
};

// The frames of a video as FFmpeg's own reader counts them; -1 when it cannot be read.
inline long VideoFrames(const std::string& avi) {
    const std::string n = Capture("ffprobe -v error -select_streams v:0 -count_frames "
                                  "-show_entries stream=nb_read_frames -of csv=p=0 '" +
                                  avi + "' 2>/dev/null");
    return n.empty() ? -1 : std::stol(n);
}

// Whether the X server of a display ":N" still has its socket.
inline bool DisplayRuns(const std::string& errors) {
    const size_t at = errors.find("virtual display :");
    if (at == std::string::npos)
        return false;
    const std::string number = errors.substr(at + 17, errors.find('.', at + 17) - at - 17);
    return std::filesystem::exists("/tmp/.X11-unix/X" + number);
}

// Ctrl-C to a recorder of two demos while the first records: it exits with 130, the first
// demo's frames kept as its failed video, both demos reported stopped, its display ended.
inline void ExpectCtrlCStops(Recorder& recorder, pid_t pid, const std::string& recording,
                             const std::string& waiting, const std::string& failedVideo) {
    ::kill(pid, SIGINT);
    EXPECT_EQ(Recorder::Wait(pid), 130) << recorder.Errors();
    const auto reports = recorder.Reports();
    ASSERT_EQ(reports.size(), 2u) << recorder.Output();
    const JsonReport& stopped = reports.at(recording);
    EXPECT_EQ(stopped.result, "stopped");
    EXPECT_EQ(stopped.video, failedVideo);
    EXPECT_GT(stopped.frames, 0);
    EXPECT_EQ(VideoFrames(stopped.video), stopped.frames);
    EXPECT_EQ(reports.at(waiting).result, "stopped");
    EXPECT_FALSE(DisplayRuns(recorder.Errors()));
}

} // namespace vexo::test
