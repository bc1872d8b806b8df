// A real demo through the program against the engine's own recording alone: Debian's
// ioquake3 with OpenArena's data plays a demo (640x480, 25 frames a second) on a virtual
// display, alternately
//   - alone, recording with its own "video" command (what a user could do without us), with
//     the command line, environment and script the program would give it,
//   - through the recording run with Realtime off, and with Realtime on,
// and the wall time of each, their ratio, and the disk the temporary recording takes at its
// peak (sampled every 5 ms) are printed as a Markdown table.
//
//   vexo-engine-bench [--runs N] [--fourcc CODE] [--demo NAME] [--realtime-only]
//
// --demo: the test demo "short" by default; another name is one of the demos OpenArena ships
// in its pk3 files (demo088-test1, about 170 s), copied out into the demos folder as a
// player has it. --realtime-only leaves out the run with Realtime off (for long demos, whose
// uncompressed recording would otherwise be on disk twice).
#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <filesystem>
#include <string>
#include <sys/stat.h>
#include <thread>
#include <unistd.h>
#include <vector>

#include "form/frm_main.h"
#include "frames/avi_file.h"
#include "game/game_script.h"
#include "platform/fs.h"
#include "support/fake_host.h"
#include "support/real_engine.h"

namespace fs = std::filesystem;
using Clock = std::chrono::steady_clock;

namespace {

// The disk blocks the files below dir take, in bytes.
int64_t DiskUse(const std::string& dir) {
    int64_t total = 0;
    std::error_code ec;
    for (auto it = fs::recursive_directory_iterator(dir, ec); !ec && it != fs::end(it);
         it.increment(ec)) {
        struct stat st;
        if (::lstat(it->path().c_str(), &st) == 0 && S_ISREG(st.st_mode))
            total += static_cast<int64_t>(st.st_blocks) * 512;
    }
    return total;
}

// Samples the disk use of dir while it runs; Peak once stopped.
class DiskSampler {
public:
    explicit DiskSampler(std::string dir) : dir_(std::move(dir)) {
        thread_ = std::thread([this] {
            while (!stop_) {
                peak_ = std::max(peak_.load(), DiskUse(dir_));
                std::this_thread::sleep_for(std::chrono::milliseconds(5));
            }
        });
    }
    int64_t Stop() {
        stop_ = true;
        thread_.join();
        return peak_;
    }

private:
    std::string dir_;
    std::atomic<bool> stop_{false};
    std::atomic<int64_t> peak_{0};
    std::thread thread_;
};

struct Sample {
    double seconds;
    int64_t peakBytes;
};

double Median(std::vector<double> v) {
    std::sort(v.begin(), v.end());
    return v.empty() ? 0 : v[v.size() / 2];
}

} // namespace

