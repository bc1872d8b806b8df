#include "game/game_script.h"

#include "game/engine_console.h"

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <charconv>
#include <cmath>
#include <cstdio>
#include <optional>

#include "game/config_commands.h"
#include "game/pk3.h"
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
                       const std::string& outDir, char sep, const GameEngine& engine,
                       const std::string& nameSuffix) {
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
    p.TempConfigName = kTempConfigBaseName + nameSuffix;
    p.TempConfig = JoinPath(p.HomeModDir, p.TempConfigName + ".cfg", sep);
    p.ScreenshotDir = JoinPath(p.HomeModDir, "screenshots", sep);
    p.ScreenshotMask = kScreenshotMask;
    p.OutDir = outDir;
    p.Engine = engine;
    p.CaptureDir = EngineCaptureDirectory(p.HomeModDir, sep);
    p.CaptureName = kEngineCaptureName + nameSuffix;
    p.CaptureFile = EngineCapturePath(p.HomeModDir, sep, p.CaptureName);
    return p;
}

bool IsSafeNameSuffix(const std::string& suffix) {
    return std::all_of(suffix.begin(), suffix.end(), [](char c) {
        return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') ||
               c == '_';
    });
}

bool IsTempConfigFileName(const std::string& name) {
    const std::string base = kTempConfigBaseName;
    std::string lower = name;
    for (char& c : lower)
        c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    if (lower.size() < base.size() + 4 || lower.compare(0, base.size(), base) != 0 ||
        lower.compare(lower.size() - 4, 4, ".cfg") != 0)
        return false;
    const std::string suffix = lower.substr(base.size(), lower.size() - base.size() - 4);
    return suffix.empty() || (suffix[0] == '_' && IsSafeNameSuffix(suffix));
}

bool ModDirectoryExists(const RunPaths& paths) {
    return std::any_of(paths.ModDirs.begin(), paths.ModDirs.end(), platform::DirectoryExists);
}

bool DemoFileExists(const RunPaths& paths, const std::string& demoItem, char sep) {
    return std::any_of(paths.ModDirs.begin(), paths.ModDirs.end(),
                       [&](const std::string& dir) {
                           return platform::FileExists(JoinPath(dir, "demos", demoItem, sep));
                       }) ||
           PackedDemoExists(paths.ModDirs, demoItem);
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

double EngineFrameRateValue(const std::string& captureRate, const std::string& timeScale) {
    const std::optional<double> rate = PositiveNumber(captureRate);
    const std::optional<double> scale = PositiveNumber(timeScale);
    return rate && scale ? *rate / (*scale * *scale) : 0.0;
}

std::string EngineFrameRate(const std::string& captureRate, const std::string& timeScale) {
    const double rate = EngineFrameRateValue(captureRate, timeScale);
    if (rate <= 0)
        return captureRate;
    char text[32];
    const auto [end, error] = std::to_chars(text, text + sizeof text, rate);
    return error == std::errc() ? std::string(text, end) : captureRate;
}

namespace {

std::string Lower(std::string text) {
    for (char& ch : text)
        ch = static_cast<char>(std::tolower(static_cast<unsigned char>(ch)));
    return text;
}

// Calls found(value) for every "set NAME VALUE" (or seta, sets, setu) of the config's
// text, in order; NAME without regard to case.
template <typename Found>
void ForEachSet(const std::string& text, const std::string& name, Found found) {
    ForEachCommand(text, [&](const std::vector<std::string>& words) {
        if (words.size() >= 3) {
            const std::string command = Lower(words[0]);
            if ((command == "set" || command == "seta" || command == "sets" || command == "setu") &&
                Lower(words[1]) == name) {
                std::string value = words[2];
                for (size_t i = 3; i < words.size(); ++i)
                    value += " " + words[i];
                found(value);
            }
        }
        return false;
    });
}

std::string ReadWholeFile(const std::string& path) {
    std::string text;
    std::FILE* f = std::fopen(platform::ResolvePathCase(path).c_str(), "rb");
    if (!f)
        return text;
    char buffer[4096];
    size_t n;
    // A config is small; anything past 1 MiB is not one the game would read either.
    while (text.size() < (1u << 20) && (n = std::fread(buffer, 1, sizeof buffer, f)) > 0)
        text.append(buffer, n);
    std::fclose(f);
    return text;
}

} // namespace

std::optional<std::string> ConfigNextDemo(const std::string& configText) {
    std::string value;
    ForEachSet(configText, "nextdemo", [&](const std::string& v) { value = v; });
    if (value.find('"') != std::string::npos || HasLineBreak(value))
        return std::nullopt;
    return value;
}

int ConfigHunkMegs(const std::string& configText) {
    int megs = 0;
    ForEachSet(configText, "com_hunkmegs", [&](const std::string& v) {
        int value = 0;
        const char* first = v.data();
        while (first < v.data() + v.size() && *first == ' ')
            ++first;
        std::from_chars(first, v.data() + v.size(), value);
        megs = std::max(megs, value);
    });
    return megs;
}

int RecordingHunkMegs(const RunPaths& paths) {
    std::vector<std::string> folders = paths.ModDirs;
    const std::string baseGame = paths.Engine.BaseGame;
    if (Lower(paths.ModName) != Lower(baseGame)) {
        const std::string homeBase = JoinPath(paths.HomeDir, baseGame, '/');
        const std::string gameBase = JoinPath(paths.BaseDir, baseGame, '/');
        folders.push_back(homeBase);
        if (gameBase != homeBase)
            folders.push_back(gameBase);
    }
    int megs = kRecordingHunkMegs;
    for (const std::string& folder : folders)
        for (const char* name : {"q3config.cfg", "autoexec.cfg"})
            megs = std::max(megs, ConfigHunkMegs(ReadWholeFile(JoinPath(folder, name, '/'))));
    return megs;
}

std::string BuildGameScript(const CaptureOptions& options, const std::string& demoBaseName,
                            bool engineCapture, const std::optional<std::string>& nextDemo,
                            const std::string& captureName) {
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
        s += "set com_cameraMode \"1\"\n";
        // The engine mixes its sound ahead of the picture by s_mixahead seconds, but by no
        // more than ten times the last frame's real duration: on a machine that renders a
        // frame in less than 20 ms the default 0.2 s lead varies from frame to frame, and
        // the sound with it. A tenth of a second is below that bound on any machine (the
        // engine counts a frame as 11 ms at least), so the lead stays what it was at the
        // first picture, where the sound is set against the picture.
        s += "set s_mixahead \"0.1\"\n";
        if (nextDemo) {
            std::string next = std::string("echo ") + kDemoEndMarker;
            if (!nextDemo->empty())
                next += "; " + *nextDemo;
            s += "set nextdemo \"" + next + "\"\n";
        }
    }
    s += "timescale \"" + options.TimeScale + "\"\n";
    s += "vid_restart\n";
    s += "demo \"" + demoBaseName + "\"\n";
    if (engineCapture)
        s += "video \"" + captureName + "\"\n";
    return s;
}

