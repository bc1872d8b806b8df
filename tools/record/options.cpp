#include "options.h"

#include <algorithm>
#include <cerrno>
#include <charconv>
#include <cstring>
#include <filesystem>
#include <unistd.h>

#include "controls/main_controls.h"
#include "game/demo_length.h"
#include "game/discovery.h"
#include "game/engine.h"
#include "game/game_script.h"
#include "game/lists.h"
#include "platform/fs.h"
#include "platform/log.h"
#include "run/run_texts.h"
#include "settings/codec_settings.h"
#include "settings/ini.h"
#include "util/no_case.h"
#include "util/path.h"

namespace vexo::record {

const char kUsage[] =
    "usage: vexo-record [OPTIONS] DEMO...\n"
    "       vexo-record [OPTIONS] --all\n"
    "       vexo-record [OPTIONS] --list-demos | --list-compressors\n"
    "Records demos into videos with the game, without a window. Every option not given\n"
    "is taken from the settings file the window uses (vexo.ini), else the window's default.\n"
    "A DEMO is a name in the modification's demo list (loose or packed; \".dm_NN\" may be\n"
    "left out) or the path of a demo file.\n"
    "\n"
    "  --settings FILE         read the options from this settings file instead\n"
    "  --game DIR              the game folder (\"Quake III Arena Path\")\n"
    "  --mod NAME              the modification (default: the last one used, else the\n"
    "                          base game)\n"
    "  --config NAME           the game config to record with (default: the last one used)\n"
    "  --resolution MODE       0 to 11, or WIDTHxHEIGHT: 320x240 400x300 512x384 640x480\n"
    "                          800x600 960x720 1024x768 1152x864 1280x1024 1600x1200\n"
    "                          2048x1536 856x480 (default 640x480)\n"
    "  --fps N                 frames the game captures per second of the demo, 1 to 100\n"
    "  --avi-fps N             frames per second of the video, 1 to 100\n"
    "  --timescale X           the game's speed while it records, a number above 0\n"
    "  --gamma G               output gamma, 0 to 10 (default 1.0: no change)\n"
    "  --motion-blur K         blend each frame of K sub-frames the game captures: 2, 4, 8,\n"
    "                          16 or 32; 1 is off\n"
    "  --codec NAME|FOURCC     the compressor, by name or four-character code\n"
    "  --list-compressors      list the compressors (code, name, containers) and exit\n"
    "  --container C           the videos' container: avi, mkv (Matroska) or mp4\n"
    "  --sound S               their sound: pcm (AVI, Matroska), aac (MP4) or opus\n"
    "                          (Matroska); default: the container's first\n"
    "  --realtime, --no-realtime\n"
    "                          take the frames while the game still runs, or after it\n"
    "  --draw-2d, --no-draw-2d draw the game's 2D elements (the HUD) or not\n"
    "  --draw-gun, --no-draw-gun\n"
    "                          draw the gun or not\n"
    "  --windowed, --fullscreen\n"
    "                          run the game in a window or full screen\n"
    "  --output DIR            the folder the videos go into (made when missing)\n"
    "  --all                   record every demo of the modification\n"
    "  --list-demos            list the modification's demos and exit\n"
    "  --jobs N                record N demos at a time (engines of the ioquake3 family;\n"
    "                          the original game records one at a time), each game on a\n"
    "                          virtual display of its own\n"
    "  --json                  one JSON object per demo on standard output: demo, video,\n"
    "                          frames, video_seconds, seconds_taken, sound, result\n"
    "                          (recorded, failed, stopped), reason; the other lines go to\n"
    "                          standard error\n"
    "  -h, --help              show this text and exit\n"
    "\n"
    "Without DISPLAY the game runs on a virtual display (Xvfb) of its own. No question is\n"
    "asked: each gets the safe answer, no, as the output says. On a terminal each demo under\n"
    "way shows a progress bar, its frames, its place in the demo of the demo's length (read\n"
    "from the demo file), the time it has taken and the time left at the pace of its frames\n"
    "(unknown until they come, or for a demo whose length cannot be read); otherwise each\n"
    "event is one line. Ctrl-C ends the game, keeps what was recorded of the demo as its\n"
    "failed video, and exits with 130.\n"
    "Exit codes: 0 every demo recorded, 1 some failed, 2 bad usage or settings.\n";

using media::COMPVARS, media::CompressorInfo, media::FOURCC;

namespace {

constexpr char kSep = platform::kPathSep;

bool ParseInt(const std::string& text, int min, int max, int& out) {
    int value = 0;
    const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), value);
    if (error != std::errc() || end != text.data() + text.size() || value < min || value > max)
        return false;
    out = value;
    return true;
}

