#include "game/engine.h"

#include "platform/fs.h"

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

} // namespace

const char* const* EngineNames() {
    return kEngineNames;
}

std::string FindEngineExecutable(const std::string& base) {
    const char sep = platform::kPathSep;
    for (const char* const* name = kEngineNames; *name; ++name) {
        const std::string path = base + sep + *name;
        const bool original = std::string(*name) == kOriginalExecutable;
        if (original ? platform::FileExists(path) : platform::IsExecutableFile(path))
            return *name;
    }
    return {};
}

std::string FindBaseGame(const std::string& base) {
    const char sep = platform::kPathSep;
    for (const char* game : {"baseq3", "baseoa"})
        if (platform::FileExists(base + sep + game + sep + "pak0.pk3"))
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
    return engine;
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
    // The game directory in quotes, as it may hold blanks.
    std::string dir = "\"";
    dir.append(platform::ResolvePathCase(base)).append("\"");
    std::string args;
    args.append("+set fs_basepath ").append(dir).append(" +set fs_homepath ").append(dir);
    args.append(" ");
    if (engine.Standalone())
        args.append("+set com_basegame ").append(engine.BaseGame).append(" ");
    return args;
}

std::string EngineCaptureDirectory(const std::string& modDir, char sep) {
    return modDir + sep + "videos";
}

std::string EngineCapturePath(const std::string& modDir, char sep) {
    return EngineCaptureDirectory(modDir, sep) + sep + kEngineCaptureName + ".avi";
}

} // namespace vexo
