// A stand-in for the game executable, for tests and the sample installation. Started as
// quake3.exe with a command line such as "+set fs_game baseq3 +exec vexo_temp", it runs the
// config from the modification directory below its working directory and "plays" the demo
// the config names by writing one numbered 24-bit TGA screenshot per captured frame into the
// modification's screenshots directory. See README.md for the commands and test settings.
// It builds for Linux and, with MinGW-w64, for Windows, where it plays a Windows quake3.exe
// run through Wine.
#include <algorithm>
#include <cctype>
#include <chrono>
#include <cmath>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <dirent.h>
#include <map>
#include <optional>
#include <string>
#include <sys/stat.h>
#include <thread>
#include <unistd.h>
#include <vector>
#ifdef _WIN32
#define WIN32_LEAN_AND_MEAN
#include <direct.h>
#include <windows.h>
#endif

namespace {

std::string Lower(std::string s) {
    for (char& c : s)
        c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    return s;
}

bool IsDirectory(const std::string& path) {
    struct stat st;
    return ::stat(path.c_str(), &st) == 0 && S_ISDIR(st.st_mode);
}

bool IsFile(const std::string& path) {
    struct stat st;
    return ::stat(path.c_str(), &st) == 0 && S_ISREG(st.st_mode);
}

std::vector<std::string> SortedEntries(const std::string& dir) {
    std::vector<std::string> names;
    if (DIR* d = ::opendir(dir.c_str())) {
        while (dirent* e = ::readdir(d)) {
            if (e->d_name[0] != '.')
                names.emplace_back(e->d_name);
        }
        ::closedir(d);
    }
    std::sort(names.begin(), names.end());
    return names;
}

// The entry of dir named like name without regard to case; the exact name wins.
std::optional<std::string> FindNoCase(const std::string& dir, const std::string& name) {
    std::vector<std::string> names = SortedEntries(dir);
    if (std::find(names.begin(), names.end(), name) != names.end())
        return name;
    for (const std::string& entry : names) {
        if (Lower(entry) == Lower(name))
            return entry;
    }
    return std::nullopt;
}

bool MakeDirectory(const std::string& path) {
#ifdef _WIN32
    return ::_mkdir(path.c_str()) == 0;
#else
    return ::mkdir(path.c_str(), 0755) == 0;
#endif
}

// Ends the game at once, as a crash would: no exit code of its own, nothing flushed.
[[noreturn]] void Crash() {
#ifdef _WIN32
    ::TerminateProcess(::GetCurrentProcess(), 128 + 9);
#else
    ::kill(::getpid(), SIGKILL);
#endif
    std::abort();
}

// Leading integer of a text, as the game reads a variable's integer value (atoi).
int IntegerOf(const std::string& text) {
    return std::atoi(text.c_str());
}

struct Size {
    int width;
    int height;
};

Size ModeSize(int mode) {
    static const Size kModes[] = {{320, 240},   {400, 300},   {512, 384},   {640, 480},
                                  {800, 600},   {960, 720},   {1024, 768},  {1152, 864},
                                  {1280, 1024}, {1600, 1200}, {2048, 1536}, {856, 480}};
    if (mode >= 0 && mode < static_cast<int>(std::size(kModes)))
        return kModes[mode];
    return {640, 480};
}

// Splits a config's text into commands: at line ends and at ";" outside quotes, dropping
// "//" comments. Each command comes back as its tokens; quotes group blanks and are removed.
std::vector<std::vector<std::string>> ParseCommands(const std::string& text) {
    std::vector<std::vector<std::string>> commands;
    std::vector<std::string> tokens;
    std::string token;
    bool inToken = false;
    bool quoted = false;
    auto endToken = [&] {
        if (inToken)
            tokens.push_back(token);
        token.clear();
        inToken = false;
    };
    auto endCommand = [&] {
        endToken();
        if (!tokens.empty())
            commands.push_back(tokens);
        tokens.clear();
        quoted = false;
    };
    for (size_t i = 0; i < text.size(); ++i) {
        const char c = text[i];
        if (c == '\n' || c == '\r') {
            endCommand();
        } else if (quoted) {
            if (c == '"') {
                quoted = false;
            } else {
                token += c;
            }
        } else if (c == '"') {
            quoted = true;
            inToken = true;
        } else if (c == '/' && i + 1 < text.size() && text[i + 1] == '/') {
            while (i + 1 < text.size() && text[i + 1] != '\n' && text[i + 1] != '\r')
                ++i;
        } else if (c == ';') {
            endCommand();
        } else if (c == ' ' || c == '\t') {
            endToken();
        } else {
            token += c;
            inToken = true;
        }
    }
    endCommand();
    return commands;
}

class Game {
public:
    // Runs the command-line commands; returns the exit code.
    int Run(int argc, char** argv) {
        std::vector<std::vector<std::string>> commands;
        for (int i = 1; i < argc; ++i) {
            std::string arg = argv[i];
            if (!arg.empty() && arg[0] == '+') {
                commands.push_back({arg.substr(1)});
            } else if (!commands.empty()) {
                commands.back().push_back(arg);
            }
        }
        for (const auto& command : commands)
            Execute(command, 0);
        return ExitCode();
    }

private:
    std::map<std::string, std::string> vars_;
    int shotNumber_ = 0;

