// vexo-record's command line, and the recording it asks for: every option from its flag,
// else from the settings file the window uses (vexo.ini), else the window's own default.
#pragma once

#include <optional>
#include <string>
#include <vector>

#include "media/vfw.h"
#include "run/run_request.h"

namespace vexo::record {

extern const char kUsage[];

struct RecordOptions {
    std::string settingsFile; // --settings; empty: the window's vexo.ini
    std::optional<std::string> game, mod, config, output, codec, timeScale;
    std::optional<int> mode, fps, aviFps, subFrames;
    std::optional<media::Container> container; // --container
    std::optional<media::SoundCodec> sound;    // --sound
    std::optional<float> gamma;
    std::optional<bool> realtime, draw2D, drawGun, windowed;
    std::vector<std::string> demos; // names and paths, as given
    bool all = false;
    bool json = false;
    bool listCompressors = false;
    bool listDemos = false;
    bool help = false;
    int jobs = 1;
    bool job = false; // started by a recorder with --jobs, for one demo
};

// The options a command line gives. False, with what is wrong in error, for bad usage.
bool ParseArguments(int argc, const char* const* argv, RecordOptions& options, std::string& error);

// Fills every option the command line left open from the settings file or the window's
// defaults, and checks that the game, its modification and the config are there. False,
// with what to fix in error, when they are not.
bool ResolveOptions(RecordOptions& options, std::string& error);

// The compressor a name or a four-character code stands for (without regard to case; a
// name may be shortened to any beginning that fits one compressor only). False, with why in
// error, for none or more than one.
bool FindCompressor(const std::string& text, media::FOURCC& code, std::string& error);
// The compressors this machine offers, one a line: the code, the name, and the containers that
// hold it.
std::string CompressorList();

// The recording the resolved options ask for, without its demos. nameSuffix follows the
// names of the temporary config and the engine's recording.
RunRequest RequestFor(const RecordOptions& resolved, const std::string& nameSuffix);

// The command line arguments of a job that records one demo with the same resolved options.
std::vector<std::string> JobArguments(const RecordOptions& resolved, const std::string& demo);

// The demos the options name: --all gives every demo of the modification's list (its loose
// and packed demos); a name is a demo of that list (the name as listed, or without its
// extension); a path (one that holds a separator, or a file that is no name of the list) is
// the file itself. A file outside the modification's demos folders is copied into the one the
// engine reads (the game plays demos from there only) and removed again when the selection
// ends; one of the same name and content already there is used as it is.
class DemoSelection {
public:
    DemoSelection() = default;
    ~DemoSelection();
    DemoSelection(const DemoSelection&) = delete;
    DemoSelection& operator=(const DemoSelection&) = delete;

    bool Select(const RecordOptions& resolved, std::string& error);
    const std::vector<RunDemo>& Demos() const { return demos_; }

private:
    std::vector<RunDemo> demos_;
    std::vector<std::string> copies_; // files copied in, removed at the end
    std::string madeFolder_;          // the demos folder when it was made for a copy
};

// Every demo of the modification's list, as --all takes them.
std::vector<std::string> ListedDemos(const RecordOptions& resolved);
// The length in seconds of a demo of the list (DemoSelection's item), when it can be read.
std::optional<double> ListedDemoLength(const RecordOptions& resolved, const std::string& demo);

} // namespace vexo::record
