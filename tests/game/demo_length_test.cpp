// The length of a demo read before it is played: the engine's demos recorded with the real
// engine (tests/data/openarena), cut or damaged copies of them, the stand-in game's demos,
// and demos packed in pk3 files.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <filesystem>

#include "game/demo_length.h"
#include "support/temp_dir.h"

namespace vexo::test {
namespace {

const std::string kData = VEXO_TEST_DATA "/openarena/";

// Where the record at index (counting from 0) of an engine's demo begins.
size_t RecordOffset(const std::string& demo, int index) {
    size_t at = 0;
    for (int i = 0; i < index; ++i) {
        int32_t length = 0;
        std::memcpy(&length, demo.data() + at + 4, 4);
        at += 8 + static_cast<size_t>(length);
    }
    return at;
}

class DemoLengthTest : public ::testing::Test {
protected:
    std::string File(const std::string& name, const std::string& bytes) {
        WriteFile(dir / name, bytes);
        return dir / name;
    }
    // A pk3 holding a text file and a copy of the file at source as entry, deflated or stored.
    void Pk3(const std::string& path, const std::string& entry, const std::string& source,
             bool deflated) {
        const std::string script = std::string("import sys, zipfile\n") +
                                   "with zipfile.ZipFile(sys.argv[1], 'w', zipfile.ZIP_" +
                                   (deflated ? "DEFLATED" : "STORED") +
                                   ") as z:\n"
                                   "    z.writestr('readme.txt', 'not a demo')\n"
                                   "    z.write(sys.argv[3], sys.argv[2])\n";
        std::filesystem::create_directories(std::filesystem::path(path).parent_path());
        ASSERT_EQ(std::system(("python3 -c \"" + script + "\" '" + path + "' '" + entry + "' '" +
                               source + "'")
                                  .c_str()),
                  0);
    }
    TempDir dir;
};

// Both demos hold 109 snapshots, one for each 50 ms frame of the server (their messages'
// sequence numbers run without a gap): 5.4 s from the first to the last. The real engine
// records each into 135 frames at 25 frames a second, 5.4 s (real_engine_test for
// short.dm_71, engine_sound_test for shots.dm_71).
TEST_F(DemoLengthTest, AnEngineDemoLastsFromItsFirstSnapshotToItsLast) {
    EXPECT_DOUBLE_EQ(DemoFileLength(kData + "short.dm_71").value_or(-1), 5.4);
    EXPECT_DOUBLE_EQ(DemoFileLength(kData + "shots.dm_71").value_or(-1), 5.4);
    EXPECT_FALSE(DemoFileLength(dir / "missing.dm_71"));
}

TEST_F(DemoLengthTest, ACutDemoLastsAsFarAsTheEnginePlaysItAndADamagedOneIsUnknown) {
    const std::string demo = ReadFile(kData + "shots.dm_71");
    ASSERT_GT(demo.size(), RecordOffset(demo, 12));
    // Cut inside the twelfth record: the first (the game's state) and ten snapshots, 0.45 s,
    // play, as they do without the record that ends a demo.
    EXPECT_DOUBLE_EQ(
        DemoFileLength(File("cut.dm_71", demo.substr(0, RecordOffset(demo, 11) + 9))).value_or(-1),
        0.45);
    EXPECT_DOUBLE_EQ(
        DemoFileLength(File("unended.dm_71", demo.substr(0, RecordOffset(demo, 11)))).value_or(-1),
        0.45);
    // Cut inside its first record, nothing plays.
    EXPECT_FALSE(DemoFileLength(File("head.dm_71", demo.substr(0, 500))));
    // A record that claims a message longer than the engine takes, or a length below -1.
    for (const int32_t claim : {16385, -2, INT32_MAX}) {
        std::string damaged = demo;
        std::memcpy(damaged.data() + RecordOffset(demo, 30) + 4, &claim, 4);
        EXPECT_FALSE(DemoFileLength(File("damaged.dm_71", damaged))) << claim;
    }
    // Files that are no demo of either kind.
    EXPECT_FALSE(DemoFileLength(File("zeros.dm_71", std::string(70000, '\0'))));
    EXPECT_FALSE(DemoFileLength(File("binary.dm_71", "\x01\x7f\x02\x03garbage\x04\x05 length 3")));
}

// The stand-in game plays its line "length N", else a second per 64 KiB, at least one.
TEST_F(DemoLengthTest, AStandInDemoLastsAsTheStandInPlaysIt) {
    EXPECT_DOUBLE_EQ(DemoFileLength(File("a.dm_68", "length 2.5\n")).value_or(-1), 2.5);
    EXPECT_DOUBLE_EQ(
        DemoFileLength(File("b.dm_68", "// sample\r\nerror \"a;b\"; LENGTH \"7\" // s\n length 9"))
            .value_or(-1),
        7);
    EXPECT_DOUBLE_EQ(DemoFileLength(File("c.dm_68", "stall\nlength x\n")).value_or(-1), 1);
    EXPECT_DOUBLE_EQ(DemoFileLength(File("d.dm_68", std::string(200 * 1024, 'x'))).value_or(-1),
                     3.125);
    EXPECT_DOUBLE_EQ(DemoFileLength(File("e.dm_68", "")).value_or(-1), 1);
}

TEST_F(DemoLengthTest, APackedDemoIsReadFromItsPk3AndALooseOneComesFirst) {
    const std::string mod = dir / "baseoa";
    Pk3(mod + "/pak0.pk3", "Demos/Shots.DM_71", kData + "shots.dm_71", true);
    Pk3(mod + "/pak1.pk3", "demos/stored.dm_71", kData + "short.dm_71", false);
    EXPECT_DOUBLE_EQ(ModDemoLength({mod}, "shots.dm_71").value_or(-1), 5.4);
    EXPECT_DOUBLE_EQ(ModDemoLength({mod}, "stored.dm_71").value_or(-1), 5.4);
    EXPECT_FALSE(ModDemoLength({mod}, "readme.txt"));
    EXPECT_FALSE(ModDemoLength({mod}, "other.dm_71"));

    // Deflated data damaged after its first bytes.
    const std::string pk3 = ReadFile(mod + "/pak0.pk3");
    std::string damaged = pk3;
    const size_t at = pk3.find("Demos/Shots.DM_71") + 17 + 1000;
    std::fill_n(damaged.begin() + static_cast<std::ptrdiff_t>(at), 400, '\0');
    WriteFile(mod + "/pak0.pk3", damaged);
    EXPECT_FALSE(ModDemoLength({mod}, "shots.dm_71"));
    WriteFile(mod + "/pak0.pk3", pk3);

    // The home's folder before the game's, a loose demo before a packed one, the pk3 whose
    // name sorts last first; a pk3 that cannot be read is passed over.
    const std::string home = dir / "home/baseoa";
    WriteFile(home + "/demos/stored.dm_71", "length 3\n");
    EXPECT_DOUBLE_EQ(ModDemoLength({home, mod}, "stored.dm_71").value_or(-1), 3);
    Pk3(mod + "/Zz.pk3", "demos/shots.dm_71", File("eight", "length 8\n"), false);
    WriteFile(mod + "/zzz.pk3", "not a zip file");
    EXPECT_DOUBLE_EQ(ModDemoLength({home, mod}, "shots.dm_71").value_or(-1), 8);
}

// OpenArena's own demo, deflated in its pk3; the real engine records it at five frames a
// second into more than 800 frames (real_engine_test).
TEST_F(DemoLengthTest, OpenArenasPackedDemoLastsAsLongAsTheEnginePlaysIt) {
    const std::string baseoa = "/usr/share/games/openarena/baseoa";
    if (!std::filesystem::exists(baseoa + "/pak6-patch088.pk3"))
        GTEST_SKIP() << "OpenArena's data is not installed";
    EXPECT_NEAR(ModDemoLength({baseoa}, "demo088-test1.dm_71").value_or(-1), 169.9, 1e-9);
}

} // namespace
} // namespace vexo::test
