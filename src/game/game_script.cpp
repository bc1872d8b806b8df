#include "game/game_script.h"

#include <algorithm>
#include <cerrno>
#include <charconv>
#include <cmath>
#include <cstdio>
#include <optional>

#include "platform/fs.h"
#include "platform/log.h"
#include "settings/folders.h"
#include "util/path.h"

namespace vexo {

namespace {

bool HasLineBreak(const std::string& text) {
    return text.find_first_of("\r\n") != std::string::npos;
}

void Show(const StatusFn& status, const std::string& text) {
    if (status)
        status(text);
}

} // namespace

RunPaths BuildRunPaths(const std::string& baseDir, const std::string& modName,
                       const std::string& configItem, const std::string& programDir,
                       const std::string& outDir, char sep, const GameEngine& engine) {
    RunPaths p;
    p.BaseDir = baseDir;
    p.GameExe = engine.PathIn(baseDir, sep);
    p.ModName = modName;
    p.ModDir = JoinPath(baseDir, modName, sep);
    p.HomeDir = engine.HomeFor(baseDir);
    p.HomeModDir = JoinPath(p.HomeDir, modName, sep);
    if (p.HomeModDir != p.ModDir)
        p.ModDirs.push_back(p.HomeModDir);
    p.ModDirs.push_back(p.ModDir);
    p.ConfigSource = FindConfigFile(FoldersFor(programDir), configItem, sep);
    p.TempConfig = JoinPath(p.HomeModDir, std::string(kTempConfigBaseName) + ".cfg", sep);
    p.ScreenshotDir = JoinPath(p.HomeModDir, "screenshots", sep);
    p.ScreenshotMask = kScreenshotMask;
    p.OutDir = outDir;
    p.Engine = engine;
    p.CaptureDir = EngineCaptureDirectory(p.HomeModDir, sep);
    p.CaptureFile = EngineCapturePath(p.HomeModDir, sep);
    return p;
}

bool ModDirectoryExists(const RunPaths& paths) {
    return std::any_of(paths.ModDirs.begin(), paths.ModDirs.end(), platform::DirectoryExists);
}

bool DemoFileExists(const RunPaths& paths, const std::string& demoItem, char sep) {
    return std::any_of(paths.ModDirs.begin(), paths.ModDirs.end(), [&](const std::string& dir) {
        return platform::FileExists(JoinPath(dir, "demos", demoItem, sep));
    });
}

std::string DemoBaseName(const std::string& demoItem) {
    const size_t cut = demoItem.find(".dm_");
    return cut == std::string::npos ? demoItem : demoItem.substr(0, cut);
}

bool IsSafeDemoBaseName(const std::string& demoBaseName) {
    return demoBaseName.find_first_of("\"\r\n") == std::string::npos;
}

std::string TimeScaleForScript(const std::string& text) {
    std::string script = text;
    std::replace(script.begin(), script.end(), ',', '.');
    return script;
}

namespace {

// A number text with blanks around it and a decimal point or comma; nothing when the text is
// anything else, or not a number greater than 0.
std::optional<double> PositiveNumber(const std::string& text) {
    const size_t first = text.find_first_not_of(" \t");
    const size_t last = text.find_last_not_of(" \t");
    if (first == std::string::npos)
        return std::nullopt;
    const std::string number = TimeScaleForScript(text.substr(first, last - first + 1));
    double value = 0;
    const char* end = number.data() + number.size();
    const auto [at, error] = std::from_chars(number.data(), end, value);
    if (error != std::errc() || at != end || !std::isfinite(value) || value <= 0)
        return std::nullopt;
    return value;
}

} // namespace

bool IsPositiveTimeScale(const std::string& text) {
    return PositiveNumber(text).has_value();
}

std::string EngineFrameRate(const std::string& captureRate, const std::string& timeScale) {
    const std::optional<double> rate = PositiveNumber(captureRate);
    const std::optional<double> scale = PositiveNumber(timeScale);
    if (!rate || !scale)
        return captureRate;
    char text[32];
    const auto [end, error] = std::to_chars(text, text + sizeof text, *rate / (*scale * *scale));
    return error == std::errc() ? std::string(text, end) : captureRate;
}

std::string BuildGameScript(const CaptureOptions& options, const std::string& demoBaseName,
                            bool engineCapture) {
    std::string s = "\n";
    s += "set cg_draw2D \"" + std::to_string(options.Draw2D ? 1 : 0) + "\"\n";
    s += "set cg_drawGun \"" + std::to_string(options.DrawGun ? 1 : 0) + "\"\n";
    s += "set r_mode \"" + std::to_string(options.ModeIndex) + "\"\n";
    s += "set r_fullscreen \"" + std::to_string(options.Windowed ? 0 : 1) + "\"\n";
    s += "set cl_avidemo \"" + options.CaptureRate + "\"\n";
    if (engineCapture) {
        s += "set cl_aviFrameRate \"" + EngineFrameRate(options.CaptureRate, options.TimeScale) +
             "\"\n";
        s += "set cl_aviMotionJpeg \"0\"\n";
    }
    s += "timescale \"" + options.TimeScale + "\"\n";
    s += "vid_restart\n";
    s += "demo \"" + demoBaseName + "\"\n";
    if (engineCapture)
        s += std::string("video \"") + kEngineCaptureName + "\"\n";
    return s;
}

ScriptResult PrepareGameScript(const RunPaths& paths, const CaptureOptions& options,
                               const std::string& demoBaseName, const StatusFn& status) {
    Show(status, "Copying config file...");
    if (paths.Engine.Packaged() && !platform::DirectoryExists(paths.HomeModDir))
        platform::CreateDirectoryPath(paths.HomeModDir);
    if (!platform::CopyFileReplacing(paths.ConfigSource, paths.TempConfig)) {
        platform::LogFailure("game", "cannot copy the config " + paths.ConfigSource + " to " +
                                         paths.TempConfig + ": " +
                                         platform::SystemErrorText(errno));
        return ScriptCopyFailed;
    }

    Show(status, "Updating config...");
    auto fail = [&paths](const std::string& why) {
        platform::LogFailure("game",
                             "cannot write the game script into " + paths.TempConfig + ": " + why);
        platform::DeleteFileAt(paths.TempConfig);
        return ScriptUpdateFailed;
    };
    // A line break in any written value would split its command and run the rest as
    // commands of their own; a quote would do the same inside the demo command.
    if (!IsSafeDemoBaseName(demoBaseName) || HasLineBreak(options.CaptureRate) ||
        HasLineBreak(options.TimeScale))
        return fail("a line break or quote in the demo's name, the frame rate or the timescale");

    const std::string script = BuildGameScript(options, demoBaseName);
    std::FILE* f = std::fopen(platform::ResolvePathCase(paths.TempConfig).c_str(), "a");
    if (!f)
        return fail(platform::SystemErrorText(errno));
    const bool written = std::fwrite(script.data(), 1, script.size(), f) == script.size();
    const int writeError = errno;
    const bool closed = std::fclose(f) == 0;
    if (!written || !closed)
        return fail(platform::SystemErrorText(written ? errno : writeError));
    return ScriptOk;
}

std::string BuildGameCommandLine(const RunPaths& paths) {
    std::string mod = paths.ModName;
    if (paths.Engine.Native) {
        // The modification's folder as found on disk, in the home first.
        std::string onDisk = platform::ResolvePathCase(paths.ModDirs.front());
        if (!platform::DirectoryExists(onDisk))
            onDisk = platform::ResolvePathCase(paths.ModDir);
        mod = onDisk.substr(onDisk.size() - std::min(onDisk.size(), mod.size()));
    }
    return paths.GameExe + " " + EngineArguments(paths.Engine, paths.BaseDir) + "+set fs_game " +
           mod + " +exec " + kTempConfigBaseName;
}

std::optional<platform::Process> LaunchGame(const std::string& commandLine, const RunPaths& paths,
                                            const StatusFn& status) {
    Show(status, "Launching Quake III...");
    std::string error;
    std::optional<platform::Process> game =
        platform::StartProcess(commandLine, paths.BaseDir, platform::ProcessPriority::High, &error);
    if (!game)
        platform::LogFailure("game", "cannot start the game in " + paths.BaseDir + ": " + error);
    return game;
}

} // namespace vexo
