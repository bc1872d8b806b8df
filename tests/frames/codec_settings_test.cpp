// The stored compressor choice: base64, loading (defaults, states, refused states), saving,
// the round trip through a settings file for every compressor of this machine, and the
// Codec button of the main window's logic.
#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "form/frm_main.h"
#include "frames/avi_file.h"
#include "platform/fs.h"
#include "platform/vfw.h"
#include "settings/codec_settings.h"
#include "settings/ini.h"
#include "support/fake_host.h"
#include "support/temp_dir.h"

namespace vexo {
namespace {

using test::FakeHost;
using test::ReadFile;
using test::TempDir;
using test::WriteFile;

std::string Encode(const std::vector<unsigned char>& bytes) {
    std::string text(((bytes.size() + 2) / 3) * 4 + 1, '?');
    Base64Encode(text.data(), bytes.data(), static_cast<int>(bytes.size()));
    EXPECT_EQ(text.back(), '\0');
    text.pop_back();
    return text;
}

TEST(Base64Test, EncodesStandardBase64) {
    EXPECT_EQ(Encode({'a', 'b', 'c'}), "YWJj");
    EXPECT_EQ(Encode({0}), "AA==");
    EXPECT_EQ(Encode({1, 2, 3, 4, 5}), "AQIDBAU=");
    EXPECT_EQ(Encode({0xFF, 0xFE, 0xFD, 0xFC}), "//79/A==");
    EXPECT_EQ(Encode({0xFB, 0xEF}), "++8=");
    char empty[4] = "xyz";
    Base64Encode(empty, nullptr, 0);
    EXPECT_STREQ(empty, "");
    std::strcpy(empty, "xyz");
    Base64Encode(empty, nullptr, -3);
    EXPECT_STREQ(empty, "");
}

TEST(Base64Test, DecodeSkipsForeignCharactersAndStopsAtPaddingOrCapacity) {
    unsigned char out[8];
    auto decode = [&](const char* text, int capacity) {
        std::memset(out, 0xAA, sizeof out);
        Base64Decode(out, text, capacity);
        return std::vector<unsigned char>(out, out + sizeof out);
    };
    using V = std::vector<unsigned char>;
    const unsigned char A = 0xAA;
    EXPECT_EQ(decode("AQIDBAU=", 8), (V{1, 2, 3, 4, 5, A, A, A}));
    EXPECT_EQ(decode("AQID\r\nBA U=", 8), (V{1, 2, 3, 4, 5, A, A, A}));
    EXPECT_EQ(decode("AQIDBAU=", 4), (V{1, 2, 3, 4, A, A, A, A}));
    EXPECT_EQ(decode("YWJj", 8), (V{'a', 'b', 'c', A, A, A, A, A}));
    // An incomplete last group yields nothing; "=" in the first two places stops at once.
    EXPECT_EQ(decode("AQIDBA", 8), (V{1, 2, 3, A, A, A, A, A}));
    EXPECT_EQ(decode("AQID=AAA", 8), (V{1, 2, 3, A, A, A, A, A}));
    EXPECT_EQ(decode("AA==AQID", 8), (V{0, A, A, A, A, A, A, A}));
    EXPECT_EQ(decode("AQID", 0), (V{A, A, A, A, A, A, A, A}));

    // Every length round-trips, whatever the bytes.
    for (int n = 0; n <= 40; ++n) {
        std::vector<unsigned char> bytes(static_cast<size_t>(n));
        for (int i = 0; i < n; ++i)
            bytes[static_cast<size_t>(i)] = static_cast<unsigned char>(i * 37 + n * 11);
        std::vector<unsigned char> back(static_cast<size_t>(n) + 1, 0x5A);
        Base64Decode(back.data(), Encode(bytes).c_str(), n);
        EXPECT_EQ(std::vector<unsigned char>(back.begin(), back.end() - 1), bytes) << n;
        EXPECT_EQ(back.back(), 0x5A) << n;
    }
}

class CodecSettingsTest : public ::testing::Test {
protected:
    CodecSettingsTest() { platform::SetProgramDirectoryForTesting(dir.path()); }
    ~CodecSettingsTest() override { platform::SetProgramDirectoryForTesting(""); }

    std::string Ini() const { return dir / "vexo.ini"; }
    void Store(const std::string& content) { WriteFile(Ini(), "[codec]\n" + content); }
    std::string Read(const char* key) { return ReadIniString(Ini(), "codec", key, "<missing>"); }

