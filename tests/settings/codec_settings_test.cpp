// The stored compressor choice: base64, loading (defaults, states, refused states), saving,
// the round trip through a settings file for every compressor of this machine, and the
// Codec button of the main window's logic.
#include <gtest/gtest.h>

#include <cstring>
#include <filesystem>
#include <string>
#include <tuple>
#include <vector>

#include "form/frm_main.h"
#include "frames/avi_file.h"
#include "platform/fs.h"
#include "run/run_request.h"
#include "settings/codec_settings.h"
#include "settings/ini.h"
#include "support/fake_host.h"
#include "support/temp_dir.h"

namespace vexo {

using media::BITMAPINFOHEADER, media::COMPVARS, media::CompressorInfo, media::CompressorOption,
    media::FOURCC_DIB, media::ICCompressorFree, media::ICEnumerateCompressors, media::ICGetOptions,
    media::ICMODE_COMPRESS, media::ICM_GETSTATE, media::ICOpen, media::ICSendMessage,
    media::ICSetOption, media::ICTYPE_VIDEO, media::MakeFourCC, media::kDefaultFourCC;
namespace {

using Bytes = std::vector<unsigned char>;

std::string Encode(const Bytes& bytes) {
    std::string text(((bytes.size() + 2) / 3) * 4 + 1, '?');
    Base64Encode(text.data(), bytes.data(), static_cast<int>(bytes.size()));
    EXPECT_EQ(text.back(), '\0');
    text.pop_back();
    return text;
}

Bytes Decode(const char* text, int capacity) {
    Bytes out(8, 0xAA); // bytes beyond those decoded keep their value
    Base64Decode(out.data(), text, capacity);
    return out;
}

TEST(Base64Test, EncodesAndDecodesStandardBase64) {
    EXPECT_EQ(Encode({'a', 'b', 'c'}), "YWJj");
    EXPECT_EQ(Encode({0}), "AA==");
    EXPECT_EQ(Encode({1, 2, 3, 4, 5}), "AQIDBAU=");
    char text[4] = "xyz";
    Base64Encode(text, nullptr, -3);
    EXPECT_STREQ(text, "");

    const unsigned char A = 0xAA;
    EXPECT_EQ(Decode("AQIDBAU=", 8), (Bytes{1, 2, 3, 4, 5, A, A, A}));
    EXPECT_EQ(Decode("AQID\r\nBA U=", 8), (Bytes{1, 2, 3, 4, 5, A, A, A})); // breaks skipped
    EXPECT_EQ(Decode("AQIDBA", 8), (Bytes{1, 2, 3, A, A, A, A, A}));        // incomplete group
    EXPECT_EQ(Decode("AQID=AAA", 8), (Bytes{1, 2, 3, A, A, A, A, A}));      // "=" first stops
    for (int n = 0; n <= 20; ++n) {
        Bytes bytes(static_cast<size_t>(n));
        for (int i = 0; i < n; ++i)
            bytes[size_t(i)] = static_cast<unsigned char>(i * 37 + n * 11);
        Bytes back(bytes.size() + 1, 0x5A);
        Base64Decode(back.data(), Encode(bytes).c_str(), n);
        back.pop_back();
        EXPECT_EQ(back, bytes) << n;
    }
}

class CodecSettingsTest : public ::testing::Test {
protected:
    CodecSettingsTest() { platform::SetProgramDirectoryForTesting(dir.path()); }
    ~CodecSettingsTest() override { platform::SetProgramDirectoryForTesting(""); }
    std::string Ini() const { return dir / "vexo.ini"; }
    void Store(const std::string& content) { test::WriteFile(Ini(), "[codec]\n" + content); }
    std::string Read(const char* key) { return ReadIniString(Ini(), "codec", key, "<missing>"); }
    // Loads and frees; the record is kept in vars for inspection.
    bool Load(const std::string& content) {
        Store(content);
        const bool loaded = LoadCodecSettings(Ini(), &vars);
        ICCompressorFree(&vars);
        return loaded;
    }
    struct Reporter : CodecSaveReporter {
        void Status(const std::string& text) override { statuses.push_back(text); }
        void ErrorBox(const std::string& text) override { boxes.push_back(text); }
        std::vector<std::string> statuses, boxes;
    };

