// vexo-encode: turns a folder of screenshots into a video (AVI, Matroska or MP4) without the
// game, through the same frame collector and writer the program uses; and completes an AVI
// file whose writer was killed.
#include <charconv>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <mutex>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "frames/avi_file.h"
#include "frames/blend_stage.h"
#include "frames/dir_thread.h"
#include "media/avifile.h"
#include "media/vfw.h"
#include "platform/fs.h"
#include "platform/log.h"
#include "platform/main_queue.h"
#include "platform/memory.h"
#include "settings/codec_settings.h"

namespace {

const char kUsage[] =
    "usage: vexo-encode [--fps N] [--gamma G] [--fourcc CODE | --settings FILE] [--quality Q]\n"
    "                   [--interval MS] [--mask PATTERN] [--consume] [--blend K]\n"
    "                   [--container avi|mkv|mp4] DIR OUT\n"
    "       vexo-encode --repair FILE.avi\n"
    "  --fps N          frames per second of the video (default 25)\n"
    "  --gamma G        output gamma (default 1.0, no change)\n"
    "  --fourcc CODE    compressor by four-character code: DIB, HFYU, FFVH, FFV1, MJPG, FMP4,\n"
    "                   H264, HEVC, VP90, AV01 ... (default uncompressed, AVI only)\n"
    "  --settings FILE  take the compressor from a settings file's \"codec\" section\n"
    "  --quality Q      the compressor's quality in percent, as the Codec dialog's slider\n"
    "                   (default the compressor's own: 68 for H264, 100 where it has none)\n"
    "  --container C    the file: avi (AVI), mkv (Matroska) or mp4 (MP4); default by OUT's\n"
    "                   extension (.avi, .mkv, .mp4), else the settings file's, else avi\n"
    "  --interval MS    pause before each look into DIR (default 1000)\n"
    "  --mask PATTERN   screenshot file names (default shot*.tga)\n"
    "  --consume        empty and delete the screenshots used, as the program does\n"
    "  --blend K        motion blur: the screenshots were captured at K times the rate (K = 2,\n"
    "                   4, 8, 16 or 32); every K of them are averaged into one frame\n"
    "  --repair         rewrite FILE.avi, left unfinished by a recording that was killed,\n"
    "                   into a complete AVI file with every frame it holds (nothing is\n"
    "                   re-encoded)\n";

// The causes the log has given since the last error: printed under it, one a line. The log
// file keeps them too.
class Causes {
public:
    Causes() {
        vexo::platform::SetLogToStandardError(false);
        vexo::platform::SetLogListener([this](const std::string& line) {
            std::lock_guard<std::mutex> lock(mutex_);
            lines_.push_back(line);
        });
    }
    ~Causes() { vexo::platform::SetLogListener({}); }
    Causes(const Causes&) = delete;
    Causes& operator=(const Causes&) = delete;

    // Prints an error line and the causes logged before it.
    void Print(const std::string& error) {
        std::lock_guard<std::mutex> lock(mutex_);
        std::fprintf(stderr, "%s\n", error.c_str());
        for (const std::string& line : lines_)
            std::fprintf(stderr, "  %s\n", line.c_str());
        lines_.clear();
    }

private:
    std::mutex mutex_;
    std::vector<std::string> lines_;
};

int Usage(const char* problem) {
    if (problem)
        std::fprintf(stderr, "vexo-encode: %s\n", problem);
    std::fputs(kUsage, stderr);
    return 2;
}

// Completes an AVI file that was never finished.
int Repair(const std::string& path, Causes& causes) {
    if (!vexo::platform::FileExists(path)) {
        std::fprintf(stderr, "vexo-encode: %s not found\n", path.c_str());
        return 2;
    }
    int32_t frames = 0;
    vexo::media::AVIFileInit(); // the reader's complaints about the cut it finds are expected
    const long ret = vexo::media::AVIFileRepair(path.c_str(), &frames);
    vexo::media::AVIFileExit();
    if (ret == vexo::media::AVIERR_FILEOPEN) {
        causes.Print("vexo-encode: " + path + " cannot be read as an AVI file");
        return 1;
    }
    if (ret != vexo::media::AVIERR_OK) {
        causes.Print("vexo-encode: the repaired copy of " + path +
                     " cannot be written; the file is left as it was");
        return 1;
    }
    std::fprintf(stderr, "Repaired %s: %d frames\n", path.c_str(), frames);
    return 0;
}

bool ParseInt(const char* text, long min, long max, int& out) {
    char* end = nullptr;
    errno = 0;
    long v = std::strtol(text, &end, 10);
    if (errno || !end || *end || end == text || v < min || v > max)
        return false;
    out = static_cast<int>(v);
    return true;
}

} // namespace

