// The compression manager: the compressors offered, opening by code, and the private
// state that carries each compressor's options.
#include <gtest/gtest.h>

#include <set>
#include <string>
#include <vector>

#include "avi/avi_support.h"
#include "frames/avi_file.h"
#include "platform/vfw.h"
#include "support/temp_dir.h"

extern "C" {
#include <libavcodec/avcodec.h>
}

namespace vexo {
namespace {

FOURCC Code(const char* text) {
    return MakeFourCC(text[0], text[1], text[2], text[3]);
}

std::vector<unsigned char> GetState(HIC hic) {
    const long size = ICSendMessage(hic, ICM_GETSTATE, nullptr, 0);
    std::vector<unsigned char> state(size > 0 ? size : 0);
    if (size > 0) {
        EXPECT_EQ(ICSendMessage(hic, ICM_GETSTATE, state.data(), size), size);
    }
    return state;
}

std::vector<int> Values(HIC hic) {
    std::vector<int> values;
    for (const auto& option : ICGetOptions(hic))
        values.push_back(option.value);
    return values;
}

TEST(CompressionManagerTest, OffersUncompressedFirstAndTheEncodersPresent) {
    const auto list = ICEnumerateCompressors();
    ASSERT_FALSE(list.empty());
    EXPECT_EQ(list[0].fourcc, kDefaultFourCC);
    EXPECT_FALSE(list[0].hasOptions);
    std::set<std::string> codes;
    for (const auto& info : list) {
        EXPECT_TRUE(codes.insert(FourCCToString(info.fourcc)).second) << "listed once";
        EXPECT_FALSE(info.name.empty());
    }
    std::vector<std::string> expected = {"HFYU", "FFVH", "FFV1", "ULRG", "M8RG", "MJPG", "FMP4"};
    if (avcodec_find_encoder_by_name("libx264"))
        expected.push_back("H264");
    for (const auto& code : expected)
        EXPECT_EQ(codes.count(code), 1u) << code;
    for (const auto& info : list)
        if (FourCCToString(info.fourcc) == "MJPG") {
            EXPECT_TRUE(info.hasQuality);
            EXPECT_TRUE(info.hasDataRate);
            EXPECT_FALSE(info.hasOptions);
        }
}

TEST(CompressionManagerTest, OpensByCode) {
    for (FOURCC code : {kDefaultFourCC, FOURCC_DIB, FOURCC{0}})
        EXPECT_EQ(ICOpen(ICTYPE_VIDEO, code, ICMODE_COMPRESS), nullptr) << "uncompressed";
    EXPECT_EQ(ICOpen(ICTYPE_VIDEO, Code("ZZZZ"), ICMODE_COMPRESS), nullptr);
    EXPECT_EQ(ICOpen(Code("auds"), Code("HFYU"), ICMODE_COMPRESS), nullptr);
    for (const char* code : {"HFYU", "hfyu", "XVID", "MAGY", "ULY0"}) {
        HIC hic = ICOpen(ICTYPE_VIDEO, Code(code), ICMODE_COMPRESS);
        EXPECT_NE(hic, nullptr) << code;
        ICClose(hic);
    }
    EXPECT_EQ(ICSendMessage(nullptr, ICM_GETSTATE, nullptr, 0), 0);
    EXPECT_TRUE(ICGetOptions(nullptr).empty());
    EXPECT_FALSE(ICSetOption(nullptr, "pred", 0));

    HIC hic = ICOpen(ICTYPE_VIDEO, Code("HFYU"), ICMODE_COMPRESS);
    EXPECT_FALSE(ICSetOption(hic, "pred", 2));
    EXPECT_FALSE(ICSetOption(hic, "pred", -1));
    EXPECT_FALSE(ICSetOption(hic, "nonsense", 0));
    EXPECT_TRUE(ICSetOption(hic, "pred", 1));
    EXPECT_EQ(Values(hic), std::vector<int>{1});

    COMPVARS vars{};
    vars.cbSize = kCompVarsSize;
    vars.dwFlags = ICMF_COMPVARS_VALID;
    vars.hic = hic;
    ICCompressorFree(&vars);
    EXPECT_EQ(vars.hic, nullptr);
    EXPECT_EQ(vars.dwFlags & ICMF_COMPVARS_VALID, 0u);
    ICCompressorFree(&vars); // harmless again
    ICCompressorFree(nullptr);
}

// Every compressor's options survive GETSTATE/SETSTATE, and a file written with every
// option at its last choice decodes (exactly, for the lossless ones).
TEST(CompressionManagerTest, StateRoundTripsForEveryCompressor) {
    const std::set<std::string> lossless = {"HFYU", "FFVH", "FFV1", "ULRG", "M8RG"};
    for (const auto& info : ICEnumerateCompressors()) {
        const std::string code = FourCCToString(info.fourcc);
        SCOPED_TRACE(code);
        HIC hic = ICOpen(ICTYPE_VIDEO, info.fourcc, ICMODE_COMPRESS);
        if (info.fourcc == kDefaultFourCC) {
            EXPECT_EQ(hic, nullptr);
            continue;
        }
        ASSERT_NE(hic, nullptr);
        const auto options = ICGetOptions(hic);
        EXPECT_EQ(info.hasOptions, !options.empty());
        if (options.empty()) {
            EXPECT_EQ(ICSendMessage(hic, ICM_GETSTATE, nullptr, 0), 0);
            ICClose(hic);
            continue;
        }
        for (const auto& option : options) {
            EXPECT_FALSE(option.label.empty());
            ASSERT_GE(option.choices.size(), 2u);
            EXPECT_TRUE(ICSetOption(hic, option.key, static_cast<int>(option.choices.size()) - 1));
        }
        const auto state = GetState(hic);
        ASSERT_FALSE(state.empty());
        std::vector<unsigned char> small(state.size() - 1);
        EXPECT_LT(ICSendMessage(hic, ICM_GETSTATE, small.data(), static_cast<long>(small.size())),
                  0)
            << "a buffer too small is refused";

        HIC fresh = ICOpen(ICTYPE_VIDEO, info.fourcc, ICMODE_COMPRESS);
        const auto defaults = Values(fresh);
        EXPECT_NE(defaults, Values(hic));
        auto copy = state;
        EXPECT_EQ(ICSendMessage(fresh, ICM_SETSTATE, copy.data(), static_cast<long>(copy.size())),
                  static_cast<long>(state.size()));
        EXPECT_EQ(Values(fresh), Values(hic));

        // Garbage, a cut state, a changed magic and a value out of range are refused and
        // change nothing.
        HIC other = ICOpen(ICTYPE_VIDEO, info.fourcc, ICMODE_COMPRESS);
        std::vector<std::vector<unsigned char>> bad = {
            {1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12},
            std::vector<unsigned char>(state.begin(), state.end() - 1),
            state,
            state,
        };
        bad[2][0] ^= 0xFF;
        bad[3].back() = 200;
        for (auto& b : bad)
            EXPECT_LT(ICSendMessage(other, ICM_SETSTATE, b.data(), static_cast<long>(b.size())), 0);
        EXPECT_EQ(Values(other), defaults);
        ICClose(other);
        ICClose(fresh);

        // The options are ones the encoder takes.
        test::TempDir dir;
        CAviFile writer;
        writer.CodecVars.dwFlags = ICMF_COMPVARS_VALID;
        writer.CodecVars.fccHandler = info.fourcc;
        writer.CodecVars.lQ = 10000;
        writer.CodecVars.hic = hic;
        test::TestImage picture(64, 48, 3, 1);
        ASSERT_TRUE(writer.Open(dir / "options.avi", 640, 480, 25, 1));
        ASSERT_TRUE(writer.WriteFrame(&picture.image, 0)) << int(writer.LastError);
        writer.Close(0);
        const auto decoded = test::DecodeFrames(dir / "options.avi", "rgb24");
        if (lossless.count(code))
            EXPECT_EQ(decoded, picture.Upright(3));
        else
            EXPECT_EQ(decoded.size(), picture.Upright(3).size());
    }
    // One compressor's state is no other's.
    HIC huffyuv = ICOpen(ICTYPE_VIDEO, Code("HFYU"), ICMODE_COMPRESS);
    HIC ffvhuff = ICOpen(ICTYPE_VIDEO, Code("FFVH"), ICMODE_COMPRESS);
    auto state = GetState(huffyuv);
    EXPECT_LT(ICSendMessage(ffvhuff, ICM_SETSTATE, state.data(), static_cast<long>(state.size())),
              0);
    ICClose(huffyuv);
    ICClose(ffvhuff);
}

} // namespace
} // namespace vexo