// The resolution item a mode number or a size names; -1 for none.
int ModeFromText(const std::string& text) {
    int mode = -1;
    const auto& items = ResolutionItems();
    if (ParseInt(text, 0, static_cast<int>(items.size()) - 1, mode))
        return mode;
    std::string compact;
    for (const char c : text)
        if (c != ' ')
            compact += static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    for (size_t i = 0; i < items.size(); ++i) {
        std::string size = items[i].substr(items[i].find(" - ") + 3);
        size.erase(std::remove(size.begin(), size.end(), ' '), size.end());
        if (size == compact)
            return static_cast<int>(i);
    }
    return -1;
}

// The item of a list that equals the text without regard to case; empty for none.
std::string ItemNoCase(const std::vector<std::string>& items, const std::string& text) {
    for (const std::string& item : items)
        if (EqualNoCase(item, text))
            return item;
    return {};
}

std::string Joined(const std::vector<std::string>& items) {
    std::string text;
    for (const std::string& item : items)
        text += (text.empty() ? "" : ", ") + item;
    return text.empty() ? "none" : text;
}

std::string Trimmed(std::string text) {
    while (!text.empty() && text.back() == ' ')
        text.pop_back();
    return text;
}

bool SameFile(const std::string& a, const std::string& b) {
    std::string x, y;
    return platform::ReadFileText(a, x) && platform::ReadFileText(b, y) && x == y;
}

} // namespace

