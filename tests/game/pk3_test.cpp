// Demos packed in pk3 files: listed beside the loose ones and accepted before a recording,
// read from ZIP files that Python's zipfile writes; damaged files skipped and logged.
#include "game/game_script.h"
#include "game/lists.h"
#include "game/pk3.h"
#include "platform/log.h"

#include "game_fixture.h"

namespace vexo::test {
namespace {

namespace fs = std::filesystem;

class Pk3Test : public GameTest {
protected:
    Pk3Test() {
        platform::SetLogListener([this](const std::string& line) { logged.push_back(line); });
    }
    ~Pk3Test() override { platform::SetLogListener({}); }
    // A ZIP file holding the named entries (each with a few bytes, compressed) and a comment;
    // with zip64, ended by the records of ZIP64, as a file of more than 65535 entries is.
    static void Pk3(const std::string& path, const Strings& entries, bool zip64 = false) {
        fs::create_directories(fs::path(path).parent_path());
        std::string names;
        for (const std::string& e : entries)
            names += " '" + e + "'";
        const std::string script = std::string("import sys, zipfile\n") +
                                   (zip64 ? "zipfile.ZIP_FILECOUNT_LIMIT = 0\n" : "") +
                                   "with zipfile.ZipFile(sys.argv[1], 'w', zipfile.ZIP_DEFLATED) "
                                   "as z:\n"
                                   "    z.comment = b'PK\\x05\\x06 in a comment'\n"
                                   "    for name in sys.argv[2:]:\n"
                                   "        z.writestr(name, 'demo data ' * 50)\n";
        ASSERT_EQ(std::system(("python3 -c \"" + script + "\" '" + path + "'" + names).c_str()), 0);
    }
    Strings logged;
};

TEST_F(Pk3Test, PackedDemosAreListedOnceBesideTheLooseOnesAndAcceptedBeforeARecording) {
    GameFile("baseq3/demos/loose.dm_68");
    Pk3(game / "baseq3/pak0.pk3",
        {"maps/q3dm1.bsp", "demos/", "demos/Loose.DM_68", "DEMOS/Packed.dm_71",
         "demos\\windows.dm_68", "demos/sub/deeper.dm_68", "demos/notes.txt",
         "demos/x\";quit;\".dm_68", "other/demos/not.dm_68"});
    Pk3(game / "baseq3/zz-patch.PK3", {"demos/PACKED.dm_71", "demos/late.dm_66"}, true);
    C().edBasePath.SetText(game.path());
    EXPECT_EQ(Demos(), (Strings{"late.dm_66", "loose.dm_68", "Packed.dm_71", "windows.dm_68"}));
    EXPECT_TRUE(logged.empty()) << logged[0];

    const RunPaths paths =
        BuildRunPaths(game.path(), "baseq3", "default.cfg", program.path() + "/", "/out", '/');
    EXPECT_TRUE(DemoFileExists(paths, "Packed.dm_71", '/'));
    EXPECT_TRUE(DemoFileExists(paths, "packed.DM_71", '/')); // the engine ignores the case
    EXPECT_TRUE(DemoFileExists(paths, "late.dm_66", '/'));
    EXPECT_TRUE(DemoFileExists(paths, "loose.dm_68", '/'));
    EXPECT_FALSE(DemoFileExists(paths, "deeper.dm_68", '/'));
    EXPECT_FALSE(DemoFileExists(paths, "gone.dm_71", '/'));
}

TEST_F(Pk3Test, ADamagedPk3IsSkippedAndLoggedOnceWithoutReadingItsClaims) {
    Pk3(game / "baseq3/good.pk3", {"demos/good.dm_68"});
    const std::string zip = ReadFile(game / "baseq3/good.pk3");
    WriteFile(game / "baseq3/cut.pk3", zip.substr(0, zip.size() / 2));
    // A directory of terabytes claimed by the ZIP64 end record of a file as long, which holds
    // nothing and takes no room on the disk: a reader that believed the claim would ask for
    // more memory than there is.
    const uint64_t fileSize = uint64_t{4} << 40, record = fileSize - 22 - 20 - 56;
    auto le = [](uint64_t value, int bytes) {
        std::string text;
        for (int i = 0; i < bytes; ++i, value >>= 8)
            text += static_cast<char>(value & 0xFF);
        return text;
    };
    const std::string end = "PK\x06\x06" + le(44, 8) + le(45, 2) + le(45, 2) + le(0, 8) + le(1, 8) +
                            le(1, 8) + le(record, 8) + le(0, 8) + "PK\x06\x07" + le(0, 4) +
                            le(record, 8) + le(1, 4) + "PK\x05\x06" + le(0, 4) + le(0xFFFF, 2) +
                            le(0xFFFF, 2) + le(0xFFFFFFFF, 4) + le(0xFFFFFFFF, 4) + le(0, 2);
    ASSERT_EQ(end.size(), 98u);
    {
        std::ofstream out(game / "baseq3/huge.pk3", std::ios::binary);
        out.seekp(static_cast<std::streamoff>(record));
        out << end;
    }
    ASSERT_EQ(fs::file_size(game / "baseq3/huge.pk3"), fileSize);

    C().edBasePath.SetText(game.path());
    EXPECT_EQ(Demos(), (Strings{"good.dm_68"}));
    ASSERT_EQ(logged.size(), 2u);
    for (const char* name : {"cut.pk3", "huge.pk3"})
        EXPECT_TRUE(std::any_of(logged.begin(), logged.end(), [&](const std::string& line) {
            return line.rfind("lists: skipped " + game / "baseq3/" + name, 0) == 0;
        })) << name;
    form->Button1Click(); // the same files again: nothing new to say
    EXPECT_EQ(logged.size(), 2u);
}

TEST(RealPk3Test, OpenArenasOwnDemosAreListed) {
    const std::string data = "/usr/lib/openarena/baseoa"; // as Debian's package lays it out
    if (!fs::exists(data + "/pak0.pk3"))
        GTEST_SKIP() << "openarena is not installed (scripts/deps installs it)";
    Strings demos = ListPackedDemos(data);
    std::sort(demos.begin(), demos.end());
    EXPECT_EQ(demos,
              (Strings{"demo088-test1.dm_71", "flyby_compromise.dm_70", "flyby_hydronex.dm_70",
                       "flyby_oa_dm3.dm_70", "flyby_oaspirit.dm_70", "flyby_suspended.dm_70",
                       "stress_bases3.dm_70", "stress_q3dm6ishv2.dm_70", "stress_sago.dm_70",
                       "stress_schism.dm_70"}));
}

} // namespace
} // namespace vexo::test