ScriptResult PrepareGameScript(const RunPaths& paths, const CaptureOptions& options,
                               const std::string& demoBaseName, const StatusFn& status,
                               bool* asksDemoEnd) {
    if (asksDemoEnd)
        *asksDemoEnd = false;
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

    const std::optional<std::string> nextDemo = ConfigNextDemo(ReadWholeFile(paths.ConfigSource));
    const std::string script =
        BuildGameScript(options, demoBaseName, kAskEngineCapture, nextDemo, paths.CaptureName);
    std::FILE* f = std::fopen(platform::ResolvePathCase(paths.TempConfig).c_str(), "a");
    if (!f)
        return fail(platform::SystemErrorText(errno));
    const bool written = std::fwrite(script.data(), 1, script.size(), f) == script.size();
    const int writeError = errno;
    const bool closed = std::fclose(f) == 0;
    if (!written || !closed)
        return fail(platform::SystemErrorText(written ? errno : writeError));
    if (asksDemoEnd)
        *asksDemoEnd = kAskEngineCapture && nextDemo.has_value();
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
    std::string recording;
    if (paths.Engine.Native)
        recording = "+set s_useOpenAL 0 +set in_mouse 0 +set com_hunkmegs " +
                    std::to_string(RecordingHunkMegs(paths)) + " ";
    return paths.GameExe + " " + EngineArguments(paths.Engine, paths.BaseDir) + recording +
           "+set fs_game " + mod + " +exec " + paths.TempConfigName;
}

std::optional<platform::Process> LaunchGame(const std::string& commandLine, const RunPaths& paths,
                                            const StatusFn& status) {
    Show(status, "Launching Quake III...");
    platform::ProcessOptions options;
    options.Priority = platform::ProcessPriority::High;
    options.CaptureOutput = true;
    options.EndWithProgram = true;
    options.NewProcessGroup = true;
    if (paths.Engine.Native)
        options.Environment.emplace_back("SDL_AUDIODRIVER", "dummy");
    std::string error;
    std::optional<platform::Process> game =
        platform::StartProcess(commandLine, paths.BaseDir, options, &error);
    if (!game)
        platform::LogFailure("game", "cannot start the game in " + paths.BaseDir + ": " + error);
    return game;
}

} // namespace vexo
