#include <gtest/gtest.h>

#include <climits>
#include <filesystem>

#include "settings/ini.h"
#include "support/temp_dir.h"

namespace vexo {
namespace {

using test::ReadFile;
using test::TempDir;
using test::WriteFile;

class IniTest : public ::testing::Test {
protected:
    TempDir dir;
    std::string ini = dir / "vexo.ini";
};

TEST_F(IniTest, MissingFileSectionOrKeyGivesDefaults) {
    EXPECT_EQ(ReadIniString(ini, "settings", "timescale", "1.0"), "1.0");
    EXPECT_EQ(ReadIniInteger(ini, "settings", "fps", 35), 35);
    EXPECT_TRUE(ReadIniBool(ini, "settings", "windowed", true));
    WriteFile(ini, "[other]\nfps=10\n");
    EXPECT_EQ(ReadIniInteger(ini, "settings", "fps", 35), 35);
    EXPECT_FALSE(ReadIniBool(ini, "settings", "draw2D", false));
}

TEST_F(IniTest, PresentEmptyValueIsNotTheDefault) {
    WriteFile(ini, "[settings]\ntimescale=\nfps=\n");
    EXPECT_EQ(ReadIniString(ini, "settings", "timescale", "1.0"), "");
    // An empty integer is not a number: the default applies.
    EXPECT_EQ(ReadIniInteger(ini, "settings", "fps", 35), 35);
}

TEST_F(IniTest, IntegerForms) {
    WriteFile(ini, "[s]\n"
                   "dec=-5\nplus=+7\ndollar=$1E\nhex=0x1E\nupper=0X1f\nblank=  42\n"
                   "letters=abc\ntrailing=30abc\nbig=2147483648\nsmall=-2147483649\n"
                   "max=2147483647\nmin=-2147483648\nhexbig=0x100000000\nbare=0x\n");
    EXPECT_EQ(ReadIniInteger(ini, "s", "dec", 0), -5);
    EXPECT_EQ(ReadIniInteger(ini, "s", "plus", 0), 7);
    EXPECT_EQ(ReadIniInteger(ini, "s", "dollar", 0), 30);
    EXPECT_EQ(ReadIniInteger(ini, "s", "hex", 0), 30);
    EXPECT_EQ(ReadIniInteger(ini, "s", "upper", 0), 31);
    EXPECT_EQ(ReadIniInteger(ini, "s", "blank", 0), 42);
    EXPECT_EQ(ReadIniInteger(ini, "s", "letters", 25), 25);
    EXPECT_EQ(ReadIniInteger(ini, "s", "trailing", 25), 25);
    EXPECT_EQ(ReadIniInteger(ini, "s", "big", 25), 25);
    EXPECT_EQ(ReadIniInteger(ini, "s", "small", 25), 25);
    EXPECT_EQ(ReadIniInteger(ini, "s", "max", 25), INT_MAX);
    EXPECT_EQ(ReadIniInteger(ini, "s", "min", 25), INT_MIN);
    EXPECT_EQ(ReadIniInteger(ini, "s", "hexbig", 25), 25);
    EXPECT_EQ(ReadIniInteger(ini, "s", "bare", 25), 25);
}

TEST_F(IniTest, FlagsAreOnForAnyNonZeroValue) {
    WriteFile(ini, "[settings]\ndraw2D=5\nwindowed=0\nrealtime=junk\n");
    EXPECT_TRUE(ReadIniBool(ini, "settings", "draw2D", false));
    EXPECT_FALSE(ReadIniBool(ini, "settings", "windowed", true));
    EXPECT_TRUE(ReadIniBool(ini, "settings", "realtime", true));
    EXPECT_FALSE(ReadIniBool(ini, "settings", "realtime", false));
}

TEST_F(IniTest, LongValuesAreReadUpTo2047Characters) {
    WriteIniString(ini, "codec", "csd", std::string(3000, 'A'));
    EXPECT_EQ(ReadIniString(ini, "codec", "csd", ""), std::string(2047, 'A'));
}

TEST_F(IniTest, NamesMatchWithoutRegardToCase) {
    WriteFile(ini, "[Settings]\nFPS=12\n");
    EXPECT_EQ(ReadIniInteger(ini, "settings", "fps", 0), 12);
    WriteIniInteger(ini, "SETTINGS", "Fps", 13);
    EXPECT_EQ(ReadFile(ini), "[Settings]\nFps=13\n");
}

TEST_F(IniTest, WritesKeepEveryOtherLineOfAUsersFile) {
    const std::string original = "; my settings\r\n"
                                 "[settings]\r\n"
                                 "fps=35\r\n"
                                 "\r\n"
                                 "# keep me\r\n"
                                 "a line without equals\r\n"
                                 "[paths]\r\n"
                                 "quake=/games/q3\r\n";
    WriteFile(ini, original);
    WriteIniInteger(ini, "settings", "fps", 60);         // replaced in place
    WriteIniString(ini, "settings", "timescale", "0.5"); // added to its section
    WriteIniString(ini, "codec", "csd", "");             // new section at the end
    EXPECT_EQ(ReadFile(ini), "; my settings\r\n"
                             "[settings]\r\n"
                             "fps=60\r\n"
                             "\r\n"
                             "# keep me\r\n"
                             "a line without equals\r\n"
                             "timescale=0.5\r\n"
                             "[paths]\r\n"
                             "quake=/games/q3\r\n"
                             "\r\n"
                             "[codec]\r\n"
                             "csd=\r\n");
    EXPECT_EQ(ReadIniString(ini, "paths", "quake", ""), "/games/q3");
}

TEST_F(IniTest, EveryValueWrittenReadsBackUnchanged) {
    for (const std::string value : {"1.0 ", " 1.0", "\"quoted\"", "2,5", "", "a=b", "C:\\x y"}) {
        WriteIniString(ini, "settings", "timescale", value);
        EXPECT_EQ(ReadIniString(ini, "settings", "timescale", "default"), value) << value;
    }
}

TEST_F(IniTest, FailedWriteRaisesTheFileError) {
    WriteFile(dir / "file", "x");
    const std::string bad = dir / "file/vexo.ini"; // the parent is a regular file
    try {
        WriteIniInteger(bad, "settings", "fps", 1);
        FAIL() << "the write should have failed";
    } catch (const EIniFileException& e) {
        EXPECT_EQ(std::string(e.what()), "In " + bad + " kann nicht geschrieben werden");
    }
    // A failed write leaves no temporary file behind.
    WriteFile(ini, "[s]\nk=1\n");
    EXPECT_THROW(WriteIniString(ini, "s", "k", "line\nbreak"), EIniFileException);
    EXPECT_EQ(ReadFile(ini), "[s]\nk=1\n");
    EXPECT_FALSE(std::filesystem::exists(ini + ".vexo-write"));
}

// A write keeps the file's mode and writes through a link into its target; a file that may
// not be written is refused, not replaced (even root cannot write into /proc/sys).
TEST_F(IniTest, WritesKeepModeAndLinksAndRefuseAFileThatMayNotBeWritten) {
    namespace fs = std::filesystem;
    const fs::perms mode = fs::perms::owner_read | fs::perms::owner_write;
    const std::string linked = dir / "linked.ini", locked = dir / "locked.ini";
    WriteFile(ini, "[s]\nk=1\n");
    fs::permissions(ini, mode);
    fs::create_symlink("vexo.ini", linked);
    WriteIniInteger(linked, "s", "k", 2);
    EXPECT_TRUE(fs::is_symlink(linked));
    EXPECT_EQ(ReadFile(ini), "[s]\nk=2\n");
    EXPECT_EQ(fs::status(ini).permissions(), mode);
    fs::create_symlink("/proc/sys/kernel/osrelease", locked);
    EXPECT_THROW(WriteIniInteger(locked, "s", "k", 3), EIniFileException);
    EXPECT_TRUE(fs::is_symlink(locked));
}

TEST(ParseLeadingInteger, ReadsTheLeadingNumberOnly) {
    EXPECT_EQ(ParseLeadingInteger("35"), 35);
    EXPECT_EQ(ParseLeadingInteger("  -12"), -12);
    EXPECT_EQ(ParseLeadingInteger("+8"), 8);
    EXPECT_EQ(ParseLeadingInteger("30 fps"), 30);
    EXPECT_EQ(ParseLeadingInteger("30abc"), 30);
    EXPECT_EQ(ParseLeadingInteger("abc"), 0);
    EXPECT_EQ(ParseLeadingInteger(""), 0);
    EXPECT_EQ(ParseLeadingInteger("-"), 0);
    EXPECT_EQ(ParseLeadingInteger("0x1E"), 0);
    EXPECT_EQ(ParseLeadingInteger("99999999999999999999"), INT_MAX);
    EXPECT_EQ(ParseLeadingInteger("-99999999999999999999"), INT_MIN);
}

} // namespace
} // namespace vexo
