// The player's configs around a recording, and the start after a program killed during one.
#include <gtest/gtest.h>

#include <algorithm>
#include <csignal>
#include <cstdlib>
#include <filesystem>
#include <optional>
#include <sys/wait.h>
#include <unistd.h>
#include <vector>

#include "frames/avi_file.h"
#include "platform/fs.h"
#include "platform/process.h"
#include "run/recording_guard.h"
#include "support/tga_file.h"

namespace vexo {
namespace {

namespace fs = std::filesystem;
using test::ReadFile;
using test::TempDir;
using test::WriteFile;

std::vector<std::string> Names(const std::string& folder) {
    std::vector<std::string> names;
    for (const auto& entry : fs::directory_iterator(folder))
        names.push_back(entry.path().filename().string());
    std::sort(names.begin(), names.end());
    return names;
}

int Frames(const std::string& avi) {
    return std::atoi(test::Capture("ffprobe -v error -count_frames -show_entries "
                                   "stream=nb_read_frames -of csv=p=0 '" +
                                   avi + "'")
                         .c_str());
}

// A game directory with a modification beside the base game, each with the player's configs.
class RecordingGuardTest : public ::testing::Test {
protected:
    RecordingGuardTest() {
        WriteFile(base + "/baseq3/pak0.pk3", "pak");
        WriteFile(base + "/quake3.exe", "");
        fs::create_directories(out);
        WriteFile(mod + "/q3config.cfg", kPlayer);
        fs::permissions(mod + "/q3config.cfg", fs::perms(0600));
        WriteFile(mod + "/autoexec.cfg", "bind F1 \"vote yes\"\n");
        WriteFile(base + "/baseq3/q3config.cfg", "seta s_musicvolume \"0.5\"\n");
        paths = BuildRunPaths(base, "mymod", "default.cfg", root / "program/", out, '/');
    }
    // What an engine does to them as it plays and quits.
    void PlayGame() {
        fs::remove(mod + "/q3config.cfg");
        WriteFile(mod + "/q3config.cfg", "seta cg_draw2D \"0\"\n");
        fs::remove(mod + "/autoexec.cfg");
        WriteFile(mod + "/made.cfg", "seta r_mode \"3\"\n");
        WriteFile(base + "/baseq3/q3config.cfg", "seta s_musicvolume \"0\"\n");
        WriteFile(mod + "/vexo_temp.cfg", "the game script");
    }
    void ExpectPlayersConfigs() {
        EXPECT_EQ(ReadFile(mod + "/q3config.cfg"), kPlayer);
        EXPECT_EQ(fs::status(mod + "/q3config.cfg").permissions(), fs::perms(0600));
        EXPECT_EQ(ReadFile(mod + "/autoexec.cfg"), "bind F1 \"vote yes\"\n");
        EXPECT_EQ(ReadFile(base + "/baseq3/q3config.cfg"), "seta s_musicvolume \"0.5\"\n");
        EXPECT_FALSE(fs::exists(mod + "/made.cfg"));
    }

