#include "game/engine.h"

#include "platform/fs.h"
#include "platform/process.h"
#include "util/path.h"

namespace vexo {

namespace {

// The original game first, then the engines of Linux releases of the ioquake3 family.
#ifdef _WIN32
const char* const kEngineNames[] = {"quake3.exe", nullptr};
#else
const char* const kEngineNames[] = {
    "quake3.exe",       "ioquake3.x86_64", "ioquake3",       "ioquake3.aarch64",
    "ioquake3.i386",    "quake3e.x64",     "quake3e",        "quake3e.aarch64",
    "openarena.x86_64", "openarena",       "openarena.i386", nullptr,
};
#endif

const char* const kOriginalExecutable = "quake3.exe";

// Debian's package of the engine; packaged games (openarena, quake3) start it.
const char* const kSystemEngine = "/usr/lib/ioquake3/ioquake3";
const char* const kSystemEngineName = "ioquake3";

std::string& SystemRoot() {
    static std::string root;
    return root;
}

} // namespace

std::string SystemPath(const std::string& path) {
    return SystemRoot() + path;
}

void SetSystemRootForTesting(const std::string& root) {
    SystemRoot() = root;
}

std::string FindSystemEngine() {
    if (platform::IsExecutableFile(SystemPath(kSystemEngine)))
        return SystemPath(kSystemEngine);
    return SystemRoot().empty() ? platform::FindProgram(kSystemEngineName) : std::string();
}

std::string PackagedGameHome(const std::string& baseGame) {
    const std::string home = platform::UserHomeDirectory();
    return JoinPath(home == "/" ? "" : home, baseGame == "baseoa" ? ".openarena" : ".q3a",
                    platform::kPathSep);
}

const char* const* EngineNames() {
    return kEngineNames;
}

std::string FindEngineExecutable(const std::string& base) {
    const char sep = platform::kPathSep;
    for (const char* const* name = kEngineNames; *name; ++name) {
        const std::string path = JoinPath(base, *name, sep);
        const bool original = std::string(*name) == kOriginalExecutable;
        if (original ? platform::FileExists(path) : platform::IsExecutableFile(path))
            return *name;
    }
    return {};
}

std::string FindBaseGame(const std::string& base) {
    const char sep = platform::kPathSep;
    for (const char* game : {"baseq3", "baseoa"})
        if (platform::FileExists(JoinPath(base, game, "pak0.pk3", sep)))
            return game;
    return {};
}

GameEngine FindGameEngine(const std::string& base) {
    GameEngine engine;
    const std::string executable = FindEngineExecutable(base);
    if (!executable.empty()) {
        engine.Executable = executable;
        engine.Native = executable != kOriginalExecutable;
    }
    const std::string game = FindBaseGame(base);
    if (!game.empty())
        engine.BaseGame = game;
#ifndef _WIN32
    if (executable.empty() && !game.empty()) {
        engine.SystemEngine = FindSystemEngine();
        if (engine.Packaged()) {
            engine.Executable = engine.SystemEngine.substr(engine.SystemEngine.rfind('/') + 1);
            engine.Native = true;
            engine.Home = PackagedGameHome(game);
        }
    }
#endif
    return engine;
}

std::vector<std::string> GameFolders(const std::string& base) {
    const GameEngine engine = FindGameEngine(base);
    std::vector<std::string> folders;
    if (engine.Packaged() && engine.Home != base)
        folders.push_back(engine.Home);
    folders.push_back(base);
    return folders;
}

std::string EngineFilter() {
    std::string filter = "Quake III Arena (quake3.exe)|";
    for (const char* const* name = kEngineNames; *name; ++name) {
        if (name != kEngineNames)
            filter += ';';
        filter += *name;
    }
    return filter;
}

std::string EngineArguments(const GameEngine& engine, const std::string& base) {
    if (!engine.Native)
        return {};
    // The directories in quotes, as they may hold blanks.
    auto quoted = [](const std::string& dir) {
        std::string text = "\"";
        text.append(platform::ResolvePathCase(dir)).append("\"");
        return text;
    };
    std::string args;
    args.append("+set fs_basepath ").append(quoted(base));
    args.append(" +set fs_homepath ").append(quoted(engine.HomeFor(base))).append(" ");
    if (engine.Standalone())
        args.append("+set com_basegame ").append(engine.BaseGame).append(" ");
    // OpenArena's demos and servers speak protocol 71; its own launcher tells the engine so.
    if (engine.BaseGame == "baseoa")
        args.append("+set com_protocol 71 +set com_legacyprotocol 71 ");
    return args;
}

std::string EngineCaptureDirectory(const std::string& modDir, char sep) {
    return JoinPath(modDir, "videos", sep);
}

std::string EngineCapturePath(const std::string& modDir, char sep, const std::string& name) {
    return JoinPath(EngineCaptureDirectory(modDir, sep), name + ".avi", sep);
}

} // namespace vexo