    std::string Var(const std::string& name, const std::string& fallback = "") const {
        auto it = vars_.find(Lower(name));
        return it == vars_.end() ? fallback : it->second;
    }

    int ExitCode() const { return IntegerOf(Var("vexo_exitcode", "0")); }

    [[noreturn]] void Quit() {
        std::fflush(stdout);
        std::exit(ExitCode());
    }

    // The modification directory below the working directory, found without regard to case.
    std::string ModDir() const {
        std::string mod = Var("fs_game", "baseq3");
        if (mod.empty())
            mod = "baseq3";
        return FindNoCase(".", mod).value_or(mod);
    }

    void Execute(const std::vector<std::string>& args, int depth) {
        const std::string name = Lower(args[0]);
        if (name == "set" || name == "seta" || name == "sets" || name == "setu") {
            if (args.size() < 2)
                return;
            std::string value;
            for (size_t i = 2; i < args.size(); ++i)
                value += (i > 2 ? " " : "") + args[i];
            vars_[Lower(args[1])] = value;
        } else if (name == "timescale") {
            if (args.size() >= 2)
                vars_["timescale"] = args[1];
        } else if (name == "exec") {
            if (args.size() >= 2)
                Exec(args[1], depth);
        } else if (name == "demo") {
            if (args.size() >= 2)
                PlayDemo(args[1]);
        } else if (name == "quit") {
            Quit();
        } else if (name == "echo") {
            std::string text;
            for (size_t i = 1; i < args.size(); ++i)
                text += (i > 1 ? " " : "") + args[i];
            std::printf("%s\n", text.c_str());
            std::fflush(stdout);
        }
        // vid_restart and every other command change nothing here.
    }

    void Exec(std::string config, int depth) {
        if (depth > 8)
            return;
        if (config.find('.') == std::string::npos)
            config += ".cfg";
        const std::string dir = ModDir();
        std::optional<std::string> file = FindNoCase(dir, config);
        std::FILE* f = file ? std::fopen((dir + "/" + *file).c_str(), "rb") : nullptr;
        if (!f) {
            std::printf("couldn't exec %s\n", config.c_str());
            return;
        }
        std::string text;
        char buffer[4096];
        size_t n;
        while ((n = std::fread(buffer, 1, sizeof buffer, f)) > 0)
            text.append(buffer, n);
        std::fclose(f);
        std::printf("execing %s\n", config.c_str());
        for (const auto& command : ParseCommands(text))
            Execute(command, depth + 1);
    }