    test::TempDir dir;
    COMPVARS vars;
};

TEST_F(CodecSettingsTest, LoadsValuesDefaultsAndOnlyWholeStates) {
    EXPECT_FALSE(LoadCodecSettings(Ini(), nullptr));
    ASSERT_TRUE(LoadCodecSettings(Ini(), &vars)); // no file at all
    EXPECT_EQ(vars.cbSize, 64);
    EXPECT_EQ(vars.fccType, ICTYPE_VIDEO);
    EXPECT_EQ(vars.fccHandler, 1145651744u);
    EXPECT_EQ(vars.lQ, 10000);
    EXPECT_EQ(std::make_tuple(vars.lKey, vars.lDataRate, vars.cbState), std::make_tuple(0, 0, 0));
    ICCompressorFree(&vars);
    ASSERT_TRUE(Load("fcc=1431918169\nkey=25\nqty=7500\ndrt=900\nsds=5\ncsd=AQIDBAU=\n"));
    EXPECT_EQ(vars.fccHandler, MakeFourCC('Y', 'V', 'Y', 'U'));
    EXPECT_EQ(std::make_tuple(vars.lKey, vars.lQ, vars.lDataRate), std::make_tuple(25, 7500, 900));

    // Nothing to restore: fine. Seven bytes cannot come from eight characters, nor five
    // from a text whose foreign characters pass the length test.
    EXPECT_TRUE(Load("sds=5\ncsd=\n"));
    EXPECT_TRUE(Load("sds=-4\ncsd=AQIDBAU=\n"));
    for (const char* state : {"sds=7\ncsd=AQIDBAU=\n", "sds=6\ncsd=AQIDBAU=\n",
                              "sds=5\ncsd=AQID!!!!\n", "sds=2000000000\ncsd=AQIDBAU=\n"}) {
        EXPECT_FALSE(Load(std::string("fcc=1145651744\nqty=500\n") + state)) << state;
        EXPECT_EQ(vars.lQ, 10000) << state; // reset
        EXPECT_EQ(vars.fccHandler, 0u) << state;
        EXPECT_EQ(vars.hic, nullptr) << state;
    }
    // Texts are read up to 2047 characters: 1533 bytes (2044 characters) come back whole;
    // 1534 to 1536 (2048 characters) lose their last group and are refused.
    for (int size : {1533, 1534, 1535, 1536, 1537}) {
        const std::string csd = Encode(Bytes(size_t(size), 0x41));
        EXPECT_EQ(Load("qty=500\nsds=" + std::to_string(size) + "\ncsd=" + csd + "\n"),
                  size == 1533)
            << size;
    }
}

TEST_F(CodecSettingsTest, SavesUncompressedWithoutStateAndFailedWritesReachTheCaller) {
    Reporter reporter;
    ResetCodecSettings(&vars, true);
    vars.dwFlags = 0;
    EXPECT_FALSE(SaveCodecSettings(Ini(), &vars, reporter)); // not marked valid
    EXPECT_FALSE(platform::PathExists(Ini()));

    Store("sds=5\ncsd=AQIDBAU=\n");
    ResetCodecSettings(&vars, true);
    vars.fccHandler = 0xF0E0D0C0u; // the top bit survives the signed stored integer
    vars.lKey = 12, vars.lQ = 4200, vars.lDataRate = 300;
    EXPECT_TRUE(SaveCodecSettings(Ini(), &vars, reporter));
    EXPECT_EQ(std::make_tuple(Read("key"), Read("qty"), Read("drt")),
              std::make_tuple("12", "4200", "300"));
    EXPECT_EQ(Read("sds"), "0");
    EXPECT_EQ(Read("csd"), "");
    EXPECT_EQ(reporter.statuses, std::vector<std::string>{"Saved compressor settings."});
    EXPECT_TRUE(reporter.boxes.empty());
    ASSERT_TRUE(LoadCodecSettings(Ini(), &vars));
    EXPECT_EQ(vars.fccHandler, 0xF0E0D0C0u);
    ICCompressorFree(&vars);

    std::filesystem::remove(Ini());
    platform::CreateDirectoryAt(Ini()); // the settings file's place is taken
    ResetCodecSettings(&vars, true);
    EXPECT_THROW(SaveCodecSettings(Ini(), &vars, reporter), EIniFileException);
}

// Every compressor of this machine, its options moved off their defaults, stored and loaded
// back into a new record whose compressor has the same options.
TEST_F(CodecSettingsTest, EveryCompressorRoundTripsThroughTheSettingsFile) {
    for (const CompressorInfo& info : ICEnumerateCompressors()) {
        SCOPED_TRACE(info.name);
        ResetCodecSettings(&vars, true);
        vars.fccType = ICTYPE_VIDEO, vars.fccHandler = info.fourcc;
        vars.lQ = 6100, vars.lKey = 50, vars.lDataRate = 2500;
        vars.hic = ICOpen(ICTYPE_VIDEO, info.fourcc, ICMODE_COMPRESS);
        std::vector<CompressorOption> options = ICGetOptions(vars.hic);
        EXPECT_EQ(info.hasOptions, !options.empty());
        for (CompressorOption& option : options) {
            option.value = static_cast<int>(option.choices.size()) - 1;
            EXPECT_TRUE(ICSetOption(vars.hic, option.key, option.value)) << option.key;
        }
        const bool hasState = ICSendMessage(vars.hic, ICM_GETSTATE, nullptr, 0) > 0;
        Reporter reporter;
        ASSERT_TRUE(SaveCodecSettings(Ini(), &vars, reporter));
        EXPECT_EQ(Read("csd").empty(), !hasState);
        ICCompressorFree(&vars);

        ASSERT_TRUE(LoadCodecSettings(Ini(), &vars));
        EXPECT_EQ(vars.fccHandler, info.fourcc);
        EXPECT_EQ(std::make_tuple(vars.lQ, vars.lKey, vars.lDataRate),
                  std::make_tuple(6100, 50, 2500));
        const std::vector<CompressorOption> restored = ICGetOptions(vars.hic);
        ASSERT_EQ(restored.size(), options.size());
        for (size_t i = 0; i < options.size(); ++i)
            EXPECT_EQ(restored[i].value, options[i].value) << options[i].key;
        ICCompressorFree(&vars);
    }
}

TEST_F(CodecSettingsTest, CodecButtonSavesOnlyAConfirmedChoice) {
    test::FakeHost host;
    CAviFile writer;
    platform::MainThreadQueue queue;
    TfrmMain form(host, writer, queue);
    form.Controls.status.SetSimpleText("Ready.");
    COMPVARS seen{};
    BITMAPINFOHEADER input{};
    host.chooser = [&](COMPVARS& chosen) {
        seen = chosen;
        input = chosen.lpbiIn ? *chosen.lpbiIn : BITMAPINFOHEADER{};
        return 0;
    };
    form.Guard([&] { form.btnCodecClick(); });
    EXPECT_EQ(host.chooserTitles, std::vector<std::string>{"Video Compression"});
    EXPECT_FALSE(platform::PathExists(Ini())); // Cancel writes nothing
    EXPECT_EQ(form.Controls.status.SimpleText(), "");
    EXPECT_EQ(seen.fccHandler, kDefaultFourCC);
    EXPECT_EQ(std::make_tuple(input.biSize, input.biPlanes, input.biBitCount),
              std::make_tuple(40u, uint16_t{1}, uint16_t{24}));
    EXPECT_EQ(input.biWidth, 0);

    Store("qty=3300\n");
    host.chooser = [&](COMPVARS& chosen) {
        EXPECT_EQ(chosen.lQ, 3300); // the stored values are preselected
        chosen.fccHandler = FOURCC_DIB;
        chosen.lQ = 8800;
        return 1;
    };
    form.Guard([&] { form.btnCodecClick(); });
    EXPECT_EQ(form.Controls.status.SimpleText(), "Saved compressor settings.");
    EXPECT_EQ(Read("fcc"), std::to_string(FOURCC_DIB));
    EXPECT_EQ(Read("qty"), "8800");
    EXPECT_TRUE(host.boxes.empty());
}

// The kind of file is kept beside the compressor: a container and the sound it takes, AVI
// with PCM where nothing (or nothing known) is stored. The Codec button shows the stored one
// and stores what the dialog confirmed.
TEST_F(CodecSettingsTest, TheContainerAndItsSoundAreKeptBesideTheCompressor) {
    using media::Container, media::OutputFormat, media::SoundCodec;
    for (const auto& [stored, loaded] :
         {std::pair{std::string(), OutputFormat{}},
          std::pair{std::string("container=MKV\nsound=opus\n"),
                    OutputFormat{Container::Matroska, SoundCodec::Opus}},
          std::pair{std::string("container=mp4\nsound=pcm\n"),
                    OutputFormat{Container::Mp4, SoundCodec::Aac}},
          std::pair{std::string("container=webm\nsound=opus\n"), OutputFormat{}}}) {
        Store(stored);
        EXPECT_TRUE(LoadOutputFormat(Ini()) == loaded) << stored;
    }

    test::FakeHost host;
    CAviFile writer;
    platform::MainThreadQueue queue;
    TfrmMain form(host, writer, queue);
    Store("container=mkv\nsound=opus\n");
    host.chooser = [](COMPVARS& chosen) {
        chosen.fccHandler = MakeFourCC('H', '2', '6', '4');
        return 1;
    };
    host.chosenOutput = OutputFormat{Container::Mp4, SoundCodec::Aac};
    host.chosenSubFrames = 16;
    form.Guard([&] { form.btnCodecClick(); });
    ASSERT_EQ(host.shownOutputs.size(), 1u);
    EXPECT_EQ(host.shownSubFrames, std::vector<int>{1}); // off while nothing is stored
    EXPECT_EQ(MotionBlurSubFrames(Ini()), 16);
    EXPECT_EQ(RunRequestFrom(form.Controls).SubFrames, 16);
    EXPECT_TRUE(host.shownOutputs[0] == (OutputFormat{Container::Matroska, SoundCodec::Opus}));
    EXPECT_EQ(Read("container"), "mp4");
    EXPECT_EQ(Read("sound"), "aac");
    EXPECT_TRUE(RunRequestFrom(form.Controls).Output == *host.chosenOutput);
}

} // namespace
} // namespace vexo
