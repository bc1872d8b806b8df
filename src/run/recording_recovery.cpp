// The start after a program that was killed while it recorded: what its journals name is put
// right, and what was done is told.
#include <charconv>
#include <cstdint>

#include "media/avifile.h"
#include "platform/fs.h"
#include "platform/log.h"
#include "run/recording_guard.h"
#include "run/recording_guard_internal.h"
#include "run/run_driver.h"
#include "util/path.h"

namespace vexo {

using media::AVIERR_FILEOPEN, media::AVIERR_OK, media::AVIFileCountFrames, media::AVIFileExit,
    media::AVIFileInit, media::AVIFileRepair;

namespace {

constexpr char kSep = platform::kPathSep;

bool EndsWith(const std::string& text, const std::string& end) {
    return text.size() >= end.size() &&
           text.compare(text.size() - end.size(), end.size(), end) == 0;
}

// The owner a journal file's name begins with ("PID-START-N..."); pid 0 for another name.
platform::ProcessIdentity OwnerInName(const std::string& name) {
    platform::ProcessIdentity owner;
    const char* at = name.data();
    const char* end = name.data() + name.size();
    auto [afterPid, e1] = std::from_chars(at, end, owner.pid);
    if (e1 != std::errc() || afterPid == end || *afterPid != '-')
        return {};
    auto [afterStart, e2] = std::from_chars(afterPid + 1, end, owner.started);
    if (e2 != std::errc() || afterStart == end || *afterStart != '-')
        return {};
    return owner;
}

// The recorded video: completed with every frame it holds and kept as the demo's failed
// recording, or removed when it holds none. An AVI file is completed by the repair; Matroska
// and MP4 files are readable up to their last cluster or fragment as they are.
void SaveRecording(const std::string& recording, std::vector<std::string>& done) {
    platform::DeleteFileAt(recording + ".repairing"); // a repair or rewrite cut short as well
    if (!platform::FileExists(recording))
        return;
    const std::string video = VideoOfRecording(recording);
    const std::string failed = FailedFileName(video);
    const bool avi =
        media::ContainerOfPath(recording).value_or(media::Container::Avi) == media::Container::Avi;
    int32_t frames = 0;
    AVIFileInit();
    const long ret = avi ? AVIFileRepair(recording.c_str(), &frames)
                         : AVIFileCountFrames(recording.c_str(), &frames);
    AVIFileExit();
    if ((ret == AVIERR_OK && frames == 0) || ret == AVIERR_FILEOPEN) {
        platform::DeleteFileAt(recording);
        done.push_back("The unfinished video \"" + recording + "\" held no frame and was removed.");
        return;
    }
    if (!platform::MoveFileReplacing(recording, failed)) {
        platform::LogFailure("recovery", "cannot rename " + recording + " to " + failed + ": " +
                                             platform::SystemErrorText(errno));
        done.push_back("The unfinished video \"" + recording + "\" could not be renamed to \"" +
                       failed + "\" (the log says why).");
        return;
    }
    if (ret == AVIERR_OK && !avi)
        done.push_back("The unfinished video \"" + recording + "\" holds " +
                       std::to_string(frames) + " frames and was kept as \"" + failed +
                       "\"; the demo was not recorded to its end.");
    else if (ret == AVIERR_OK)
        done.push_back("The unfinished video \"" + recording + "\" was completed with the " +
                       std::to_string(frames) + " frames it held and kept as \"" + failed +
                       "\"; the demo was not recorded to its end.");
    else
        done.push_back("The unfinished video \"" + recording +
                       "\" could not be completed (the log says why) and was kept as \"" + failed +
                       "\"; \"vexo-encode --repair\" can complete it later.");
}

// Puts right what one journal names; false when something is left to try again.
bool Recover(const std::string& path, const RecordingJournal& journal,
             std::vector<std::string>& done) {
    if (platform::IsRunning(journal.Game)) {
        // Left running, it would go on filling the disk and save its settings over the
        // player's once more when it quits.
        if (!platform::EndProcess(journal.Game, 10000)) {
            platform::LogFailure("recovery", "the game (process " +
                                                 std::to_string(journal.Game.pid) +
                                                 ") of the recording in " + path + " does not end");
            return false;
        }
        done.push_back("The game started for the recording (process " +
                       std::to_string(journal.Game.pid) + ") was still running and was ended.");
    }
    const bool configsBack = PutConfigsBack(journal, &done);
    if (platform::DeleteFileAt(journal.TempConfig))
        done.push_back("The temporary config \"" + journal.TempConfig + "\" was removed.");
    // The engine's recording, the files it goes on in past 2 GB and its index files.
    const std::string name = journal.CaptureFile.substr(journal.CaptureFile.find_last_of(kSep) + 1);
    bool captureRemoved = false;
    if (!name.empty())
        for (const std::string& found :
             platform::FindMatches(JoinPath(journal.CaptureDir, name + "*", kSep), false))
            captureRemoved =
                platform::DeleteFileAt(JoinPath(journal.CaptureDir, found, kSep)) || captureRemoved;
    if (captureRemoved)
        done.push_back("The game's unfinished recording \"" + journal.CaptureFile +
                       "\" was removed.");
    if (!journal.CaptureDirExisted)
        platform::RemoveEmptyDirectory(journal.CaptureDir);
    if (!journal.Recording.empty())
        SaveRecording(journal.Recording, done);
    if (!configsBack)
        done.push_back("Vexograph tries again at its next start.");
    return configsBack;
}

} // namespace

std::vector<std::string> RecoverInterruptedRecordings(const std::string& journalFolder) {
    std::vector<std::string> done;
    for (const std::string& name :
         platform::FindMatches(JoinPath(journalFolder, "*", kSep), false)) {
        const std::string path = JoinPath(journalFolder, name, kSep);
        const platform::ProcessIdentity owner = OwnerInName(name);
        if (owner.pid <= 0 || platform::IsRunning(owner))
            continue; // not a journal, or one of a recording under way
        if (!EndsWith(name, kJournalSuffix)) {
            platform::DeleteFileAt(path); // a journal's rewrite cut short
            continue;
        }
        std::string text;
        RecordingJournal journal;
        if (!platform::ReadFileText(path, text) || !ParseJournal(text, journal)) {
            platform::LogFailure("recovery", "the recording journal " + path +
                                                 " cannot be read and was removed");
            platform::DeleteFileAt(path);
            continue;
        }
        if (Recover(path, journal, done))
            platform::DeleteFileAt(path);
    }
    for (const std::string& line : done)
        platform::LogFailure("recovery", line);
    return done;
}

std::string RecoveryNoticeText(const std::vector<std::string>& done) {
    std::string text = "Vexograph was ended while it was recording a demo. It found what that "
                       "recording left behind and did this:\n";
    for (const std::string& line : done)
        text += "\n- " + line;
    return text;
}

} // namespace vexo