bool ParseArguments(int argc, const char* const* argv, RecordOptions& o, std::string& error) {
    bool demosOnly = false;
    for (int i = 1; i < argc; ++i) {
        const std::string a = argv[i];
        if (demosOnly || a.empty() || a[0] != '-') {
            o.demos.push_back(a);
            continue;
        }
        std::string v;
        auto value = [&]() {
            if (i + 1 >= argc) {
                error = a + " needs a value";
                return false;
            }
            v = argv[++i];
            return true;
        };
        auto flag = [&](const char* on, const char* off, std::optional<bool>& target) {
            if (a == on)
                target = true;
            else if (a == off)
                target = false;
            else
                return false;
            return true;
        };
        int number = 0;
        if (a == "--") {
            demosOnly = true;
        } else if (a == "-h" || a == "--help") {
            o.help = true;
        } else if (a == "--all") {
            o.all = true;
        } else if (a == "--json") {
            o.json = true;
        } else if (a == "--list-compressors") {
            o.listCompressors = true;
        } else if (a == "--list-demos") {
            o.listDemos = true;
        } else if (a == "--job") {
            o.job = true;
        } else if (flag("--realtime", "--no-realtime", o.realtime) ||
                   flag("--draw-2d", "--no-draw-2d", o.draw2D) ||
                   flag("--draw-gun", "--no-draw-gun", o.drawGun) ||
                   flag("--windowed", "--fullscreen", o.windowed)) {
        } else if (a == "--settings" || a == "--game" || a == "--mod" || a == "--config" ||
                   a == "--output" || a == "--codec") {
            if (!value())
                return false;
            if (v.empty()) {
                error = a + " needs a value";
                return false;
            }
            if (a == "--settings")
                o.settingsFile = v;
            else
                (a == "--game"     ? o.game
                 : a == "--mod"    ? o.mod
                 : a == "--config" ? o.config
                 : a == "--output" ? o.output
                                   : o.codec) = v;
        } else if (a == "--resolution") {
            if (!value())
                return false;
            o.mode = ModeFromText(v);
            if (*o.mode < 0) {
                error = "--resolution takes 0 to 11 or one of the sizes listed, not \"" + v + "\"";
                return false;
            }
        } else if (a == "--fps" || a == "--avi-fps") {
            if (!value())
                return false;
            if (!ParseInt(v, 1, 100, number)) {
                error = a + " takes a whole number from 1 to 100, not \"" + v + "\"";
                return false;
            }
            (a == "--fps" ? o.fps : o.aviFps) = number;
        } else if (a == "--timescale") {
            if (!value())
                return false;
            if (!IsPositiveTimeScale(v)) {
                error = "--timescale takes a number above 0, such as 1.0 or 0.5, not \"" + v + "\"";
                return false;
            }
            o.timeScale = v;
        } else if (a == "--gamma") {
            if (!value())
                return false;
            float gamma = 0;
            const auto [end, e] = std::from_chars(v.data(), v.data() + v.size(), gamma);
            if (e != std::errc() || end != v.data() + v.size() || !(gamma >= 0 && gamma <= 10)) {
                error = "--gamma takes a number from 0 to 10, not \"" + v + "\"";
                return false;
            }
            o.gamma = gamma;
        } else if (a == "--motion-blur") {
            if (!value())
                return false;
            if (!ParseInt(v, 1, 32, number) || !IsMotionBlurChoice(number)) {
                error = "--motion-blur takes 1 (off), 2, 4, 8, 16 or 32, not \"" + v + "\"";
                return false;
            }
            o.subFrames = number;
        } else if (a == "--container") {
            if (!value())
                return false;
            if (!(o.container = media::ContainerFromKey(v))) {
                error = "--container takes avi, mkv or mp4, not \"" + v + "\"";
                return false;
            }
        } else if (a == "--sound") {
            if (!value())
                return false;
            if (!(o.sound = media::SoundFromKey(v))) {
                error = "--sound takes pcm, aac or opus, not \"" + v + "\"";
                return false;
            }
        } else if (a == "--jobs") {
            if (!value())
                return false;
            if (!ParseInt(v, 1, 64, o.jobs)) {
                error = "--jobs takes a whole number from 1 to 64, not \"" + v + "\"";
                return false;
            }
        } else {
            error = "unknown option " + a;
            return false;
        }
    }
    return true;
}