int main(int argc, char** argv) {
    using namespace vexo;
    platform::ReturnLargeBlocksWhenFreed();
    Causes causes;
    int fps = 25;
    float gamma = 1.0f;
    int interval = 1000;
    std::string mask = "shot*.tga";
    std::string fourcc, settings;
    std::optional<media::Container> container;
    int quality = -1; // the compressor's own where it has one, else 100
    bool consume = false;
    int blend = 1;
    std::string dir, out, repair;
    for (int i = 1; i < argc; ++i) {
        std::string a = argv[i];
        auto value = [&](const char* name) -> const char* {
            if (i + 1 >= argc) {
                std::fprintf(stderr, "vexo-encode: %s needs a value\n", name);
                return nullptr;
            }
            return argv[++i];
        };
        if (a == "--fps") {
            const char* v = value("--fps");
            if (!v || !ParseInt(v, 1, 1000, fps))
                return Usage("--fps takes a whole number from 1 to 1000");
        } else if (a == "--gamma") {
            const char* v = value("--gamma");
            const char* end = nullptr;
            if (!v)
                return Usage(nullptr);
            const auto parsed = std::from_chars(v, v + std::strlen(v), gamma); // "." in any locale
            end = parsed.ec == std::errc() ? parsed.ptr : nullptr;
            if (!end || *end || end == v || !(gamma >= 0.0f && gamma <= 10.0f))
                return Usage("--gamma takes a number from 0 to 10");
        } else if (a == "--fourcc") {
            const char* v = value("--fourcc");
            if (!v || std::strlen(v) < 1 || std::strlen(v) > 4)
                return Usage("--fourcc takes one to four characters");
            fourcc = v;
        } else if (a == "--settings") {
            const char* v = value("--settings");
            if (!v)
                return Usage(nullptr);
            settings = v;
        } else if (a == "--quality") {
            const char* v = value("--quality");
            if (!v || !ParseInt(v, 0, 100, quality))
                return Usage("--quality takes a percentage from 0 to 100");
        } else if (a == "--interval") {
            const char* v = value("--interval");
            if (!v || !ParseInt(v, 0, 600000, interval))
                return Usage("--interval takes milliseconds from 0 to 600000");
        } else if (a == "--mask") {
            const char* v = value("--mask");
            if (!v || !*v)
                return Usage("--mask takes a pattern");
            mask = v;
        } else if (a == "--container") {
            const char* v = value("--container");
            if (!v || !(container = media::ContainerFromKey(v)))
                return Usage("--container takes avi, mkv or mp4");
        } else if (a == "--consume") {
            consume = true;
        } else if (a == "--blend") {
            const char* v = value("--blend");
            if (!v || !ParseInt(v, 1, 32, blend) || !FrameBlender::ValidSubFrames(blend))
                return Usage("--blend takes 2, 4, 8, 16 or 32 sub-frames per frame");
        } else if (a == "--repair") {
            const char* v = value("--repair");
            if (!v || !*v)
                return Usage("--repair takes an AVI file");
            repair = v;
        } else if (a == "-h" || a == "--help") {
            std::fputs(kUsage, stdout);
            return 0;
        } else if (!a.empty() && a[0] == '-') {
            return Usage(("unknown option " + a).c_str());
        } else if (dir.empty()) {
            dir = a;
        } else if (out.empty()) {
            out = a;
        } else {
            return Usage("too many arguments");
        }
    }
    if (!repair.empty()) {
        if (argc != 3)
            return Usage("--repair takes one AVI file and nothing else");
        return Repair(repair, causes);
    }
    if (dir.empty() || out.empty())
        return Usage("DIR and OUT are needed");
    if (!fourcc.empty() && !settings.empty())
        return Usage("--fourcc and --settings exclude each other");
    if (!platform::DirectoryExists(dir)) {
        std::fprintf(stderr, "vexo-encode: %s is not a directory\n", dir.c_str());
        return 2;
    }
    while (dir.size() > 1 && dir.back() == platform::kPathSep)
        dir.pop_back();

    CAviFile writer;
    if (!settings.empty()) {
        if (!platform::FileExists(settings)) {
            std::fprintf(stderr, "vexo-encode: settings file %s not found\n", settings.c_str());
            return 2;
        }
        if (!LoadCodecSettings(settings, &writer.CodecVars)) {
            std::fprintf(stderr, "vexo-encode: the codec settings in %s cannot be used\n",
                         settings.c_str());
            return 2;
        }
    } else {
        ResetCodecSettings(&writer.CodecVars, true);
        writer.CodecVars.fccType = media::ICTYPE_VIDEO;
        if (!fourcc.empty()) {
            fourcc.resize(4, ' ');
            writer.CodecVars.fccHandler =
                media::MakeFourCC(fourcc[0], fourcc[1], fourcc[2], fourcc[3]);
            writer.CodecVars.hic = media::ICOpen(media::ICTYPE_VIDEO, writer.CodecVars.fccHandler,
                                                 media::ICMODE_COMPRESS);
            const media::FOURCC code = writer.CodecVars.fccHandler;
            if (!writer.CodecVars.hic && code != media::FOURCC_DIB &&
                code != media::kDefaultFourCC) {
                std::fprintf(stderr, "vexo-encode: no compressor serves %s\n", fourcc.c_str());
                return 2;
            }
        } else {
            writer.CodecVars.fccHandler = media::kDefaultFourCC;
        }
        // The quality the dialog starts a compressor at, as the dialog's slider shows it.
        for (const media::CompressorInfo& info : media::ICEnumerateAllCompressors())
            if (info.fourcc == writer.CodecVars.fccHandler && info.defaultQuality >= 0)
                writer.CodecVars.lQ = info.defaultQuality;
    }
    if (quality >= 0)
        writer.CodecVars.lQ = quality * 100;

    media::OutputFormat output;
    if (container)
        output.container = *container;
    else if (const auto byName = media::ContainerOfPath(out))
        output.container = *byName;
    else if (!settings.empty())
        output.container = LoadOutputFormat(settings).container;
    output = media::Fitted(output);
    if (!media::ICHeldBy(writer.CodecVars.fccHandler, output.container)) {
        const char* file = output.container == media::Container::Matroska ? "a Matroska"
                           : output.container == media::Container::Mp4    ? "an MP4"
                                                                          : "an AVI";
        std::fprintf(stderr, "vexo-encode: %s file cannot hold the compressor %s (%s)\n", file,
                     media::FourCCToString(writer.CodecVars.fccHandler).c_str(),
                     media::ICGetName(writer.CodecVars.fccHandler).c_str());
        return 2;
    }

    const int present = platform::CountMatchingFiles(dir + platform::kPathSep + mask);
    if (!writer.Open(out, 640, 480, fps, 1, output)) {
        causes.Print("vexo-encode: cannot create " + out);
        writer.Close(0);
        return 1;
    }
    writer.SetGamma(gamma);

    platform::MainThreadQueue queue;
    bool failed = false;
    CollectorUi ui;
    ui.Progress = [](const FrameProgress& p) {
        std::fprintf(stderr, "%s\n", FrameStatusText(p).c_str());
    };
    ui.ErrorBox = [&failed, &causes](const std::string& text) {
        failed = true;
        causes.Print("Error: " + text);
    };
    auto collector = TDirThread::Create(queue, ui);
    collector->SetDirectory(dir);
    collector->SetMask(mask);
    collector->Interval = interval;
    collector->Writer = &writer;
    collector->Consume = consume;
    if (blend > 1)
        collector->AddStage(std::make_unique<BlendStage>(blend));
    collector->Resume();
    while (collector->Active()) {
        queue.Drain();
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
    writer.Close(0);
    collector->Terminate();
    while (!collector->CleanupDone()) {
        queue.Drain();
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
    queue.Drain();
    const int frames = collector->FrameCounter();
    if (failed || frames < present) {
        if (!failed)
            std::fprintf(stderr, "Error: %d of %d screenshots became frames.\n", frames, present);
        return 1;
    }
    std::fprintf(stderr, "Wrote %d frames to %s\n", frames, out.c_str());
    return 0;
}