int main(int argc, char** argv) {
    int runs = 3;
    std::string fourcc;
    std::string demo = "short";
    bool withOff = true;
    for (int i = 1; i < argc; ++i) {
        const std::string arg = argv[i];
        if (arg == "--realtime-only")
            withOff = false;
        else if (i + 1 >= argc)
            break;
        else if (arg == "--runs")
            runs = std::max(1, std::atoi(argv[++i]));
        else if (arg == "--fourcc")
            fourcc = argv[++i];
        else if (arg == "--demo")
            demo = argv[++i];
    }
    if (!vexo::test::RealEngineInstalled() || !vexo::test::VirtualDisplay::Start()) {
        std::fprintf(stderr, "needs ioquake3, openarena and Xvfb (scripts/deps)\n");
        return 1;
    }
    // The engine talks on standard output: the table goes to the output as it was, the
    // engine's talk nowhere.
    std::FILE* table = ::fdopen(::dup(STDOUT_FILENO), "w");
    std::fflush(stdout);
    ::dup2(::open("/dev/null", O_WRONLY), STDOUT_FILENO);
    vexo::test::TempDir root, program;
    const std::string base = vexo::test::LayOutOpenArena(root);
    const std::string mod = base + "/baseoa";
    const std::string out = root / "videos";
    fs::create_directories(out);
    std::string demoItem = "short.dm_71";
    if (demo != "short") {
        demoItem = demo + ".dm_71";
        const std::string copy =
            "python3 -c \"import glob, zipfile, sys\n"
            "for p in glob.glob('/usr/lib/openarena/baseoa/*.pk3'):\n"
            "    z = zipfile.ZipFile(p)\n"
            "    if 'demos/" +
            demoItem + "' in z.namelist():\n        open(sys.argv[1], 'wb').write(z.read('demos/" +
            demoItem + "')); sys.exit(0)\nsys.exit(1)\" '" + mod + "/demos/" + demoItem + "'";
        if (std::system(copy.c_str()) != 0) {
            std::fprintf(stderr, "OpenArena ships no demo %s\n", demoItem.c_str());
            return 1;
        }
    }
    vexo::test::WriteFile(program / "configs/default.cfg",
                          vexo::test::ReadFile(VEXO_DEFAULT_CONFIG));
    std::string ini = "[paths]\nquake=" + base + "\noutput=" + out + "\n";
    if (!fourcc.empty()) {
        uint32_t code = 0;
        for (size_t i = 0; i < 4; ++i)
            code |= static_cast<uint32_t>(i < fourcc.size() ? fourcc[i] : ' ') << (8 * i);
        ini += "[codec]\nfcc=" + std::to_string(static_cast<int32_t>(code)) + "\n";
    }
    vexo::test::WriteFile(program / "vexo.ini", ini);
    vexo::platform::SetProgramDirectoryForTesting(program.path());

    // The engine alone, with the command line, the config and the script the program gives
    // it, at the raised priority and with the sound output the program starts games with.
    vexo::CaptureOptions options;
    options.DrawGun = true;
    options.ModeIndex = 3;
    options.Windowed = true;
    options.CaptureRate = "25";
    options.TimeScale = "1.0";
    const vexo::RunPaths paths = vexo::BuildRunPaths(
        base, "baseoa", "default.cfg", program.path() + "/", out, '/', vexo::FindGameEngine(base));
    std::string script = vexo::BuildGameScript(options, demo, true, "quit");
    script.replace(script.find(vexo::kEngineCaptureName), std::strlen(vexo::kEngineCaptureName),
                   "alone");
    // The program's command line, its engine path quoted for the shell (it holds a blank).
    const std::string commandLine = vexo::BuildGameCommandLine(paths);
    const std::string engineCommand = "cd '" + base + "' && SDL_AUDIODRIVER=dummy nice -n -10 '" +
                                      paths.GameExe + "'" +
                                      commandLine.substr(paths.GameExe.size()) + " >/dev/null 2>&1";
    auto alone = [&]() -> Sample {
        vexo::test::WriteFile(mod + "/vexo_temp.cfg",
                              vexo::test::ReadFile(VEXO_DEFAULT_CONFIG) + script);
        DiskSampler sampler(mod);
        const auto start = Clock::now();
        const int status = std::system(engineCommand.c_str());
        const double seconds = std::chrono::duration<double>(Clock::now() - start).count();
        const int64_t bytes = std::max(sampler.Stop(), DiskUse(mod + "/videos"));
        fs::remove_all(mod + "/videos");
        fs::remove(mod + "/vexo_temp.cfg");
        if (status != 0)
            std::fprintf(stderr, "the engine failed\n");
        return {seconds, bytes};
    };
    auto ours = [&](bool realtime) -> Sample {
        vexo::platform::MainThreadQueue queue;
        vexo::test::FakeHost host(&queue);
        vexo::CAviFile writer;
        vexo::TfrmMain form(host, writer, queue);
        form.FormCreate();
        vexo::MainControls& c = form.Controls;
        c.cbModes.SetItemIndex(3);
        c.edFps.SetText("25");
        c.cbWindowed.SetChecked(true);
        c.cbRealtime.SetChecked(realtime);
        for (int i = 0; i < c.clbDemos.Count(); ++i)
            c.clbDemos.SetChecked(i, c.clbDemos.ItemText(i) == demoItem);
        DiskSampler sampler(mod);
        const auto start = Clock::now();
        form.btnStartClick();
        const double seconds = std::chrono::duration<double>(Clock::now() - start).count();
        const int64_t peak = sampler.Stop();
        if (c.status.SimpleText() != "Completed.")
            std::fprintf(stderr, "the run failed: %s\n",
                         host.boxes.empty() ? "" : host.boxes[0].text.c_str());
        fs::remove(out + "/baseoa_" + demo + ".avi");
        return {seconds, peak};
    };

    std::vector<double> tAlone, tOff, tOn, dAlone, dOff, dOn;
    for (int run = 0; run < runs; ++run) {
        Sample a = alone(), off = withOff ? ours(false) : Sample{0, 0}, on = ours(true);
        tAlone.push_back(a.seconds);
        tOff.push_back(off.seconds);
        tOn.push_back(on.seconds);
        dAlone.push_back(static_cast<double>(a.peakBytes));
        dOff.push_back(static_cast<double>(off.peakBytes));
        dOn.push_back(static_cast<double>(on.peakBytes));
        std::fprintf(stderr, "run %d: alone %.2f s, off %.2f s, on %.2f s\n", run + 1, a.seconds,
                     off.seconds, on.seconds);
    }
    const double aloneTime = Median(tAlone);
    std::fprintf(table, "Demo %s.\n\n", demoItem.c_str());
    std::fprintf(table,
                 "| case | wall time (median of %d) | ours / engine alone | peak disk of the "
                 "recording |\n|---|---|---|---|\n",
                 runs);
    std::fprintf(table, "| engine alone (`video`) | %.2f s | 1.00 | %.1f MiB |\n", aloneTime,
                 Median(dAlone) / 1048576);
    if (withOff)
        std::fprintf(table, "| ours, Realtime off | %.2f s | %.2f | %.1f MiB |\n", Median(tOff),
                     Median(tOff) / aloneTime, Median(dOff) / 1048576);
    std::fprintf(table, "| ours, Realtime on | %.2f s | %.2f | %.1f MiB |\n", Median(tOn),
                 Median(tOn) / aloneTime, Median(dOn) / 1048576);
    std::fclose(table);
    vexo::platform::SetProgramDirectoryForTesting("");
    return 0;
}
