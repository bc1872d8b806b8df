#include "run/run_driver.h"

#include <cctype>
#include <charconv>
#include <chrono>
#include <exception>
#include <memory>
#include <optional>
#include <thread>
#include <vector>

#include "form/main_controls.h"
#include "frames/avi_file.h"
#include "frames/dir_thread.h"
#include "game/game_script.h"
#include "platform/fs.h"
#include "platform/process.h"
#include "settings/codec_settings.h"
#include "settings/ini.h"

namespace vexo {

namespace {

constexpr char kSep = platform::kPathSep;

void ErrorBox(IFormHost& host, const std::string& text) {
    host.MessageBox(text, "Error", MB_OK | MB_ICONERROR);
}

// Handles the window's pending messages until done() holds. The short sleep keeps the
// main thread from taking a whole core away from the collector while it waits.
// Once done() holds, the worker's last texts are already queued: one more pass shows them
// before the caller's next status text.
template <typename Done> void WaitPumping(IFormHost& host, Done done) {
    while (!done()) {
        host.ProcessMessages();
        if (!done())
            std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
    host.ProcessMessages();
}

// What a run has under way, put right when an exception leaves the run (a worker thread
// that cannot start, say): the worker is stopped before the writer closes, the game is ended
// and its temporary config removed, and the window is given back, so that the error box
// that follows shows over a window that works.
class RunCleanup {
public:
    RunCleanup(MainControls& c, IFormHost& host, CAviFile& writer, const RunPaths& paths)
        : c_(c), host_(host), writer_(writer), paths_(paths),
          exceptions_(std::uncaught_exceptions()) {}
    ~RunCleanup() {
        if (std::uncaught_exceptions() <= exceptions_)
            return; // the run ended by itself and has put everything right
        try {
            Abandon();
        } catch (...) {
            // Nothing more can be done; the error on its way is the one to show.
        }
    }
    RunCleanup(const RunCleanup&) = delete;
    RunCleanup& operator=(const RunCleanup&) = delete;

    std::optional<platform::Process> game;
    std::shared_ptr<TDirThread> worker;

private:
    void Abandon() {
        if (worker) {
            worker->Terminate();
            WaitPumping(host_, [&] { return !worker->Started() || !worker->Active(); });
        }
        writer_.Close(0);
        if (game) {
            game->Terminate();
            while (!game->Wait(80))
                host_.ProcessMessages();
            game->Close();
        }
        platform::DeleteFileAt(paths_.TempConfig);
        ShowStatus(c_, host_, "Failed.");
        EnableAfterRun(c_, host_);
        if (worker)
            WaitPumping(host_, [&] { return worker->CleanupDone(); });
    }

    MainControls& c_;
    IFormHost& host_;
    CAviFile& writer_;
    const RunPaths& paths_;
    const int exceptions_;
};

} // namespace

void MakePath(const std::string& path) {
    size_t first = path.find_first_of("\\/");
    if (first == std::string::npos) {
        platform::CreateDirectoryAt(path);
        return;
    }
    for (size_t pos = path.find_first_of("\\/", first + 1); pos != std::string::npos;
         pos = path.find_first_of("\\/", pos + 1))
        platform::CreateDirectoryAt(path.substr(0, pos));
    if (path.back() != '\\' && path.back() != '/')
        platform::CreateDirectoryAt(path);
}

int32_t AviRateFromText(const std::string& text) {
    const int32_t rate = ParseLeadingInteger(text);
    return rate < 1 || rate > 100 ? 25 : rate;
}

float GammaFromItem(const std::string& item) {
    size_t end = 0;
    while (end < item.size() &&
           (std::isdigit(static_cast<unsigned char>(item[end])) || item[end] == '.'))
        ++end;
    // Read with a decimal point whatever the user's locale (strtod would expect a comma
    // under a German desktop), as a double narrowed to float.
    double value = 0.0;
    std::from_chars(item.data(), item.data() + end, value);
    return static_cast<float>(value);
}

std::string AviFileName(const std::string& outDir, const std::string& modName,
                        const std::string& demoBaseName, char sep) {
    return outDir + sep + modName + "_" + demoBaseName + ".avi";
}

std::string ScreenshotWarningText(int count, const std::string& modName) {
    std::string lower = modName;
    for (char& ch : lower)
        ch = static_cast<char>(std::tolower(static_cast<unsigned char>(ch)));
    return "Found " + std::to_string(count) + " screenshot(s) in \"" + lower +
           "/screenshots\".\n\n" +
           "You have to make sure this screenshots folder is absolutely\n"
           "empty before you launch your demos. Please wipe it and try\n"
           "again. Would you like to open the folder now?";
}

void RunRecording(MainControls& c, IFormHost& host, CAviFile& writer,
                  platform::MainThreadQueue& queue) {
    struct {
        MainControls& c;
        IFormHost& host;
        void ShowStatus(const std::string& text) { vexo::ShowStatus(c, host, text); }
        void DisableForRun() { vexo::DisableForRun(c); }
        void EnableAfterRun() { vexo::EnableAfterRun(c, host); }
    } form{c, host};

    if (c.cbMods.ItemIndex() < 0)
        return;
    const RunPaths paths = BuildRunPaths(c.edBasePath.Text(), c.cbMods.Text(), c.cbConfigs.Text(),
                                         platform::ProgramDirectory(), c.edOutPath.Text(), kSep);
    CaptureOptions options;
    options.Draw2D = c.cbDraw2D.Checked();
    options.DrawGun = c.cbDrawGun.Checked();
    options.ModeIndex = c.cbModes.ItemIndex();
    options.Windowed = c.cbWindowed.Checked();
    options.CaptureRate = c.edFps.Text();
    options.TimeScale = c.edTimeScale.Text();
    form.ShowStatus("");

    // The checks, in order; the first that fails ends the click.
    if (c.cbConfigs.ItemIndex() < 0)
        return ErrorBox(host, "You didn't select a config to use.");
    if (!platform::DirectoryExists(paths.BaseDir))
        return ErrorBox(host, "Quake III directory does not exist.");
    if (!platform::FileExists(paths.GameExe) ||
        !platform::FileExists(paths.BaseDir + kSep + "baseq3" + kSep + "pak0.pk3"))
        return ErrorBox(host, "Quake III not found in selected directory.");
    if (!platform::DirectoryExists(paths.OutDir))
        return ErrorBox(host, "Output directory does not exist.");
    if (!platform::DirectoryExists(paths.ModDir))
        return ErrorBox(host, "Selected MOD directory does not exist.");
    const int leftovers =
        platform::CountMatchingFiles(paths.ScreenshotDir + kSep + paths.ScreenshotMask);
    if (leftovers > 0) {
        if (host.MessageBox(ScreenshotWarningText(leftovers, paths.ModName), "Problem",
                            MB_YESNO | MB_ICONWARNING) == IDYES)
            // The folder as it is on disk: the count above found it in any letter case.
            host.ShellExecute("open", "", "", platform::ResolvePathCase(paths.ScreenshotDir),
                              SW_SHOW);
        return;
    }
    if (c.clbDemos.CheckedCount() == 0)
        return ErrorBox(host, "You didn't select any demos in demo list.");

    const std::string ini = SettingsFilePath();
    if (!LoadCodecSettings(ini, &writer.CodecVars)) {
        writer.Close(0);
        form.ShowStatus("Failed.");
        return ErrorBox(host, "You didn't select an AVI codec yet.");
    }
    form.DisableForRun();
    RunCleanup run(c, host, writer, paths);

    CollectorUi ui;
    ui.Status = [&c](const std::string& text) { c.status.SetSimpleText(text); };
    ui.Title = [&host](const std::string& text) { host.SetApplicationTitle(text); };
    ui.ErrorBox = [&host](const std::string& text) { ErrorBox(host, text); };
    auto status = [&form](const std::string& text) { form.ShowStatus(text); };

    bool recorded = false;
    for (int j = 0; j < c.clbDemos.Count(); ++j) {
        if (!c.clbDemos.Checked(j))
            continue;
        const std::string demo = DemoBaseName(c.clbDemos.ItemText(j));
        if (recorded && !LoadCodecSettings(ini, &writer.CodecVars)) {
            writer.Close(0);
            form.ShowStatus("Failed.");
            form.EnableAfterRun();
            return ErrorBox(host, "You didn't select an AVI codec yet.");
        }

        auto failA = [&](const std::string& text) {
            form.ShowStatus("Failed.");
            form.EnableAfterRun();
            platform::DeleteFileAt(paths.TempConfig);
            ErrorBox(host, text);
        };
        switch (PrepareGameScript(paths, options, demo, status)) {
        case ScriptCopyFailed:
            return failA("Error copying config file.");
        case ScriptUpdateFailed:
            return failA("Error updating config.");
        case ScriptOk:
            break;
        }
        // Screenshots still in the folder now were left by an earlier demo of this run
        // whose collector failed: they are not this demo's frames.
        std::vector<std::string> leftovers;
        for (const std::string& name :
             platform::FindMatches(paths.ScreenshotDir + kSep + paths.ScreenshotMask, false))
            leftovers.push_back(paths.ScreenshotDir + kSep + name);
        run.game = LaunchGame(BuildGameCommandLine(paths), paths, status);
        auto& game = run.game;
        if (!game)
            return failA("Error launching Quake III Arena.");

        const std::string aviName = AviFileName(paths.OutDir, paths.ModName, demo, kSep);
        MakePath(paths.OutDir);
        writer.Open(aviName, 640, 480, AviRateFromText(c.edAviFps.Text()), 1);
        if (c.cbGammas.ItemIndex() >= 0)
            writer.SetGamma(GammaFromItem(c.cbGammas.Text()));

        std::shared_ptr<TDirThread> worker = TDirThread::Create(queue, ui);
        run.worker = worker;
        worker->SetDirectory(paths.ScreenshotDir);
        worker->SetMask(paths.ScreenshotMask);
        worker->Interval = 1000;
        worker->Writer = &writer;
        worker->SetPassOver(leftovers);
        if (c.cbRealtime.Checked())
            worker->Resume();

        host.SetApplicationTitle("VEXO [ waiting... ]");
        form.ShowStatus("Waiting for Quake III to finish...");
        while (!game->Wait(80))
            host.ProcessMessages();

        form.ShowStatus("Cleaning up...");
        int exitCode = 1;
        if (!game->ExitCode(exitCode))
            exitCode = 1;
        game->Close();
        platform::DeleteFileAt(paths.TempConfig);

        if (exitCode != 0) {
            form.ShowStatus("Failed.");
            // The worker may still be writing a frame: stop it before the writer closes.
            worker->Terminate();
            WaitPumping(host, [&] { return !worker->Started() || !worker->Active(); });
            form.EnableAfterRun();
            writer.Close(0);
            ErrorBox(host, "Quake III didn't shut down properly.");
            WaitPumping(host, [&] { return worker->CleanupDone(); });
            return;
        }

        host.SetApplicationTitle(kMainCaption);
        if (!c.cbRealtime.Checked())
            worker->Resume();
        WaitPumping(host, [&] { return !worker->Active(); });
        form.ShowStatus("Finalizing...");
        writer.Close(0);
        worker->Terminate();
        c.clbDemos.SetChecked(j, false);
        // The worker's clean-up deletes the screenshots it took; it must be over before the
        // next game writes screenshots of the same names.
        WaitPumping(host, [&] { return worker->CleanupDone(); });
        recorded = true;
    }
    form.EnableAfterRun();
    form.ShowStatus("Completed.");
}

} // namespace vexo