    // What a sample demo's first lines say of it: "error TEXT" (the game cannot play it and
    // says so), "stall" (it never starts).
    struct DemoTraits {
        std::string error;
        bool stall = false;
    };
    static DemoTraits ReadDemoTraits(const std::string& path) {
        DemoTraits traits;
        std::FILE* f = std::fopen(path.c_str(), "rb");
        if (!f)
            return traits;
        std::string head(4096, '\0');
        head.resize(std::fread(head.data(), 1, head.size(), f));
        std::fclose(f);
        for (const auto& command : ParseCommands(head)) {
            if (Lower(command[0]) == "error" && command.size() >= 2)
                traits.error = command[1];
            else if (Lower(command[0]) == "stall")
                traits.stall = true;
        }
        return traits;
    }

    // The demo's length in seconds: the "length N" line of a sample demo, else one second
    // per 64 KiB of file, at least one second.
    static double DemoLength(const std::string& path) {
        std::FILE* f = std::fopen(path.c_str(), "rb");
        if (!f)
            return 1.0;
        std::string head(4096, '\0');
        head.resize(std::fread(head.data(), 1, head.size(), f));
        std::fseek(f, 0, SEEK_END);
        const long size = std::ftell(f);
        std::fclose(f);
        for (const auto& command : ParseCommands(head)) {
            if (command.size() >= 2 && Lower(command[0]) == "length") {
                char* end = nullptr;
                double seconds = std::strtod(command[1].c_str(), &end);
                if (end != command[1].c_str() && seconds >= 0)
                    return seconds;
            }
        }
        return std::max(1.0, static_cast<double>(size) / 65536.0);
    }

    void PlayDemo(const std::string& demo) {
        const std::string modDir = ModDir();
        const std::string demosDir = modDir + "/" + FindNoCase(modDir, "demos").value_or("demos");
        std::optional<std::string> file = FindNoCase(demosDir, demo);
        if (!file || !IsFile(demosDir + "/" + *file)) {
            file.reset();
            const std::string prefix = Lower(demo) + ".dm_";
            for (const std::string& entry : SortedEntries(demosDir)) {
                if (Lower(entry).rfind(prefix, 0) == 0 && IsFile(demosDir + "/" + entry)) {
                    file = entry;
                    break;
                }
            }
        }
        if (!file) {
            std::fprintf(stderr, "couldn't open demos/%s\n", demo.c_str());
            std::fflush(stderr);
            std::exit(2);
        }

        // A demo the game cannot play: the engine's error on its console, then its menu,
        // where it waits for a player until it is ended.
        const DemoTraits traits = ReadDemoTraits(demosDir + "/" + *file);
        if (!traits.error.empty() || traits.stall) {
            if (!traits.error.empty())
                std::fprintf(stderr, "********************\nERROR: %s\n********************\n",
                             traits.error.c_str());
            std::fflush(stderr);
            for (;;)
                std::this_thread::sleep_for(std::chrono::seconds(1));
        }

        const double length = DemoLength(demosDir + "/" + *file);
        const int rate = IntegerOf(Var("cl_avidemo", "0"));
        double timescale = std::atof(Var("timescale", "1").c_str());
        if (!(timescale > 0))
            timescale = 1.0;
        const long frames = rate > 0 ? std::lround(length * rate / timescale) : 0;
        const Size size = ModeSize(IntegerOf(Var("r_mode", "3")));
        const bool pace = IntegerOf(Var("vexo_nopace", "0")) == 0;
        const bool write = IntegerOf(Var("vexo_nowrite", "0")) == 0;
        const bool crash = IntegerOf(Var("vexo_crash", "0")) != 0;
        const int splitMs = IntegerOf(Var("vexo_split_ms", "0"));
        std::printf("playing demos/%s: %ld frames of %dx%d\n", file->c_str(), frames, size.width,
                    size.height);
        std::fflush(stdout);

        std::string shotsDir;
        if (frames > 0 && write) {
            shotsDir = modDir + "/" + FindNoCase(modDir, "screenshots").value_or("screenshots");
            if (!IsDirectory(shotsDir) && !MakeDirectory(shotsDir)) {
                std::fprintf(stderr, "cannot create %s\n", shotsDir.c_str());
                std::exit(1);
            }
        }

        const auto start = std::chrono::steady_clock::now();
        for (long n = 0; n < frames; ++n) {
            if (crash && n >= frames / 2)
                Crash();
            if (pace) {
                std::this_thread::sleep_until(start +
                                              std::chrono::microseconds(n * 1000000 / rate));
            }
            if (write && !WriteShot(shotsDir, n, size, splitMs)) {
                std::fprintf(stderr, "cannot write a screenshot into %s\n", shotsDir.c_str());
                std::exit(1);
            }
        }
        if (crash)
            Crash();
        // A demo played to its end runs what "nextdemo" holds.
        for (const auto& command : ParseCommands(Var("nextdemo")))
            Execute(command, 1);
        // Unless that quit, the engine then waits in its menu for a player.
        if (IntegerOf(Var("vexo_stay", "0")) != 0)
            for (;;)
                std::this_thread::sleep_for(std::chrono::seconds(1));
    }

