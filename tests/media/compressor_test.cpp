// The compression manager: what it offers, and the private state of each compressor.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>

#include "media/vfw.h"

namespace vexo::media {
namespace {

std::vector<uint8_t> GetState(HIC hic) {
    const long size = ICSendMessage(hic, ICM_GETSTATE, nullptr, 0);
    std::vector<uint8_t> state(size > 0 ? static_cast<size_t>(size) : 0);
    if (size > 0) {
        EXPECT_EQ(ICSendMessage(hic, ICM_GETSTATE, state.data(), size), size);
    }
    return state;
}

TEST(CompressorTest, OffersUncompressedFirstAndTheLosslessCodecs) {
    const std::vector<CompressorInfo> all = ICEnumerateCompressors();
    ASSERT_FALSE(all.empty());
    EXPECT_EQ(all[0].fourcc, kDefaultFourCC);
    EXPECT_FALSE(all[0].hasOptions);
    std::vector<std::string> codes;
    for (const CompressorInfo& info : all) {
        codes.push_back(FourCCToString(info.fourcc));
        EXPECT_FALSE(info.name.empty());
    }
    for (const char* code : {"HFYU", "FFVH", "FFV1", "ULRG", "M8RG", "MJPG", "FMP4"})
        EXPECT_NE(std::find(codes.begin(), codes.end(), code), codes.end()) << code;
    // Every compressor offered can be opened, except uncompressed, which has no handle.
    for (const CompressorInfo& info : all) {
        HIC hic = ICOpen(ICTYPE_VIDEO, info.fourcc, ICMODE_COMPRESS);
        EXPECT_EQ(hic != nullptr, info.fourcc != kDefaultFourCC) << FourCCToString(info.fourcc);
        EXPECT_EQ(!ICGetOptions(hic).empty(), info.hasOptions) << FourCCToString(info.fourcc);
        ICClose(hic);
    }
    // Codes in another letter case, and the other codes of a compressor, open it too.
    for (FOURCC code : {MakeFourCC('h', 'f', 'y', 'u'), MakeFourCC('X', 'V', 'I', 'D'),
                        MakeFourCC('U', 'L', 'Y', '0'), MakeFourCC('M', 'A', 'G', 'Y')}) {
        HIC hic = ICOpen(ICTYPE_VIDEO, code, ICMODE_COMPRESS);
        EXPECT_NE(hic, nullptr) << FourCCToString(code);
        ICClose(hic);
    }
    // Nobody serves these codes: uncompressed output has no compressor, the rest are unknown.
    for (FOURCC code : {FOURCC_DIB, FOURCC(0), MakeFourCC('A', 'B', 'C', 'D')})
        EXPECT_EQ(ICOpen(ICTYPE_VIDEO, code, ICMODE_COMPRESS), nullptr) << code;
}

// For every compressor with options: each option set to its last choice survives
// GETSTATE into a fresh compressor's SETSTATE.
TEST(CompressorTest, StateRoundTripsForEveryCompressorWithOptions) {
    int tested = 0;
    for (const CompressorInfo& info : ICEnumerateCompressors()) {
        if (!info.hasOptions)
            continue;
        SCOPED_TRACE(FourCCToString(info.fourcc));
        HIC source = ICOpen(ICTYPE_VIDEO, info.fourcc, ICMODE_COMPRESS);
        ASSERT_NE(source, nullptr);
        for (const CompressorOption& option : ICGetOptions(source)) {
            const int last = static_cast<int>(option.choices.size()) - 1;
            ASSERT_GT(last, 0) << option.key;
            ASSERT_TRUE(ICSetOption(source, option.key, last));
            EXPECT_FALSE(ICSetOption(source, option.key, last + 1));
            EXPECT_FALSE(ICSetOption(source, option.key, -1));
        }
        const std::vector<uint8_t> state = GetState(source);
        ASSERT_FALSE(state.empty());
        HIC target = ICOpen(ICTYPE_VIDEO, info.fourcc, ICMODE_COMPRESS);
        EXPECT_NE(ICGetOptions(target)[0].value, ICGetOptions(source)[0].value);
        std::vector<uint8_t> copy = state;
        EXPECT_EQ(ICSendMessage(target, ICM_SETSTATE, copy.data(), static_cast<long>(copy.size())),
                  static_cast<long>(state.size()));
        const auto want = ICGetOptions(source);
        const auto got = ICGetOptions(target);
        ASSERT_EQ(want.size(), got.size());
        for (size_t i = 0; i < want.size(); ++i)
            EXPECT_EQ(got[i].value, want[i].value) << want[i].key;
        ICClose(source);
        ICClose(target);
        ++tested;
    }
    EXPECT_GE(tested, 5);
}

// A state that is not this compressor's is refused and changes nothing.
TEST(CompressorTest, GarbageStateIsRefused) {
    HIC ffv1 = ICOpen(ICTYPE_VIDEO, MakeFourCC('F', 'F', 'V', '1'), ICMODE_COMPRESS);
    HIC huffyuv = ICOpen(ICTYPE_VIDEO, MakeFourCC('H', 'F', 'Y', 'U'), ICMODE_COMPRESS);
    ASSERT_NE(ffv1, nullptr);
    ASSERT_NE(huffyuv, nullptr);
    ASSERT_TRUE(ICSetOption(ffv1, "context", 1));
    const std::vector<uint8_t> good = GetState(ffv1);
    ASSERT_TRUE(ICSetOption(ffv1, "context", 0));

    auto refused = [&](std::vector<uint8_t> state) {
        return ICSendMessage(ffv1, ICM_SETSTATE, state.data(), static_cast<long>(state.size())) < 0;
    };
    std::vector<uint8_t> text(good.size(), 'A');
    EXPECT_TRUE(refused(text));
    EXPECT_TRUE(refused(std::vector<uint8_t>(good.begin(), good.end() - 2))); // cut short
    std::vector<uint8_t> version = good;
    version[4] = 99;
    EXPECT_TRUE(refused(version));
    std::vector<uint8_t> outOfRange = good;
    outOfRange.at(outOfRange.size() - 4) = 77; // the last option's value
    EXPECT_TRUE(refused(outOfRange));
    EXPECT_TRUE(refused(GetState(huffyuv))); // another compressor's state
    EXPECT_EQ(ICSendMessage(ffv1, ICM_SETSTATE, nullptr, 0), -1);
    for (const CompressorOption& option : ICGetOptions(ffv1))
        EXPECT_EQ(option.value, 0) << option.key;

    // A buffer too small for the state is not written past.
    std::vector<uint8_t> small(good.size() - 1, 0xEE);
    EXPECT_LT(ICSendMessage(ffv1, ICM_GETSTATE, small.data(), static_cast<long>(small.size())), 0);
    EXPECT_TRUE(std::all_of(small.begin(), small.end(), [](uint8_t b) { return b == 0xEE; }));
    ICClose(ffv1);
    ICClose(huffyuv);
}

} // namespace
} // namespace vexo::media