    static constexpr const char* kPlayer = "seta cg_draw2D \"1\"\r\nbind x \"say \\\"hi\\\"\"\n";
    TempDir root, state;
    std::string base = root / "q3", mod = base + "/mymod", out = root / "out";
    std::string journals = state / "recordings";
    RunPaths paths;
};

TEST_F(RecordingGuardTest, TheConfigsComeBackByteForByteAndWhatTheGameMadeGoes) {
    WriteFile(base + "/baseq3/other.cfg", "exec q3config\n");
    const platform::FileStamp untouched = platform::StampOf(base + "/baseq3/other.cfg");
    {
        RecordingGuard guard(paths, journals);
        ASSERT_EQ(Names(journals).size(), 1u);
        RecordingJournal journal;
        ASSERT_TRUE(ParseJournal(ReadFile(guard.JournalPath()), journal));
        EXPECT_EQ(journal.Owner, platform::CurrentProcess());
        EXPECT_EQ(journal.Configs.size(), 4u); // not the temporary config
        PlayGame();
        guard.RestoreConfigs();
        ExpectPlayersConfigs();
        // The run removes its temporary config itself.
        EXPECT_EQ(ReadFile(mod + "/vexo_temp.cfg"), "the game script");
        // A config the game left as it was is not written again.
        EXPECT_TRUE(platform::StampOf(base + "/baseq3/other.cfg") == untouched);
    }
    EXPECT_TRUE(Names(journals).empty());
    // A run that ends by an error leaves the guard without calling it: its end restores.
    {
        RecordingGuard guard(paths, journals);
        PlayGame();
    }
    ExpectPlayersConfigs();
    EXPECT_TRUE(Names(journals).empty());
}

// Another recorder records in the same game (its journal names a program that runs), and its
// game has written its settings into the configs: they are taken as that journal kept them,
// so that this recording, ending last, puts the player's own back; the other recorder's
// temporary config is no config of the player's.
TEST_F(RecordingGuardTest, BesideAnotherRecordingTheConfigsAreTakenAsItsJournalKeptThem) {
    std::optional<platform::Process> other =
        platform::StartProcess("sleep 60", root.path(), platform::ProcessPriority::Normal);
    ASSERT_TRUE(other);
    {
        RecordingGuard first(paths, journals);
        RecordingJournal journal;
        ASSERT_TRUE(ParseJournal(ReadFile(first.JournalPath()), journal));
        journal.Owner = platform::IdentifyProcess(other->Id());
        WriteFile(journals + "/other.journal", JournalText(journal));
    }
    PlayGame();
    WriteFile(mod + "/vexo_temp_77.cfg", "the other recorder's game script");
    {
        RecordingGuard second(paths, journals);
        fs::remove(mod + "/vexo_temp_77.cfg");
    }
    ExpectPlayersConfigs();
    EXPECT_FALSE(fs::exists(mod + "/vexo_temp_77.cfg"));
    other->Terminate();
}

// The journals of a program killed during its recordings (its process id now given to
// another process: the start time tells them apart), beside one of a program that records.
TEST_F(RecordingGuardTest, AtTheNextStartAKilledRecordingIsPutRightAndARunningOneLeftAlone) {
    TempDir other;
    WriteFile(other / "baseq3/pak0.pk3", "pak");
    WriteFile(other / "baseq3/q3config.cfg", "seta name \"player\"\n");
    const RunPaths otherPaths = BuildRunPaths(other.path(), "baseq3", "", "/", out, '/');
    RecordingGuard running(otherPaths, journals);
    WriteFile(other / "baseq3/q3config.cfg", "seta name \"recording\"\n");

    const platform::ProcessIdentity self = platform::CurrentProcess();
    const std::string prefix =
        journals + "/" + std::to_string(self.pid) + "-" + std::to_string(self.started + 1) + "-";
    std::optional<platform::Process> game =
        platform::StartProcess("sleep 60", root.path(), platform::ProcessPriority::Normal);
    ASSERT_TRUE(game);
    {
        RecordingGuard killed(paths, journals);
        RecordingJournal journal;
        ASSERT_TRUE(ParseJournal(ReadFile(killed.JournalPath()), journal));
        journal.Owner.started += 1;
        journal.Game = platform::IdentifyProcess(game->Id());
        journal.Recording = out + "/mymod_one (recording).avi";
        WriteFile(prefix + "1.journal", JournalText(journal));
        journal.Game = {};
        journal.Recording = out + "/mymod_two (recording).avi";
        WriteFile(prefix + "2.journal", JournalText(journal));
        WriteFile(prefix + "3.journal.vexo-write", "cut short");
    } // its configs come back here; they are changed below as the killed game left them
    PlayGame();
    for (const char* name : {"vexo_capture.avi", "vexo_capture.avi_", "vexo_capture.avi.index.dat",
                             "vexo_capture.avi__.index.dat"})
        WriteFile(mod + "/videos/" + name, "frames");
    // Three frames without the index a completed file ends in, and a file cut in its header.
    const std::string one = out + "/mymod_one (recording).avi";
    test::Capture("ffmpeg -v error -f lavfi -i testsrc=size=32x24 -frames 3 -c:v rawvideo '" + one +
                  "'");
    fs::resize_file(one, fs::file_size(one) - 8 - 3 * 16);
    WriteFile(out + "/mymod_one.avi", "an earlier good video");
    WriteFile(out + "/mymod_two (recording).avi", "RIFF");

    const std::vector<std::string> done = RecoverInterruptedRecordings(journals);

    EXPECT_TRUE(game->Wait(1000)) << "the killed program's game still runs";
    ExpectPlayersConfigs();
    EXPECT_FALSE(fs::exists(mod + "/vexo_temp.cfg"));
    EXPECT_FALSE(fs::exists(mod + "/videos"));
    EXPECT_EQ(Frames(out + "/mymod_one (failed).avi"), 3);
    EXPECT_EQ(ReadFile(out + "/mymod_one.avi"), "an earlier good video");
    EXPECT_EQ(Names(out), (std::vector<std::string>{"mymod_one (failed).avi", "mymod_one.avi"}));
    for (const std::string& line :
         {"The game config \"" + mod +
              "/q3config.cfg\" was put back as it was before the recording.",
          "The game config \"" + mod + "/made.cfg\", which the game made during the recording, " +
              "was removed.",
          "The temporary config \"" + mod + "/vexo_temp.cfg\" was removed.",
          "The game's unfinished recording \"" + mod + "/videos/vexo_capture.avi\" was removed.",
          "The unfinished video \"" + out + "/mymod_one (recording).avi\" was completed with the " +
              "3 frames it held and kept as \"" + out +
              "/mymod_one (failed).avi\"; the demo was not recorded to its end.",
          "The unfinished video \"" + out + "/mymod_two (recording).avi\" held no frame and was " +
              "removed.",
          "The game started for the recording (process " + std::to_string(game->Id()) +
              ") was still running and was ended."})
        EXPECT_EQ(std::count(done.begin(), done.end(), line), 1) << line;

    // The running program's recording is its own.
    EXPECT_EQ(Names(journals),
              std::vector<std::string>{fs::path(running.JournalPath()).filename().string()});
    EXPECT_EQ(ReadFile(other / "baseq3/q3config.cfg"), "seta name \"recording\"\n");
    EXPECT_TRUE(RecoverInterruptedRecordings(journals).empty());
}

// A Matroska or MP4 recording of a killed program is readable up to its last frame as it is:
// kept as a failed one (a rewrite cut short removed), or removed when it holds no frame.
TEST_F(RecordingGuardTest, AKilledMatroskaOrMp4RecordingIsKeptAsItIs) {
    const platform::ProcessIdentity self = platform::CurrentProcess();
    const std::string mkv = out + "/mymod_one (recording).mkv";
    const std::string empty = out + "/mymod_two (recording).mp4";
    for (const auto& [path, frames] : {std::pair{mkv, 4}, std::pair{empty, 0}}) {
        const pid_t child = ::fork(); // the writer, killed after its frames
        if (child == 0) {
            CAviFile writer;
            writer.CodecVars.fccHandler = media::MakeFourCC('H', '2', '6', '4');
            std::vector<unsigned char> pixels(64 * 48 * 3, 0x60);
            const TgaImage image{3, 64, 48, static_cast<int32_t>(pixels.size()), pixels.data()};
            writer.Open(path, 640, 480, 25, 1, {*media::ContainerOfPath(path)});
            for (int i = 0; i < frames; ++i)
                writer.WriteFrame(&image, i);
            ::raise(SIGKILL);
        }
        ASSERT_EQ(::waitpid(child, nullptr, 0), child);
        RecordingGuard killed(paths, journals);
        RecordingJournal journal;
        ASSERT_TRUE(ParseJournal(ReadFile(killed.JournalPath()), journal));
        journal.Owner.started += 1;
        journal.Recording = path;
        WriteFile(journals + "/" + std::to_string(self.pid) + "-" +
                      std::to_string(self.started + 1) + "-" + std::to_string(frames) + ".journal",
                  JournalText(journal));
    }
    WriteFile(mkv + ".repairing", "a rewrite cut short");

    const std::vector<std::string> done = RecoverInterruptedRecordings(journals);

    EXPECT_EQ(Frames(out + "/mymod_one (failed).mkv"), 4);
    EXPECT_EQ(Names(out), std::vector<std::string>{"mymod_one (failed).mkv"});
    for (const std::string& line :
         {"The unfinished video \"" + mkv + "\" holds 4 frames and was kept as \"" + out +
              "/mymod_one (failed).mkv\"; the demo was not recorded to its end.",
          "The unfinished video \"" + empty + "\" held no frame and was removed."})
        EXPECT_EQ(std::count(done.begin(), done.end(), line), 1) << line;
}

} // namespace
} // namespace vexo