    // The next free name shotNNNN.tga, as the game numbers its screenshots: names taken by
    // files already there are skipped.
    std::string NextShotPath(const std::string& dir) {
        for (;; ++shotNumber_) {
            char name[32];
            std::snprintf(name, sizeof name, "shot%04d.tga", shotNumber_);
            std::string path = dir + "/" + name;
            if (::access(path.c_str(), F_OK) != 0) {
                ++shotNumber_;
                return path;
            }
        }
    }

    // Frame n: an uncompressed 24-bit TGA, bottom-left origin, filled with the colour
    // R = n & 255, G = (n >> 8) & 255, B = 0x5A, its bottom eight rows white.
    bool WriteShot(const std::string& dir, long n, Size size, int splitMs) {
        const size_t rowBytes = static_cast<size_t>(size.width) * 3;
        std::string data(18 + rowBytes * static_cast<size_t>(size.height), '\0');
        unsigned char* h = reinterpret_cast<unsigned char*>(data.data());
        h[2] = 2; // uncompressed true colour
        h[12] = static_cast<unsigned char>(size.width & 255);
        h[13] = static_cast<unsigned char>(size.width >> 8);
        h[14] = static_cast<unsigned char>(size.height & 255);
        h[15] = static_cast<unsigned char>(size.height >> 8);
        h[16] = 24;
        h[17] = 0; // rows from the bottom up
        unsigned char* p = h + 18;
        for (int row = 0; row < size.height; ++row) {
            const bool band = row < 8; // the first rows stored are the bottom of the picture
            for (int x = 0; x < size.width; ++x) {
                *p++ = band ? 255 : 0x5A;                               // blue
                *p++ = band ? 255 : static_cast<unsigned char>(n >> 8); // green
                *p++ = band ? 255 : static_cast<unsigned char>(n);      // red
            }
        }
        const std::string path = NextShotPath(dir);
        std::FILE* f = std::fopen(path.c_str(), "wb");
        if (!f)
            return false;
        bool ok = true;
        if (splitMs > 0) {
            const size_t half = data.size() / 2;
            ok = std::fwrite(data.data(), 1, half, f) == half && std::fflush(f) == 0;
            std::this_thread::sleep_for(std::chrono::milliseconds(splitMs));
            ok = ok &&
                 std::fwrite(data.data() + half, 1, data.size() - half, f) == data.size() - half;
        } else {
            ok = std::fwrite(data.data(), 1, data.size(), f) == data.size();
        }
        return std::fclose(f) == 0 && ok;
    }
};

} // namespace

int main(int argc, char** argv) {
    Game game;
    return game.Run(argc, argv);
}
