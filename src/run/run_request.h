// A recording run as plain values: what to record (RunRequest) and who hears about it
// (RunObserver). The window builds the request from its controls and is one observer; a test
// is another; a command-line recorder is a third. The run knows no control.
#pragma once

#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "frames/frame_progress.h"
#include "game/game_script.h"
#include "media/output_format.h"
#include "media/vfw.h"

namespace vexo {

// One demo of a run: its name as the demo list shows it ("demo1.dm_68") and its place in
// that list (-1 where there is no list).
struct RunDemo {
    std::string Item;
    int ListIndex = -1;
};

struct RunRequest {
    // The game: its directory as typed, the modification, and the config item (a file name
    // in the program's config folders) with whether one is chosen at all.
    std::string BaseDir;
    std::string ModName;
    std::string ConfigItem;
    bool ConfigChosen = false;
    // The program's folder (with its trailing separator), where the configs are looked up.
    std::string ProgramDir;
    // The capture: draw 2D and gun, resolution, windowed, the capture rate and the
    // timescale, both as typed.
    CaptureOptions Capture;
    // The video: the AVI frame rate as typed, the gamma (none: the writer's own, 1.0), the
    // output folder as shown, and whether frames are taken while the game still runs.
    std::string AviRate;
    std::optional<float> Gamma;
    std::string OutDir;
    bool Realtime = false;
    // Motion blur: the game captures this many sub-frames for every frame of the video, and
    // each group of them is averaged into the frame (1: off; 2, 4, 8, 16 or 32).
    int SubFrames = 1;
    // Fills the writer's compressor record before every demo: the compressor and its
    // state. False when the choice cannot be used.
    std::function<bool(media::COMPVARS*)> LoadCodec;
    // The kind of file each video is written as: its container (which gives the video's
    // extension) and its sound. The compressor must be one the container holds.
    media::OutputFormat Output;
    // The demos to record, in order.
    std::vector<RunDemo> Demos;
    // Follows the names of the temporary config and of the engine's recording (letters,
    // digits and "_"), so that recordings under way at the same time in one game, each in a
    // program of its own, never share a file. Empty: the program's fixed names.
    std::string NameSuffix;
};

// How one demo of a run ended.
struct DemoReport {
    RunDemo Demo;
    bool Recorded = false;   // its video is complete
    std::string Video;       // the complete video, the failed one kept, or empty
    int32_t Frames = 0;      // frames in that video
    double VideoSeconds = 0; // its length
    double SecondsTaken = 0; // from its game's launch to the video's end
    bool Sound = false;      // the video has a sound stream
    std::string Reason;      // why it failed, as the user is told (empty when recorded)
};

class RunObserver {
public:
    virtual ~RunObserver() = default;

    // A text of the status line, shown before the run goes on.
    virtual void Status(const std::string& text) = 0;
    // The text the task bar shows for the program; empty: the program's own title again.
    virtual void Title(const std::string& text) = 0;
    // What the collector is doing with the frames of the demo under way.
    virtual void Progress(const FrameProgress& progress) = 0;
    // A yes/no question with a warning (caption as given); true for yes.
    virtual bool Ask(const std::string& text, const std::string& caption) = 0;
    // A failure the user is told of (caption "Error", error icon); the run waits for it.
    virtual void Failure(const std::string& text) = 0;
    // The user wants to look into a folder (the screenshot folder the checks found full).
    virtual void OpenFolder(const std::string& folder) = 0;
    // The run starts recording / has ended recording (the window is disabled meanwhile; the
    // end also gives the program's title back).
    virtual void RunStarts() = 0;
    virtual void RunEnds() = 0;
    // A demo was recorded into a complete video.
    virtual void DemoRecorded(const RunDemo& demo) = 0;
    // How a demo ended, recorded or not (after DemoRecorded for a recorded one).
    virtual void DemoFinished(const DemoReport&) {}
    // Handles what waits on the observer's thread (a window's pending messages); called
    // often while the run waits.
    virtual void Pump() = 0;
    // True once the user has asked the run to stop.
    virtual bool StopRequested() { return false; }
};

} // namespace vexo
