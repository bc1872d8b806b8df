#include "run/recording_guard.h"

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <charconv>

#include "platform/fs.h"
#include "platform/log.h"
#include "run/recording_guard_internal.h"
#include "util/no_case.h"
#include "util/path.h"

namespace vexo {

namespace {

constexpr char kSep = platform::kPathSep;
constexpr const char* kJournalHeader = "vexograph recording journal 1";

// A value on a journal line: line feeds and backslashes escaped, so that any path fits.
std::string Escape(const std::string& text) {
    std::string out;
    for (char ch : text) {
        if (ch == '\\')
            out += "\\\\";
        else if (ch == '\n')
            out += "\\n";
        else
            out += ch;
    }
    return out;
}

std::string Unescape(const std::string& text) {
    std::string out;
    for (size_t i = 0; i < text.size(); ++i) {
        if (text[i] == '\\' && i + 1 < text.size()) {
            ++i;
            out += text[i] == 'n' ? '\n' : text[i];
        } else {
            out += text[i];
        }
    }
    return out;
}

std::string Identity(const platform::ProcessIdentity& process) {
    return std::to_string(process.pid) + " " + std::to_string(process.started);
}

// Reads the journal line by line; numbers as the program writes them, whatever the locale.
class JournalReader {
public:
    explicit JournalReader(const std::string& text) : text_(text) {}