bool ResolveOptions(RecordOptions& o, std::string& error) {
    if (o.settingsFile.empty())
        o.settingsFile = SettingsFilePath();
    else if (!platform::FileExists(o.settingsFile)) {
        error = "the settings file " + o.settingsFile + " is not there";
        return false;
    }
    const std::string ini = o.settingsFile;
    if (!o.windowed)
        o.windowed = ReadIniBool(ini, "settings", "windowed", true);
    if (!o.realtime)
        o.realtime = ReadIniBool(ini, "settings", "realtime", false);
    if (!o.draw2D)
        o.draw2D = ReadIniBool(ini, "settings", "draw2D", false);
    if (!o.drawGun)
        o.drawGun = ReadIniBool(ini, "settings", "drawGun", true);
    auto stored = [&ini, &error](const char* key, int fallback, const char* flag, int& out) {
        out = ReadIniInteger(ini, "settings", key, fallback);
        if (out >= 1 && out <= 100)
            return true;
        error = "the settings file has " + std::to_string(out) + " for " + key +
                ", which cannot be used: give " + flag + " from 1 to 100";
        return false;
    };
    int number = 0;
    if (!o.aviFps) {
        if (!stored("avifps", 25, "--avi-fps", number))
            return false;
        o.aviFps = number;
    }
    if (!o.fps) {
        if (!stored("fps", 35, "--fps", number))
            return false;
        o.fps = number;
    }
    if (!o.timeScale) {
        o.timeScale = ReadIniString(ini, "settings", "timescale", "1.0");
        if (!IsPositiveTimeScale(*o.timeScale)) {
            error = "the settings file's timescale \"" + *o.timeScale +
                    "\" is not a number above 0: give --timescale";
            return false;
        }
    }
    if (!o.subFrames)
        o.subFrames = MotionBlurSubFrames(ini);
    if (!o.mode)
        o.mode = 3; // 640 x 480, as the window starts
    if (!o.gamma)
        o.gamma = 1.0f;
    if (!o.output) {
        o.output = ReadIniString(ini, "paths", "output", DefaultOutputDirectory());
        if (!platform::DirectoryExists(*o.output))
            o.output = DefaultOutputDirectory();
    }

    if (!o.game) {
        o.game = ReadIniString(ini, "paths", "quake", "");
        if (o.game->empty())
            o.game = FindInstalledGame();
        if (o.game->empty()) {
            error = "no game folder is set and none is installed where the program looks: "
                    "give the game's folder with --game";
            return false;
        }
    }
    const std::vector<std::string> mods = ListGameModifications(*o.game);
    if (mods.empty()) {
        error = "there is no game in \"" + *o.game +
                "\": no folder there holds the game's pk3 files. Give the game's folder with "
                "--game";
        return false;
    }
    if (o.mod) {
        const std::string mod = ItemNoCase(mods, *o.mod);
        if (mod.empty()) {
            error = "the game in \"" + *o.game + "\" has no modification \"" + *o.mod +
                    "\"; it has " + Joined(mods);
            return false;
        }
        o.mod = mod;
    } else {
        const std::string base = FindBaseGame(*o.game);
        o.mod = ItemNoCase(mods, ReadIniString(ini, "settings", "lastmod", ""));
        if (o.mod->empty())
            o.mod = ItemNoCase(mods, base.empty() ? "baseq3" : base);
        if (o.mod->empty()) {
            error = "no modification is chosen: give one with --mod (" + Joined(mods) + ")";
            return false;
        }
    }

    const std::vector<std::string> configs = ListConfigs();
    if (o.config) {
        const std::string config = ItemNoCase(configs, *o.config);
        if (config.empty()) {
            error = "there is no config \"" + *o.config + "\" in the program's configs (" +
                    Joined(configs) + ")";
            return false;
        }
        o.config = config;
    } else {
        o.config = ItemNoCase(configs, ReadIniString(ini, "settings", "lastcfg", "default.cfg"));
        if (o.config->empty())
            o.config = configs.empty() ? std::string() : configs.front();
        if (o.config->empty()) {
            error = "the program's configs folder holds no config: put one there (such as our "
                    "default.cfg) or give --config";
            return false;
        }
    }
    // The kind of file: the flags, else the settings file's (its sound only with its
    // container).
    const media::OutputFormat kept = LoadOutputFormat(ini);
    if (!o.container)
        o.container = kept.container;
    if (!o.sound)
        o.sound =
            *o.container == kept.container ? kept.sound : media::SoundsOf(*o.container).front();
    if (media::Fitted({*o.container, *o.sound}).sound != *o.sound) {
        error = "--sound " + media::SoundKey(*o.sound) + " does not go into " +
                media::ContainerName(*o.container) + " files: they take " +
                media::SoundKey(media::SoundsOf(*o.container).front()) +
                (*o.container == media::Container::Matroska ? " or opus" : "");
        return false;
    }
    FOURCC code = 0;
    if (o.codec && !FindCompressor(*o.codec, code, error))
        return false;
    if (o.codec && !media::ICHeldBy(code, *o.container)) {
        error = ContainerRefusesText(media::ICGetName(code), media::ContainerName(*o.container));
        return false;
    }
    return true;
}

bool FindCompressor(const std::string& text, FOURCC& code, std::string& error) {
    std::vector<const CompressorInfo*> fits;
    const std::vector<CompressorInfo> all = media::ICEnumerateAllCompressors();
    for (const CompressorInfo& c : all)
        if (EqualNoCase(Trimmed(media::FourCCToString(c.fourcc)), Trimmed(text)) ||
            EqualNoCase(c.name, text)) {
            code = c.fourcc;
            return true;
        }
    for (const CompressorInfo& c : all)
        if (c.name.size() >= text.size() && EqualNoCase(c.name.substr(0, text.size()), text))
            fits.push_back(&c);
    if (fits.size() == 1) {
        code = fits.front()->fourcc;
        return true;
    }
    std::vector<std::string> names;
    for (const CompressorInfo* c : fits)
        names.push_back(c->name);
    error = fits.empty() ? "no compressor is called \"" + text +
                               "\" (vexo-record --list-compressors lists them)"
                         : "\"" + text + "\" may be any of " + Joined(names) +
                               ": give more of the name, or the code";
    return false;
}

