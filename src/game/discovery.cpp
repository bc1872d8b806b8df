#include "game/discovery.h"

#include "game/engine.h"
#include "platform/fs.h"
#include "util/path.h"

namespace vexo {

std::string GameExecutablePath(const std::string& base, char sep) {
    return JoinPath(base, "quake3.exe", sep);
}

std::string StockPakPath(const std::string& base, char sep) {
    return JoinPath(base, "baseq3", "pak0.pk3", sep);
}

namespace {

size_t LastDirectoryCut(const std::string& file, char sep) {
    const std::string cuts = sep == '\\' ? std::string("\\:") : std::string(1, sep);
    return file.find_last_of(cuts);
}

} // namespace

std::string DirectoryPartOfFile(const std::string& file, char sep) {
    const size_t cut = LastDirectoryCut(file, sep);
    return cut == std::string::npos ? std::string() : file.substr(0, cut + 1);
}

std::string DirectoryOfChosenFile(const std::string& file, char sep) {
    const size_t cut = LastDirectoryCut(file, sep);
    if (cut == std::string::npos)
        return std::string();
    if (cut == 0)
        return file.substr(0, 1); // a file in the root directory
    return file.substr(0, cut);
}

bool IsGameDirectory(const std::string& base) {
    using namespace platform;
    return DirectoryExists(base) && !FindBaseGame(base).empty() &&
           (!FindEngineExecutable(base).empty() || FindGameEngine(base).Packaged());
}

namespace {

struct KnownPlace {
    const char* dir; // below the file system's root, or below the home when inHome
    bool inHome;
    const char* marker; // a file it must hold besides a game, or null
};

// Where Linux players have the game, in the order they are tried: the directories the
// system's packages start their engine in (Debian's quake3 starts Team Arena's when its data
// is there, else the original game's; older packages of the data used /usr/share/games/quake3;
// then OpenArena's), the original Linux release's place, then games unpacked into the home.
const KnownPlace kKnownPlaces[] = {
    {"/usr/lib/quake3/ta", false, "missionpack/pak0.pk3"},
    {"/usr/lib/quake3/base", false, nullptr},
    {"/usr/share/games/quake3", false, nullptr},
    {"/usr/lib/openarena", false, nullptr},
    {"/usr/local/games/quake3", false, nullptr},
    {"ioquake3", true, nullptr},
    {"Quake3", true, nullptr},
    {"Quake III Arena", true, nullptr},
    {"openarena", true, nullptr},
};

} // namespace

std::string FindInstalledGame() {
#ifdef _WIN32
    return {};
#else
    const char sep = platform::kPathSep;
    for (const KnownPlace& place : kKnownPlaces) {
        const std::string dir = platform::ResolvePathCase(
            place.inHome ? JoinPath(platform::UserHomeDirectory(), place.dir, sep)
                         : SystemPath(place.dir));
        if (IsGameDirectory(dir) &&
            (!place.marker || platform::FileExists(JoinPath(dir, place.marker, sep))))
            return dir;
    }
    return {};
#endif
}

} // namespace vexo