    bool Line(std::string& line) {
        if (at_ >= text_.size())
            return false;
        size_t end = text_.find('\n', at_);
        if (end == std::string::npos)
            return false; // a journal ends with a line feed
        line = text_.substr(at_, end - at_);
        at_ = end + 1;
        return true;
    }
    bool Bytes(size_t count, std::string& out) {
        if (text_.size() - at_ < count + 1 || text_[at_ + count] != '\n')
            return false;
        out = text_.substr(at_, count);
        at_ += count + 1;
        return true;
    }

private:
    const std::string& text_;
    size_t at_ = 0;
};

// Splits "word rest" at the first blank.
std::string Word(std::string& rest) {
    const size_t blank = rest.find(' ');
    std::string word = rest.substr(0, blank);
    rest = blank == std::string::npos ? std::string() : rest.substr(blank + 1);
    return word;
}

template <typename T> bool Number(const std::string& text, T& value, int base = 10) {
    const char* end = text.data() + text.size();
    const auto [ptr, ec] = std::from_chars(text.data(), end, value, base);
    return ec == std::errc() && ptr == end && !text.empty();
}

bool ParseIdentity(std::string rest, platform::ProcessIdentity& process) {
    return Number(Word(rest), process.pid) && Number(rest, process.started);
}

// The journals of other recordings that are under way now, by programs that still run.
std::vector<RecordingJournal> LiveJournals(const std::string& journalFolder,
                                           const platform::ProcessIdentity& self) {
    std::vector<RecordingJournal> live;
    for (const std::string& name : platform::FindMatches(
             JoinPath(journalFolder, std::string("*") + kJournalSuffix, kSep), false)) {
        std::string text;
        RecordingJournal journal;
        if (platform::ReadFileText(JoinPath(journalFolder, name, kSep), text) &&
            ParseJournal(text, journal) && !(journal.Owner == self) &&
            platform::IsRunning(journal.Owner))
            live.push_back(std::move(journal));
    }
    return live;
}

} // namespace

std::string JournalFolder() {
    return platform::UserStateHome() + "/vexograph/recordings";
}

std::string JournalText(const RecordingJournal& j) {
    std::string text = std::string(kJournalHeader) + "\n";
    text += "owner " + Identity(j.Owner) + "\n";
    if (j.Game.pid > 0)
        text += "game " + Identity(j.Game) + "\n";
    text += "temp-config " + Escape(j.TempConfig) + "\n";
    text += "capture-file " + Escape(j.CaptureFile) + "\n";
    text += "capture-folder " + std::string(j.CaptureDirExisted ? "1 " : "0 ") +
            Escape(j.CaptureDir) + "\n";
    if (!j.Recording.empty())
        text += "recording " + Escape(j.Recording) + "\n";
    for (const std::string& folder : j.ConfigFolders)
        text += "folder " + Escape(folder) + "\n";
    for (const ConfigCopy& copy : j.Configs) {
        char mode[16];
        const auto written = std::to_chars(mode, mode + sizeof mode, copy.Mode, 8);
        text += "config " + std::string(mode, written.ptr) + " " +
                std::to_string(copy.Content.size()) + " " + Escape(copy.Path) + "\n" +
                copy.Content + "\n";
    }
    return text + "end\n";
}

bool ParseJournal(const std::string& text, RecordingJournal& journal) {
    RecordingJournal j;
    JournalReader reader(text);
    std::string line;
    if (!reader.Line(line) || line != kJournalHeader)
        return false;
    while (reader.Line(line)) {
        std::string rest = line;
        const std::string key = Word(rest);
        bool ok = true;
        if (key == "end") {
            journal = std::move(j);
            return journal.Owner.pid > 0;
        } else if (key == "owner") {
            ok = ParseIdentity(rest, j.Owner);
        } else if (key == "game") {
            ok = ParseIdentity(rest, j.Game);
        } else if (key == "temp-config") {
            j.TempConfig = Unescape(rest);
        } else if (key == "capture-file") {
            j.CaptureFile = Unescape(rest);
        } else if (key == "capture-folder") {
            j.CaptureDirExisted = Word(rest) == "1";
            j.CaptureDir = Unescape(rest);
        } else if (key == "recording") {
            j.Recording = Unescape(rest);
        } else if (key == "folder") {
            j.ConfigFolders.push_back(Unescape(rest));
        } else if (key == "config") {
            ConfigCopy copy;
            size_t size = 0;
            ok = Number(Word(rest), copy.Mode, 8) && Number(Word(rest), size);
            copy.Path = Unescape(rest);
            ok = ok && reader.Bytes(size, copy.Content);
            j.Configs.push_back(std::move(copy));
        }
        // Lines of other keys are passed over: a later program may write more.
        if (!ok)
            return false;
    }
    return false; // no "end": not a whole journal
}

std::vector<std::string> ConfigFolders(const RunPaths& paths) {
    std::vector<std::string> folders = paths.ModDirs;
    const std::string base = paths.Engine.BaseGame;
    if (!base.empty() && !EqualNoCase(paths.ModName, base)) {
        folders.push_back(JoinPath(paths.HomeDir, base, kSep));
        folders.push_back(JoinPath(paths.BaseDir, base, kSep));
    }
    std::vector<std::string> unique;
    for (std::string& folder : folders)
        if (std::find(unique.begin(), unique.end(), folder) == unique.end())
            unique.push_back(std::move(folder));
    return unique;
}

std::vector<std::string> ConfigsIn(const std::string& folder) {
    std::vector<std::string> found;
    const std::string onDisk = platform::ResolvePathCase(folder);
    for (const std::string& name : platform::FindMatches(JoinPath(onDisk, "*.cfg", kSep), false))
        if (!IsTempConfigFileName(name))
            found.push_back(JoinPath(onDisk, name, kSep));
    std::sort(found.begin(), found.end());
    return found;
}

bool PutConfigsBack(const RecordingJournal& journal, std::vector<std::string>* done) {
    auto tell = [done](const std::string& text) {
        if (done)
            done->push_back(text);
    };
    bool all = true;
    for (const ConfigCopy& copy : journal.Configs) {
        if (copy.Mode < 0)
            continue; // one that could not be read is left as it is
        std::string now;
        const bool unchanged = platform::ReadFileText(copy.Path, now) && now == copy.Content;
        if (!unchanged && !platform::ReplaceFileText(copy.Path, copy.Content)) {
            platform::LogFailure("configs", "cannot put back " + copy.Path + ": " +
                                                platform::SystemErrorText(errno));
            tell("The game config \"" + copy.Path +
                 "\" could not be put back as it was before the recording (the log says why).");
            all = false;
            continue;
        }
        if (platform::FileMode(copy.Path) != copy.Mode)
            platform::SetFileMode(copy.Path, copy.Mode);
        if (!unchanged)
            tell("The game config \"" + copy.Path +
                 "\" was put back as it was before the recording.");
    }
    for (const std::string& folder : journal.ConfigFolders) {
        for (const std::string& path : ConfigsIn(folder)) {
            const bool kept =
                std::any_of(journal.Configs.begin(), journal.Configs.end(),
                            [&](const ConfigCopy& copy) { return copy.Path == path; });
            if (kept)
                continue;
            if (platform::DeleteFileAt(path)) {
                tell("The game config \"" + path +
                     "\", which the game made during the recording, was removed.");
            } else {
                platform::LogFailure("configs", "cannot remove " + path + ": " +
                                                    platform::SystemErrorText(errno));
                all = false;
            }
        }
    }
    return all;
}

RecordingGuard::RecordingGuard(const RunPaths& paths, const std::string& journalFolder) {
    journal_.Owner = platform::CurrentProcess();
    journal_.TempConfig = paths.TempConfig;
    journal_.CaptureFile = paths.CaptureFile;
    journal_.CaptureDir = paths.CaptureDir;
    journal_.CaptureDirExisted = platform::DirectoryExists(paths.CaptureDir);
    // Another recording under way in the same game (a recorder beside this one) has its game
    // writing into the configs now: they are taken as its journal kept them from before its
    // game, so that whichever recording ends last puts back the player's own.
    const std::vector<RecordingJournal> live = LiveJournals(journalFolder, journal_.Owner);
    for (const std::string& folder : ConfigFolders(paths)) {
        journal_.ConfigFolders.push_back(folder);
        const std::string onDisk = platform::ResolvePathCase(folder);
        const RecordingJournal* other = nullptr;
        for (const RecordingJournal& journal : live)
            for (const std::string& theirs : journal.ConfigFolders)
                if (!other && platform::ResolvePathCase(theirs) == onDisk)
                    other = &journal;
        if (other) {
            const std::string prefix = JoinPath(onDisk, "", kSep);
            for (const ConfigCopy& copy : other->Configs)
                if (copy.Path.compare(0, prefix.size(), prefix) == 0 &&
                    copy.Path.find(kSep, prefix.size()) == std::string::npos)
                    journal_.Configs.push_back(copy);
            continue;
        }
        for (const std::string& path : ConfigsIn(folder)) {
            ConfigCopy copy;
            copy.Path = path;
            copy.Mode = platform::FileMode(path);
            if (copy.Mode < 0 || !platform::ReadFileText(path, copy.Content)) {
                // Named all the same, so that it is not taken for one the game made.
                platform::LogFailure("configs", "cannot read " + path + ": " +
                                                    platform::SystemErrorText(errno));
                copy.Mode = -1;
                copy.Content.clear();
            }
            journal_.Configs.push_back(std::move(copy));
        }
    }
    // One journal per recording: named by its owner and a number of the owner's own.
    static std::atomic<int> counter{0};
    if (!platform::CreateDirectoryPath(journalFolder)) {
        platform::LogFailure("configs", "cannot make the journal folder " + journalFolder + ": " +
                                            platform::SystemErrorText(errno));
        return;
    }
    platform::SetFileMode(journalFolder, 0700); // the copies are the player's own files
    path_ =
        JoinPath(journalFolder,
                 std::to_string(journal_.Owner.pid) + "-" + std::to_string(journal_.Owner.started) +
                     "-" + std::to_string(++counter) + kJournalSuffix,
                 kSep);
    WriteJournal();
}

RecordingGuard::~RecordingGuard() {
    // The configs go back under a game that no longer writes them.
    if (platform::IsRunning(journal_.Game))
        platform::EndProcess(journal_.Game, 5000);
    RestoreConfigs();
    // A config that could not be put back is tried again at the next start.
    if (!path_.empty() && restoredAll_)
        platform::DeleteFileAt(path_);
}

void RecordingGuard::GameStarted(int pid) {
    journal_.Game = platform::IdentifyProcess(pid);
    WriteJournal();
}

void RecordingGuard::RecordingStarted(const std::string& recordingFile) {
    journal_.Recording = recordingFile;
    WriteJournal();
}

void RecordingGuard::RestoreConfigs() {
    if (restored_)
        return;
    restored_ = true;
    restoredAll_ = PutConfigsBack(journal_, nullptr);
}

void RecordingGuard::WriteJournal() {
    if (path_.empty())
        return;
    if (!platform::ReplaceFileText(path_, JournalText(journal_)))
        platform::LogFailure("configs", "cannot write the recording journal " + path_ + ": " +
                                            platform::SystemErrorText(errno));
}

} // namespace vexo
