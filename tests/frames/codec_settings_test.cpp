#include <gtest/gtest.h>

#include <cstring>
#include <filesystem>
#include <string>
#include <vector>

#include "form/frm_main.h"
#include "frames/avi_file.h"
#include "platform/fs.h"
#include "settings/codec_settings.h"
#include "settings/ini.h"
#include "support/fake_host.h"
#include "support/temp_dir.h"

namespace vexo {
namespace {

using Bytes = std::vector<unsigned char>;

std::string Encode(const Bytes& bytes) {
    std::string text(((bytes.size() + 2) / 3) * 4 + 1, '?');
    Base64Encode(text.data(), bytes.data(), static_cast<int>(bytes.size()));
    EXPECT_EQ(text.back(), '\0');
    text.pop_back();
    return text;
}

bool IsUncompressed(FOURCC code) {
    return code == kDefaultFourCC || code == FOURCC_DIB || code == 0;
}

struct RecordingReporter : CodecSaveReporter {
    void Status(const std::string& text) override { statuses.push_back(text); }
    void ErrorBox(const std::string& text) override { boxes.push_back(text); }
    std::vector<std::string> statuses, boxes;
};

TEST(Base64Test, EncodesStandardTextWithPadding) {
    EXPECT_EQ(Encode({'a', 'b', 'c'}), "YWJj");
    EXPECT_EQ(Encode({0}), "AA==");
    EXPECT_EQ(Encode({'a', 'b'}), "YWI=");
    EXPECT_EQ(Encode({}), "");
    EXPECT_EQ(Encode({0xFB, 0xFF, 0xBF}), "+/+/");
    char text[4] = "xyz";
    Base64Encode(text, nullptr, -3);
    EXPECT_STREQ(text, "");
}

TEST(Base64Test, DecodesWhatItEncodesWhateverTheLength) {
    for (int length = 0; length <= 40; ++length) {
        Bytes bytes(length);
        for (int i = 0; i < length; ++i)
            bytes[i] = static_cast<unsigned char>(i * 97 + length * 31);
        const std::string text = Encode(bytes);
        Bytes out(length + 2, 0xAA);
        Base64Decode(out.data(), text.c_str(), length);
        EXPECT_EQ(Bytes(out.begin(), out.begin() + length), bytes) << length;
        EXPECT_EQ(out[length], 0xAA) << "nothing written past the capacity";
    }
}

TEST(Base64Test, DecodingSkipsForeignCharactersAndStopsAtCapacityOrPadding) {
    Bytes out(8, 0xAA);
    Base64Decode(out.data(), "AQ ID\r\nBA\tU=", 8);
    EXPECT_EQ(out, (Bytes{1, 2, 3, 4, 5, 0xAA, 0xAA, 0xAA}));

    out.assign(8, 0xAA);
    Base64Decode(out.data(), "AQIDBAU=", 2);
    EXPECT_EQ(out, (Bytes{1, 2, 0xAA, 0xAA, 0xAA, 0xAA, 0xAA, 0xAA}));

    // An incomplete last group yields nothing.
    out.assign(8, 0xAA);
    Base64Decode(out.data(), "AQIDBA", 8);
    EXPECT_EQ(out, (Bytes{1, 2, 3, 0xAA, 0xAA, 0xAA, 0xAA, 0xAA}));

    // "=" in the first two places of a group ends the text.
    out.assign(4, 0xAA);
    Base64Decode(out.data(), "=AAAAQID", 4);
    EXPECT_EQ(out, (Bytes{0xAA, 0xAA, 0xAA, 0xAA}));
}

TEST(ResetCodecSettingsTest, FreshRecordDefaults) {
    ResetCodecSettings(nullptr, true);
    COMPVARS vars;
    std::memset(&vars, 0x5A, sizeof vars);
    vars.dwFlags = 0;
    ResetCodecSettings(&vars, true);
    EXPECT_EQ(vars.cbSize, 64);
    EXPECT_EQ(vars.dwFlags, ICMF_COMPVARS_VALID);
    EXPECT_EQ(vars.lQ, 10000);
    EXPECT_EQ(vars.hic, nullptr);
    EXPECT_EQ(vars.fccHandler, 0u);
    EXPECT_EQ(vars.lKey, 0);
    // Without clearing, a valid record keeps its quality.
    vars.lQ = 1234;
    vars.cbSize = 0;
    ResetCodecSettings(&vars, false);
    EXPECT_EQ(vars.lQ, 1234);
    EXPECT_EQ(vars.cbSize, 64);
}

class CodecSettingsTest : public ::testing::Test {
protected:
    CodecSettingsTest() { platform::SetProgramDirectoryForTesting(dir.path()); }
    ~CodecSettingsTest() override { platform::SetProgramDirectoryForTesting(""); }