    // The record as a freshly reset one looks.
    static void ExpectDefaults(const COMPVARS& vars) {
        EXPECT_EQ(vars.cbSize, 64);
        EXPECT_TRUE(vars.dwFlags & ICMF_COMPVARS_VALID);
        EXPECT_EQ(vars.lQ, 10000);
        EXPECT_EQ(vars.hic, nullptr);
        EXPECT_EQ(vars.fccHandler, 0u);
        EXPECT_EQ(vars.lpState, nullptr);
        EXPECT_EQ(vars.cbState, 0);
    }

    struct Reporter : CodecSaveReporter {
        void Status(const std::string& text) override { statuses.push_back(text); }
        void ErrorBox(const std::string& text) override { boxes.push_back(text); }
        std::vector<std::string> statuses, boxes;
    };

    TempDir dir;
};

TEST_F(CodecSettingsTest, ResetClearsTheRecord) {
    COMPVARS vars;
    std::memset(&vars, 0x5C, sizeof vars);
    vars.dwFlags = 0;
    ResetCodecSettings(&vars, true);
    ExpectDefaults(vars);
    EXPECT_EQ(vars.lKey, 0);
    EXPECT_EQ(vars.fccType, 0u);
    ResetCodecSettings(nullptr, true);

    // Without clearing, a valid record keeps its quality; only the size is set.
    vars.lQ = 1234;
    vars.cbSize = 3;
    ResetCodecSettings(&vars, false);
    EXPECT_EQ(vars.lQ, 1234);
    EXPECT_EQ(vars.cbSize, 64);
}

TEST_F(CodecSettingsTest, LoadsValuesAndDefaults) {
    COMPVARS vars;
    EXPECT_FALSE(LoadCodecSettings(Ini(), nullptr));

    // No settings file at all.
    std::memset(&vars, 0x5C, sizeof vars);
    ASSERT_TRUE(LoadCodecSettings(Ini(), &vars));
    EXPECT_EQ(vars.cbSize, 64);
    EXPECT_TRUE(vars.dwFlags & ICMF_COMPVARS_VALID);
    EXPECT_EQ(vars.fccType, ICTYPE_VIDEO);
    EXPECT_EQ(vars.fccHandler, 1145651744u);
    EXPECT_EQ(vars.lKey, 0);
    EXPECT_EQ(vars.lQ, 10000);
    EXPECT_EQ(vars.lDataRate, 0);
    EXPECT_EQ(vars.lpState, nullptr);
    EXPECT_EQ(vars.cbState, 0);
    EXPECT_EQ(vars.lpbiIn, nullptr);
    ICCompressorFree(&vars);

    Store("fcc=1431918169\nkey=25\nqty=7500\ndrt=900\n");
    ASSERT_TRUE(LoadCodecSettings(Ini(), &vars));
    EXPECT_EQ(vars.fccHandler, MakeFourCC('Y', 'V', 'Y', 'U'));
    EXPECT_EQ(vars.lKey, 25);
    EXPECT_EQ(vars.lQ, 7500);
    EXPECT_EQ(vars.lDataRate, 900);
    ICCompressorFree(&vars);

    Store("fcc=abc\nkey=\nqty=x\ndrt=99999999999\n");
    ASSERT_TRUE(LoadCodecSettings(Ini(), &vars));
    EXPECT_EQ(vars.fccHandler, 1145651744u);
    EXPECT_EQ(vars.lKey, 0);
    EXPECT_EQ(vars.lQ, 10000);
    EXPECT_EQ(vars.lDataRate, 0);
    ICCompressorFree(&vars);
}

TEST_F(CodecSettingsTest, StoredStatesThatCannotBeTakenBackAreRefused) {
    COMPVARS vars;
    // Five bytes in eight characters: fits. Empty text or no size: nothing to restore.
    for (const char* content : {"sds=5\ncsd=AQIDBAU=\n", "sds=5\ncsd=\n", "sds=0\ncsd=AQIDBAU=\n",
                                "sds=-4\ncsd=AQIDBAU=\n"}) {
        Store(content);
        EXPECT_TRUE(LoadCodecSettings(Ini(), &vars)) << content;
        ICCompressorFree(&vars);
    }
    // Seven bytes cannot come from eight characters (capacity 6); a text whose foreign
    // characters pass the capacity test but that decodes to fewer bytes neither.
    for (const char* content :
         {"fcc=1145651744\nqty=500\nsds=7\ncsd=AQIDBAU=\n", "qty=500\nsds=5\ncsd=AQID!!!!\n",
          "qty=500\nsds=6\ncsd=AQIDBAU=\n", "qty=500\nsds=2000000000\ncsd=AQIDBAU=\n"}) {
        Store(content);
        EXPECT_FALSE(LoadCodecSettings(Ini(), &vars)) << content;
        ExpectDefaults(vars);
        ICCompressorFree(&vars);
    }

    // The settings reader returns at most 2047 characters: 1533 bytes (2044 characters)
    // come back whole; 1534 to 1536 bytes (2048 characters) lose their last group and are
    // refused like anything longer.
    for (int size : {1533, 1534, 1535, 1536, 1537}) {
        std::vector<unsigned char> state(static_cast<size_t>(size), 0x41);
        Store("qty=500\nsds=" + std::to_string(size) + "\ncsd=" + Encode(state) + "\n");
        const bool loaded = LoadCodecSettings(Ini(), &vars);
        EXPECT_EQ(loaded, size == 1533) << size;
        if (!loaded)
            ExpectDefaults(vars);
        else
            EXPECT_EQ(vars.lQ, 500);
        ICCompressorFree(&vars);
    }
}

TEST_F(CodecSettingsTest, SavingUncompressedStoresNoState) {
    Reporter reporter;
    COMPVARS vars;
    ResetCodecSettings(&vars, true);
    vars.dwFlags = 0;
    EXPECT_FALSE(SaveCodecSettings(Ini(), &vars, reporter));
    EXPECT_FALSE(SaveCodecSettings(Ini(), nullptr, reporter));
    EXPECT_FALSE(platform::PathExists(Ini()));
    EXPECT_TRUE(reporter.statuses.empty());

    // An earlier state is replaced by none.
    Store("sds=5\ncsd=AQIDBAU=\n");
    ResetCodecSettings(&vars, true);
    vars.fccType = ICTYPE_VIDEO;
    vars.fccHandler = FOURCC_DIB;
    vars.lKey = 12;
    vars.lQ = 4200;
    vars.lDataRate = 300;
    EXPECT_TRUE(SaveCodecSettings(Ini(), &vars, reporter));
    EXPECT_EQ(Read("fcc"), std::to_string(FOURCC_DIB));
    EXPECT_EQ(Read("key"), "12");
    EXPECT_EQ(Read("qty"), "4200");
    EXPECT_EQ(Read("drt"), "300");
    EXPECT_EQ(Read("sds"), "0");
    EXPECT_EQ(Read("csd"), "");
    EXPECT_EQ(reporter.statuses, std::vector<std::string>{"Saved compressor settings."});
    EXPECT_TRUE(reporter.boxes.empty());

    // A code with the top bit set survives the signed integer the file holds.
    vars.fccHandler = 0xF0E0D0C0u;
    EXPECT_TRUE(SaveCodecSettings(Ini(), &vars, reporter));
    COMPVARS back;
    LoadCodecSettings(Ini(), &back);
    EXPECT_EQ(back.fccHandler, 0xF0E0D0C0u);
    ICCompressorFree(&back);
}

TEST_F(CodecSettingsTest, FailedWritesReachTheCaller) {
    Reporter reporter;
    COMPVARS vars;
    ResetCodecSettings(&vars, true);
    // The settings file's place is taken by a directory.
    platform::CreateDirectoryAt(Ini());
    EXPECT_THROW(SaveCodecSettings(Ini(), &vars, reporter), EIniFileException);
    EXPECT_TRUE(reporter.statuses.empty());
}

// Every compressor of this machine: its options changed from their defaults, stored, and
// loaded back into a new record whose compressor has the same options.
TEST_F(CodecSettingsTest, EveryCompressorRoundTripsThroughTheSettingsFile) {
    const std::vector<CompressorInfo> compressors = ICEnumerateCompressors();
    ASSERT_FALSE(compressors.empty());
    for (const CompressorInfo& info : compressors) {
        SCOPED_TRACE(info.name);
        COMPVARS vars;
        ResetCodecSettings(&vars, true);
        vars.fccType = ICTYPE_VIDEO;
        vars.fccHandler = info.fourcc;
        vars.lQ = 6100;
        vars.lKey = 50;
        vars.lDataRate = 2500;
        vars.hic = ICOpen(ICTYPE_VIDEO, info.fourcc, ICMODE_COMPRESS);
        std::vector<CompressorOption> options = ICGetOptions(vars.hic);
        EXPECT_EQ(info.hasOptions, !options.empty());
        for (CompressorOption& option : options) {
            option.value = static_cast<int>(option.choices.size()) - 1;
            EXPECT_TRUE(ICSetOption(vars.hic, option.key, option.value)) << option.key;
        }
        Reporter reporter;
        ASSERT_TRUE(SaveCodecSettings(Ini(), &vars, reporter));
        EXPECT_EQ(reporter.statuses, std::vector<std::string>{"Saved compressor settings."});
        const bool hasState = ICSendMessage(vars.hic, ICM_GETSTATE, nullptr, 0) > 0;
        EXPECT_EQ(Read("sds") != "0", hasState);
        EXPECT_EQ(Read("csd").empty(), !hasState);
        ICCompressorFree(&vars);

        COMPVARS back;
        ASSERT_TRUE(LoadCodecSettings(Ini(), &back));
        EXPECT_EQ(back.fccHandler, info.fourcc);
        EXPECT_EQ(back.lQ, 6100);
        EXPECT_EQ(back.lKey, 50);
        EXPECT_EQ(back.lDataRate, 2500);
        const std::vector<CompressorOption> restored = ICGetOptions(back.hic);
        ASSERT_EQ(restored.size(), options.size());
        for (size_t i = 0; i < options.size(); ++i) {
            EXPECT_EQ(restored[i].key, options[i].key);
            EXPECT_EQ(restored[i].value, options[i].value) << options[i].key;
        }
        ICCompressorFree(&back);
    }
}

// The Codec button, with a scripted dialog.
class CodecButtonTest : public CodecSettingsTest {
protected:
    CodecButtonTest() : form(host, writer, queue) {}
    FakeHost host;
    CAviFile writer;
    platform::MainThreadQueue queue;
    TfrmMain form;
};

TEST_F(CodecButtonTest, CancelWritesNothing) {
    form.Controls.status.SetSimpleText("Ready.");
    COMPVARS seen{};
    BITMAPINFOHEADER input{};
    host.chooser = [&](COMPVARS& vars) {
        seen = vars;
        if (vars.lpbiIn)
            input = *vars.lpbiIn;
        return 0;
    };
    form.Guard([&] { form.btnCodecClick(); });
    EXPECT_EQ(host.chooserTitles, std::vector<std::string>{"Video Compression"});
    EXPECT_FALSE(platform::PathExists(Ini()));
    EXPECT_EQ(form.Controls.status.SimpleText(), "");
    EXPECT_TRUE(host.boxes.empty());
    // The dialog saw the defaults and a 24-bit input of unknown size.
    EXPECT_TRUE(seen.dwFlags & ICMF_COMPVARS_VALID);
    EXPECT_EQ(seen.fccHandler, kDefaultFourCC);
    EXPECT_EQ(seen.lQ, 10000);
    EXPECT_EQ(input.biSize, 40u);
    EXPECT_EQ(input.biPlanes, 1);
    EXPECT_EQ(input.biBitCount, 24);
    EXPECT_EQ(input.biWidth, 0);
    EXPECT_EQ(input.biCompression, BI_RGB);
}

TEST_F(CodecButtonTest, ConfirmedChoiceIsStoredAndPreselectedNextTime) {
    Store("fcc=1145651744\nqty=3300\nkey=7\n");
    host.chooser = [&](COMPVARS& vars) {
        EXPECT_EQ(vars.lQ, 3300);
        EXPECT_EQ(vars.lKey, 7);
        vars.fccHandler = FOURCC_DIB;
        vars.lQ = 8800;
        vars.lKey = 0;
        vars.lDataRate = 128;
        return 1;
    };
    form.Guard([&] { form.btnCodecClick(); });
    EXPECT_EQ(form.Controls.status.SimpleText(), "Saved compressor settings.");
    EXPECT_EQ(Read("fcc"), std::to_string(FOURCC_DIB));
    EXPECT_EQ(Read("qty"), "8800");
    EXPECT_EQ(Read("key"), "0");
    EXPECT_EQ(Read("drt"), "128");
    EXPECT_EQ(Read("sds"), "0");
    EXPECT_TRUE(host.boxes.empty());
}

TEST_F(CodecButtonTest, FailedSaveShowsTheGenericErrorBox) {
    host.SetApplicationTitle("Vexograph | PUBLIC BETA v0.5");
    platform::CreateDirectoryAt(Ini());
    host.chooser = [](COMPVARS&) { return 1; };
    form.Guard([&] { form.btnCodecClick(); });
    ASSERT_EQ(host.boxes.size(), 1u);
    EXPECT_EQ(host.boxes[0].caption, "Vexograph | PUBLIC BETA v0.5");
    EXPECT_EQ(host.boxes[0].flags, MB_OK | MB_ICONERROR);
}

} // namespace
} // namespace vexo
