// vexo-record's line of a demo under way: the progress bar and the time left at the pace so
// far once the demo's length is known and frames have come, and the plain lines of progress.
#include <gtest/gtest.h>

#include <cstdio>
#include <string>

#include "display.h"

namespace vexo::record {
namespace {

using Clock = std::chrono::steady_clock;
using std::chrono::seconds;

class RecordDisplayTest : public ::testing::Test {
protected:
    RecordDisplayTest() {
        display.SetClock([this] { return now; });
    }
    ~RecordDisplayTest() override { std::fclose(out); }

    std::string Written() {
        std::fflush(out);
        std::rewind(out);
        std::string text;
        for (int c; (c = std::fgetc(out)) != EOF;)
            text += static_cast<char>(c);
        return text;
    }

    Clock::time_point now = Clock::time_point() + seconds(1000);
    std::FILE* out = std::tmpfile();
    // 25 frames a second at timescale 2: each frame is 0.08 s of the demo.
    BatchDisplay display{out, true, false, 3, 25, 2};
};

TEST_F(RecordDisplayTest, TheLiveLineShowsTheShareDoneAndTheTimeLeftOnceFramesCome) {
    display.Started("a.dm_71", 16.0);
    display.Started("b.dm_71", std::nullopt);
    now += seconds(30);
    EXPECT_EQ(display.LiveLine("a.dm_71", 0), "a.dm_71 | time left unknown, 0:30 elapsed");

    // The first frames (2 s of the demo) after the engine's 30 s start: no pace yet.
    display.Progress("a.dm_71", 25);
    display.Progress("b.dm_71", 25);
    EXPECT_EQ(display.LiveLine("a.dm_71", 0),
              "a.dm_71 | [##..................] 12% time left unknown, 25 frames, 2.0 of 16.0 s "
              "into the demo, 0:30 elapsed");
    // 2 s more of the demo in 20 s: the other 12 s take 120 s more, whatever the start took.
    now += seconds(20);
    display.Progress("a.dm_71", 50);
    display.Progress("b.dm_71", 50);
    EXPECT_EQ(display.LiveLine("a.dm_71", 0),
              "a.dm_71 | [#####...............] 25% 2:00 left, 50 frames, 4.0 of 16.0 s into the "
              "demo, 0:50 elapsed");
    EXPECT_EQ(display.LiveLine("b.dm_71", 0),
              "b.dm_71 | time left unknown, 50 frames, 4.0 s into the demo, 0:50 elapsed");
    EXPECT_EQ(display.LiveLine("a.dm_71", 12), "a.dm_71 | [#");

    // Played past its length: full, nothing left.
    display.Progress("a.dm_71", 250);
    EXPECT_EQ(display.LiveLine("a.dm_71", 0),
              "a.dm_71 | [####################] 100% 0:00 left, 250 frames, 20.0 of 16.0 s into "
              "the demo, 0:50 elapsed");
}

TEST_F(RecordDisplayTest, APlainProgressLineGivesTheLengthAndTheTimeLeft) {
    BatchDisplay plain(out, false, false, 1, 25, 1);
    plain.SetClock([this] { return now; });
    plain.Started("a.dm_71", 40.0);
    plain.Progress("a.dm_71", 125); // 5 s of 40
    now += seconds(20);
    plain.Progress("a.dm_71", 250); // 5 s more in 20 s
    plain.Tick();
    EXPECT_NE(Written().find("a.dm_71: 250 frames, 10.0 of 40.0 s into the demo, 0:20 elapsed, "
                             "2:00 left\n"),
              std::string::npos);
}

} // namespace
} // namespace vexo::record
