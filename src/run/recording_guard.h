// The player's own game around a recording. The engine saves its archived settings into the
// player's configs (q3config.cfg) as it plays and when it quits, and the game script's
// settings are archived ones: a RecordingGuard takes a copy of the configs before the game
// script is written and puts them back once the game has ended, so that the script's
// settings hold for the recording only.
//
// While a demo records, a journal of it lies in the program's state folder: the copies, and
// what the recording writes besides the video (the temporary config, the engine's own
// recording) and the video being written. A program killed during a recording leaves its
// journal behind; the next start (RecoverInterruptedRecordings) puts right what it names.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "game/game_script.h"
#include "platform/instance.h"

namespace vexo {

// The folder of the journals: "recordings" in the program's state folder
// ($XDG_STATE_HOME/vexograph, by default ~/.local/state/vexograph).
std::string JournalFolder();

// The copy of one config taken before a recording.
struct ConfigCopy {
    std::string Path;
    int Mode = 0; // -1: the config could not be read, and is left as it is
    std::string Content;
};

// What a journal records of one recording.
struct RecordingJournal {
    platform::ProcessIdentity Owner; // the program recording
    platform::ProcessIdentity Game;  // the game it started, once it runs
    std::string TempConfig;
    std::string CaptureFile;
    std::string CaptureDir;
    bool CaptureDirExisted = false;
    std::string Recording;                  // the video being written, once known
    std::vector<std::string> ConfigFolders; // the folders whose configs are kept
    std::vector<ConfigCopy> Configs;        // the configs in them before the recording
};

// The journal as its file holds it, and back. Parse fails (false) on a text that is not a
// whole journal.
std::string JournalText(const RecordingJournal& journal);
bool ParseJournal(const std::string& text, RecordingJournal& journal);

// The folders whose configs the engine may rewrite: each of the modification's folders, and
// the base game's where the modification is another one.
std::vector<std::string> ConfigFolders(const RunPaths& paths);

// One recording's guard. Made right before the game script is written; it copies the
// configs (every *.cfg directly in ConfigFolders, but the temporary config) and writes the
// journal. A journal that cannot be written is logged; the configs are put back all the same.
class RecordingGuard {
public:
    explicit RecordingGuard(const RunPaths& paths,
                            const std::string& journalFolder = JournalFolder());
    // Ends the game it was told of if that still runs, puts the configs back and removes the
    // journal.
    ~RecordingGuard();
    RecordingGuard(const RecordingGuard&) = delete;
    RecordingGuard& operator=(const RecordingGuard&) = delete;

    // The game has been started as process pid.
    void GameStarted(int pid);
    // The video is being written to this file (the "(recording)" name).
    void RecordingStarted(const std::string& recordingFile);
    // Once the game has ended: every config as it was, byte for byte and with its mode; a
    // config the game made is removed. Done once; later calls do nothing.
    void RestoreConfigs();

    const std::string& JournalPath() const { return path_; }

private:
    void WriteJournal();

    RecordingJournal journal_;
    std::string path_;
    bool restored_ = false;
    bool restoredAll_ = false;
};

// Puts right what recordings left whose program ended during them: every journal in the
// folder whose owner no longer runs (journals of a program that still runs are left alone).
// Its game is ended if it still runs; the configs are put back; the temporary config and the
// engine's recording are removed; a "(recording)" video is completed with the repair and kept
// as "(failed)", or removed when it holds no frame. Returns what was done, one sentence each,
// naming the paths; each is logged too. Empty when there was nothing to put right.
std::vector<std::string>
RecoverInterruptedRecordings(const std::string& journalFolder = JournalFolder());

// The notice shown for what the recovery did.
std::string RecoveryNoticeText(const std::vector<std::string>& done);

} // namespace vexo