    std::string Ini() const { return dir / "vexo.ini"; }
    void Store(const char* key, const std::string& value) {
        WriteIniString(Ini(), "codec", key, value);
    }
    std::string Stored(const char* key) { return ReadIniString(Ini(), "codec", key, "<missing>"); }
    // Loads and checks the load left a record at the defaults of a reset.
    void ExpectRefused() {
        COMPVARS vars;
        EXPECT_FALSE(LoadCodecSettings(Ini(), &vars));
        EXPECT_EQ(vars.dwFlags, ICMF_COMPVARS_VALID);
        EXPECT_EQ(vars.lQ, 10000);
        EXPECT_EQ(vars.fccHandler, 0u);
        EXPECT_EQ(vars.hic, nullptr);
    }

    test::TempDir dir;
};

TEST_F(CodecSettingsTest, LoadWithoutSectionGivesDefaults) {
    COMPVARS vars;
    EXPECT_FALSE(LoadCodecSettings(Ini(), nullptr));
    ASSERT_TRUE(LoadCodecSettings(Ini(), &vars));
    EXPECT_EQ(vars.cbSize, 64);
    EXPECT_EQ(vars.dwFlags, ICMF_COMPVARS_VALID);
    EXPECT_EQ(vars.fccType, ICTYPE_VIDEO);
    EXPECT_EQ(vars.fccHandler, 1145651744u);
    EXPECT_EQ(vars.lKey, 0);
    EXPECT_EQ(vars.lQ, 10000);
    EXPECT_EQ(vars.lDataRate, 0);
    EXPECT_EQ(vars.lpState, nullptr);
    EXPECT_EQ(vars.cbState, 0);
    ICCompressorFree(&vars);

    // Values that are not numbers fall back to the defaults too.
    Store("fcc", "huff");
    Store("qty", "");
    Store("key", "25");
    Store("drt", "-7");
    ASSERT_TRUE(LoadCodecSettings(Ini(), &vars));
    EXPECT_EQ(vars.fccHandler, 1145651744u);
    EXPECT_EQ(vars.lQ, 10000);
    EXPECT_EQ(vars.lKey, 25);
    EXPECT_EQ(vars.lDataRate, -7);
    ICCompressorFree(&vars);
}

TEST_F(CodecSettingsTest, StoredStatesThatDecodeWholeAreTaken) {
    COMPVARS vars;
    Store("qty", "5000");
    Store("sds", "5");
    Store("csd", "AQIDBAU=");
    ASSERT_TRUE(LoadCodecSettings(Ini(), &vars));
    EXPECT_EQ(vars.lQ, 5000);
    ICCompressorFree(&vars);

    // The longest state the settings reader returns whole: 1533 bytes, 2044 characters.
    const std::string longest = Encode(Bytes(1533, 0x41));
    ASSERT_EQ(longest.size(), 2044u);
    Store("sds", "1533");
    Store("csd", longest);
    EXPECT_TRUE(LoadCodecSettings(Ini(), &vars));
    ICCompressorFree(&vars);
}

TEST_F(CodecSettingsTest, StatesTheTextCannotSupplyAreRefused) {
    Store("fcc", "1685287784");
    Store("qty", "5000");
    Store("csd", "AQIDBAU=");
    Store("sds", "7"); // more than eight characters can hold
    ExpectRefused();
    Store("sds", "6"); // the text holds only five bytes
    ExpectRefused();
    // 1534 to 1536 bytes: the reader cuts the text, so its last bytes never arrive.
    for (int size : {1534, 1535, 1536}) {
        Store("sds", std::to_string(size));
        Store("csd", Encode(Bytes(size, 0x41)));
        ExpectRefused();
    }
    Store("sds", "1537");
    ExpectRefused();
}

TEST_F(CodecSettingsTest, SavingAnUncompressedChoice) {
    RecordingReporter reporter;
    COMPVARS vars;
    ResetCodecSettings(&vars, true);
    vars.dwFlags = 0;
    EXPECT_FALSE(SaveCodecSettings(Ini(), &vars, reporter));
    EXPECT_FALSE(SaveCodecSettings(Ini(), nullptr, reporter));
    EXPECT_FALSE(std::filesystem::exists(Ini())) << "nothing written for an invalid record";
    EXPECT_TRUE(reporter.statuses.empty());

    Store("sds", "5");
    Store("csd", "AQIDBAU=");
    ResetCodecSettings(&vars, true);
    vars.fccHandler = FOURCC_DIB;
    vars.lKey = 30;
    vars.lQ = 7500;
    vars.lDataRate = 800;
    ASSERT_TRUE(SaveCodecSettings(Ini(), &vars, reporter));
    EXPECT_EQ(reporter.statuses, std::vector<std::string>{"Saved compressor settings."});
    EXPECT_TRUE(reporter.boxes.empty());
    EXPECT_EQ(Stored("fcc"), std::to_string(FOURCC_DIB));
    EXPECT_EQ(Stored("key"), "30");
    EXPECT_EQ(Stored("qty"), "7500");
    EXPECT_EQ(Stored("drt"), "800");
    EXPECT_EQ(Stored("sds"), "0");
    EXPECT_EQ(Stored("csd"), "");
}

TEST_F(CodecSettingsTest, FailedWritesReachTheCaller) {
    std::filesystem::create_directory(Ini()); // a folder where the file should be
    RecordingReporter reporter;
    COMPVARS vars;
    ResetCodecSettings(&vars, true);
    EXPECT_THROW(SaveCodecSettings(Ini(), &vars, reporter), EIniFileException);
    EXPECT_TRUE(reporter.statuses.empty());
}

TEST_F(CodecSettingsTest, EveryOfferedCompressorRoundTrips) {
    const std::vector<CompressorInfo> compressors = ICEnumerateCompressors();
    ASSERT_FALSE(compressors.empty());
    EXPECT_TRUE(IsUncompressed(compressors.front().fourcc)) << "uncompressed comes first";
    for (const CompressorInfo& info : compressors) {
        SCOPED_TRACE(info.name);
        COMPVARS vars;
        ResetCodecSettings(&vars, true);
        vars.fccType = ICTYPE_VIDEO;
        vars.fccHandler = info.fourcc;
        vars.lKey = 12;
        vars.lQ = 6100;
        vars.lDataRate = 900;
        vars.hic = ICOpen(ICTYPE_VIDEO, info.fourcc, ICMODE_COMPRESS);
        if (!IsUncompressed(info.fourcc)) {
            ASSERT_NE(vars.hic, nullptr);
        }
        // Move every option away from its first choice, so the state says something.
        std::vector<CompressorOption> options = ICGetOptions(vars.hic);
        EXPECT_EQ(!options.empty(), info.hasOptions);
        for (CompressorOption& option : options) {
            if (option.choices.size() > 1) {
                option.value = static_cast<int>(option.choices.size()) - 1;
                EXPECT_TRUE(ICSetOption(vars.hic, option.key, option.value)) << option.key;
            }
        }
        Bytes state(
            static_cast<size_t>(std::max(0L, ICSendMessage(vars.hic, ICM_GETSTATE, nullptr, 0))));
        if (!state.empty()) {
            ASSERT_GE(ICSendMessage(vars.hic, ICM_GETSTATE, state.data(),
                                    static_cast<long>(state.size())),
                      0);
        }

        RecordingReporter reporter;
        ASSERT_TRUE(SaveCodecSettings(Ini(), &vars, reporter));
        EXPECT_EQ(Stored("sds"), std::to_string(state.size()));
        EXPECT_EQ(Stored("csd"), Encode(state));

        COMPVARS loaded;
        ASSERT_TRUE(LoadCodecSettings(Ini(), &loaded));
        EXPECT_EQ(loaded.fccHandler, info.fourcc);
        EXPECT_EQ(loaded.lKey, 12);
        EXPECT_EQ(loaded.lQ, 6100);
        EXPECT_EQ(loaded.lDataRate, 900);
        EXPECT_EQ(loaded.hic != nullptr, vars.hic != nullptr);
        std::vector<CompressorOption> back = ICGetOptions(loaded.hic);
        ASSERT_EQ(back.size(), options.size());
        for (size_t i = 0; i < options.size(); ++i)
            EXPECT_EQ(back[i].value, options[i].value) << options[i].key;
        ICCompressorFree(&vars);
        ICCompressorFree(&loaded);
    }
}

// The Codec button, driven through a recording host.
class CodecButtonTest : public CodecSettingsTest {
protected:
    test::FakeHost host;
    CAviFile writer;
    platform::MainThreadQueue queue;
    TfrmMain form{host, writer, queue};
};

TEST_F(CodecButtonTest, CancelWritesNothing) {
    host.chooser = [](COMPVARS&) { return 0; };
    form.Controls.status.SetSimpleText("Ready.");
    form.btnCodecClick();
    EXPECT_EQ(host.chooserTitles, std::vector<std::string>{"Video Compression"});
    EXPECT_EQ(form.Controls.status.SimpleText(), "");
    EXPECT_FALSE(std::filesystem::exists(Ini()));

    Store("key", "30");
    const std::string before = test::ReadFile(Ini());
    form.btnCodecClick();
    EXPECT_EQ(test::ReadFile(Ini()), before);
    EXPECT_TRUE(host.boxes.empty());
}

TEST_F(CodecButtonTest, ConfirmedChoiceIsStored) {
    Store("key", "30");
    Store("qty", "4200");
    COMPVARS seen{};
    BITMAPINFOHEADER input;
    host.chooser = [&](COMPVARS& vars) {
        seen = vars;
        if (vars.lpbiIn)
            input = *vars.lpbiIn;
        vars.fccHandler = FOURCC_DIB;
        vars.lDataRate = 640;
        return 1;
    };
    form.btnCodecClick();
    // The dialog opened with the stored values and a 24-bit input description.
    EXPECT_TRUE(seen.dwFlags & ICMF_COMPVARS_VALID);
    EXPECT_EQ(seen.lKey, 30);
    EXPECT_EQ(seen.lQ, 4200);
    EXPECT_EQ(seen.fccHandler, kDefaultFourCC);
    ASSERT_NE(seen.lpbiIn, nullptr);
    EXPECT_EQ(input.biSize, 40u);
    EXPECT_EQ(input.biPlanes, 1);
    EXPECT_EQ(input.biBitCount, 24);
    EXPECT_EQ(input.biWidth, 0);
    EXPECT_EQ(input.biCompression, 0u);

    EXPECT_EQ(Stored("fcc"), std::to_string(FOURCC_DIB));
    EXPECT_EQ(Stored("drt"), "640");
    EXPECT_EQ(Stored("key"), "30");
    EXPECT_EQ(Stored("sds"), "0");
    EXPECT_EQ(form.Controls.status.SimpleText(), "Saved compressor settings.");
    EXPECT_TRUE(host.boxes.empty());
}

} // namespace
} // namespace vexo
