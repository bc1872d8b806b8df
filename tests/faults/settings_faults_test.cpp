// A settings file full of garbage: the program starts with its defaults, writes its keys and
// keeps every line it did not write itself.
#include "fault_fixture.h"
#include "form/frm_main.h"
#include "settings/ini.h"
#include "support/system_games.h"

namespace vexo::faults {
namespace {

class GarbageSettingsTest : public ::testing::Test {
protected:
    GarbageSettingsTest() { platform::SetProgramDirectoryForTesting(dir.path()); }
    ~GarbageSettingsTest() override {
        form.reset();
        platform::SetProgramDirectoryForTesting("");
    }
    TfrmMain& Start() {
        form = std::make_unique<TfrmMain>(host, writer, queue);
        form->Guard([&] { form->FormCreate(); });
        return *form;
    }
    std::string Ini() const { return dir / "vexo.ini"; }

    test::SystemGames system; // no game installed on this machine is found
    TempDir dir;
    test::FakeHost host;
    CAviFile writer;
    platform::MainThreadQueue queue;
    std::unique_ptr<TfrmMain> form;
};

TEST_F(GarbageSettingsTest, StartsWithDefaultsAndKeepsEveryGarbageLine) {
    // Binary bytes (a NUL among them), a line of a mebibyte, no section header at all.
    std::string binary;
    for (int i = 1; i < 256; ++i)
        if (i != '\n' && i != '\r')
            binary += static_cast<char>(i);
    binary.insert(10, 1, '\0');
    const std::string longLine = "avifps=" + std::string(1 << 20, '7');
    const std::string garbage = binary + "\n" + longLine + "\n=\n[\n]]]\nfps\n";
    WriteFile(Ini(), garbage);

    MainControls& c = Start().Controls;
    EXPECT_TRUE(host.boxes.empty()) << host.boxes[0].text;
    EXPECT_EQ(c.status.SimpleText(), "Ready.");
    EXPECT_EQ(c.edAviFps.Text(), "25");
    EXPECT_EQ(c.edFps.Text(), "35");
    EXPECT_EQ(c.edTimeScale.Text(), "1.0");
    EXPECT_EQ(c.edBasePath.Text(), "");
    EXPECT_TRUE(c.cbWindowed.Checked());

    // The keys the start wrote are there, in their own section, after the untouched garbage.
    const std::string after = test::ReadFile(Ini());
    EXPECT_EQ(after.compare(0, garbage.size(), garbage), 0) << "garbage lines were changed";
    EXPECT_EQ(ReadIniString(Ini(), "settings", "avifps", "?"), "25");
    EXPECT_EQ(ReadIniString(Ini(), "settings", "fps", "?"), "35");

    // A user's change is stored as well, and a second start reads it back.
    c.edAviFps.SetText("30");
    EXPECT_EQ(ReadIniString(Ini(), "settings", "avifps", "?"), "30");
    EXPECT_EQ(test::ReadFile(Ini()).compare(0, garbage.size(), garbage), 0);
    MainControls& again = Start().Controls;
    EXPECT_EQ(again.edAviFps.Text(), "30");
    EXPECT_TRUE(host.boxes.empty());
}

TEST_F(GarbageSettingsTest, GarbageInsideTheSectionsGivesDefaults) {
    const std::string garbage =
        std::string("[settings]\n\x01\x02\x03\navifps=\xff\xfe\n") +
        "fps=" + std::string(100000, '9') + "\ntimescale\n" +
        "[paths]\nquake=\x7f\x01/nowhere\noutput=" + std::string(5000, '/') + "\n[codec]\nfcc=\n";
    WriteFile(Ini(), garbage);
    MainControls& c = Start().Controls;
    EXPECT_TRUE(host.boxes.empty()) << host.boxes[0].text;
    EXPECT_EQ(c.status.SimpleText(), "Ready.");
    EXPECT_EQ(c.edAviFps.Text(), "25");
    EXPECT_TRUE(c.cbMods.Items().empty());
    // The lines the program did not write survive its writes.
    const std::string after = test::ReadFile(Ini());
    EXPECT_NE(after.find("\x01\x02\x03\n"), std::string::npos);
    EXPECT_NE(after.find("timescale\n"), std::string::npos);
    EXPECT_NE(after.find("[codec]\nfcc=\n"), std::string::npos);
}

} // namespace
} // namespace vexo::faults