std::string CompressorList() {
    std::string text;
    for (const CompressorInfo& c : media::ICEnumerateAllCompressors()) {
        text += media::FourCCToString(c.fourcc) + "  " + c.name + "  (";
        for (media::Container container : media::Containers())
            if (media::ICHeldBy(c.fourcc, container)) {
                if (text.back() != '(')
                    text += ' ';
                text += media::ContainerKey(container);
            }
        text += ")\n";
    }
    return text;
}

RunRequest RequestFor(const RecordOptions& o, const std::string& nameSuffix) {
    RunRequest r;
    r.BaseDir = *o.game;
    r.ModName = *o.mod;
    r.ConfigItem = *o.config;
    r.ConfigChosen = true;
    r.ProgramDir = platform::ProgramDirectory();
    r.Capture.Draw2D = *o.draw2D;
    r.Capture.DrawGun = *o.drawGun;
    r.Capture.ModeIndex = *o.mode;
    r.Capture.Windowed = *o.windowed;
    r.Capture.CaptureRate = std::to_string(*o.fps);
    r.Capture.TimeScale = *o.timeScale;
    r.AviRate = std::to_string(*o.aviFps);
    r.Gamma = o.gamma;
    r.OutDir = *o.output;
    r.Realtime = *o.realtime;
    r.SubFrames = *o.subFrames;
    r.NameSuffix = nameSuffix;
    r.Output = {*o.container, *o.sound};
    if (o.codec) {
        FOURCC code = 0;
        std::string ignored;
        FindCompressor(*o.codec, code, ignored);
        r.LoadCodec = [code](COMPVARS* vars) {
            ResetCodecSettings(vars, true);
            vars->fccType = media::ICTYPE_VIDEO;
            vars->fccHandler = code;
            vars->hic = media::ICOpen(media::ICTYPE_VIDEO, code, media::ICMODE_COMPRESS);
            return vars->hic != nullptr || media::ICIsUncompressed(code);
        };
    } else {
        r.LoadCodec = [ini = o.settingsFile](COMPVARS* vars) {
            return LoadCodecSettings(ini, vars);
        };
    }
    return r;
}

std::vector<std::string> JobArguments(const RecordOptions& o, const std::string& demo) {
    char gamma[32];
    const auto written = std::to_chars(gamma, gamma + sizeof gamma, *o.gamma);
    std::vector<std::string> args = {"--job",
                                     "--settings",
                                     o.settingsFile,
                                     "--game",
                                     *o.game,
                                     "--mod",
                                     *o.mod,
                                     "--config",
                                     *o.config,
                                     "--resolution",
                                     std::to_string(*o.mode),
                                     "--fps",
                                     std::to_string(*o.fps),
                                     "--avi-fps",
                                     std::to_string(*o.aviFps),
                                     "--timescale",
                                     *o.timeScale,
                                     "--gamma",
                                     std::string(gamma, written.ptr),
                                     "--motion-blur",
                                     std::to_string(*o.subFrames),
                                     "--output",
                                     *o.output,
                                     "--container",
                                     media::ContainerKey(*o.container),
                                     "--sound",
                                     media::SoundKey(*o.sound),
                                     *o.realtime ? "--realtime" : "--no-realtime",
                                     *o.draw2D ? "--draw-2d" : "--no-draw-2d",
                                     *o.drawGun ? "--draw-gun" : "--no-draw-gun",
                                     *o.windowed ? "--windowed" : "--fullscreen"};
    if (o.codec) {
        args.push_back("--codec");
        args.push_back(*o.codec);
    }
    args.push_back("--");
    args.push_back(demo);
    return args;
}

std::vector<std::string> ListedDemos(const RecordOptions& o) {
    return ListModDemos(ModDirectoryPaths(*o.game, *o.mod, kSep));
}

std::optional<double> ListedDemoLength(const RecordOptions& o, const std::string& demo) {
    return ModDemoLength(ModDirectoryPaths(*o.game, *o.mod, kSep), demo);
}

DemoSelection::~DemoSelection() {
    for (const std::string& copy : copies_)
        platform::DeleteFileAt(copy);
    if (!madeFolder_.empty())
        platform::RemoveEmptyDirectory(madeFolder_);
}

bool DemoSelection::Select(const RecordOptions& o, std::string& error) {
    namespace fs = std::filesystem;
    const std::vector<std::string> listed = ListedDemos(o);
    const std::vector<std::string> modDirs = ModDirectoryPaths(*o.game, *o.mod, kSep);
    auto add = [this](const std::string& item) {
        for (const RunDemo& d : demos_)
            if (EqualNoCase(d.Item, item))
                return;
        demos_.push_back({item, -1});
    };
    if (o.all)
        for (const std::string& item : listed)
            add(item);
    for (const std::string& given : o.demos) {
        const bool path = given.find(kSep) != std::string::npos;
        if (!path) {
            std::string item = ItemNoCase(listed, given);
            if (item.empty()) {
                std::vector<std::string> fits;
                for (const std::string& d : listed)
                    if (EqualNoCase(DemoBaseName(d), given))
                        fits.push_back(d);
                if (fits.size() > 1) {
                    error =
                        "\"" + given + "\" may be any of " + Joined(fits) + ": give the whole name";
                    return false;
                }
                if (!fits.empty())
                    item = fits.front();
            }
            if (!item.empty()) {
                add(item);
                continue;
            }
            if (!platform::FileExists(given)) {
                error = "there is no demo \"" + given + "\" in " + *o.mod +
                        "'s demos, nor a file of that name (vexo-record --list-demos lists "
                        "the demos)";
                return false;
            }
        }
        if (!platform::FileExists(given)) {
            error = "the demo file " + given + " is not there";
            return false;
        }
        std::error_code ec;
        const fs::path file = fs::canonical(given, ec);
        const std::string name = file.filename().string();
        if (ec || name.find(".dm_") == std::string::npos || !IsSafeDemoName(name)) {
            error = "the file " + given +
                    " cannot be played as a demo: its name must end in \".dm_\" and the "
                    "protocol's number (such as .dm_68 or .dm_71) and hold no quote";
            return false;
        }
        bool inside = false;
        for (const std::string& dir : modDirs)
            if (fs::equivalent(file.parent_path(), fs::path(dir) / "demos", ec))
                inside = true;
        if (inside) {
            add(ItemNoCase(listed, name).empty() ? name : ItemNoCase(listed, name));
            continue;
        }
        // The engine plays demos from its demos folders only: the file goes into the one it
        // writes to (the modification's folder in a packaged game's home).
        const std::string home = platform::ResolvePathCase(modDirs.front());
        const std::string folder = JoinPath(home, "demos", kSep);
        const std::string target = JoinPath(folder, name, kSep);
        const std::string there = ItemNoCase(listed, name);
        if (platform::FileExists(target) && SameFile(target, file.string())) {
            add(there.empty() ? name : there);
            continue;
        }
        if (!there.empty()) {
            error = "the game already has a different demo called " + there + " (in " + *o.mod +
                    "'s demos): rename " + given + " to record it";
            return false;
        }
        if (!platform::DirectoryExists(folder)) {
            if (!platform::CreateDirectoryPath(folder)) {
                error = "the folder " + folder + " cannot be made to play " + given +
                        " from: " + platform::SystemErrorText(errno);
                return false;
            }
            madeFolder_ = folder;
        }
        if (!platform::CopyFileReplacing(file.string(), target)) {
            error = "the demo " + given + " cannot be copied to " + target +
                    ", where the game plays it from: " + platform::SystemErrorText(errno);
            return false;
        }
        copies_.push_back(target);
        add(name);
    }
    return true;
}

} // namespace vexo::record
