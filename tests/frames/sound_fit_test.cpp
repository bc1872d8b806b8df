// An engine's sound made to fit its picture, on sound made here: the stream an engine
// records (a lead-in, then a frame's worth of sound a picture) goes in, and what comes out
// is checked for its length, where its sounds start, and their pitch.
#include <gtest/gtest.h>

#include <cmath>
#include <functional>

#include "frames/sound_fit.h"

namespace vexo {
namespace {

constexpr int kRate = 22050;
constexpr int kLeadIn = 5000;
const media::CaptureSound kStereo{kRate, 2, 16};

struct Fitted {
    std::vector<int16_t> left; // the first channel of what came out
    int64_t leadIn = 0;        // as the fit measured it
    int64_t mostAhead = 0;     // the most it ever handed over past the pictures' length
    int64_t mostBehind = 0;    // ...and the most it lagged behind, from the 20th picture on
};

// The sound of an engine recording `pictures` pictures at engineRate, as its file holds it,
// fitted to a video of aviRate: a loud lead-in (the mixer running ahead, to be dropped),
// then the engine's sound clock, clock(i) at sample i, a frame's worth before the first
// picture and after each but the last.
Fitted Fit(double engineRate, int aviRate, int pictures,
           const std::function<int16_t(int64_t)>& clock) {
    Fitted result;
    int64_t shown = 0;   // pictures handed over so far
    int64_t written = 0; // samples the sink took
    std::string why;
    auto fit = SoundFit::Create(
        kStereo, engineRate, aviRate,
        [&](const uint8_t* data, int32_t bytes) {
            for (int32_t i = 0; i < bytes; i += 4)
                result.left.push_back(static_cast<int16_t>(data[i] | (data[i + 1] << 8)));
            written += bytes / 4;
            result.mostAhead = std::max(result.mostAhead, written - shown * kRate / aviRate);
            return true;
        },
        &why);
    EXPECT_TRUE(fit) << why;
    if (!fit)
        return result;
    auto feed = [&](int64_t from, int64_t to, bool loud) {
        std::vector<uint8_t> pcm;
        for (int64_t i = from; i < to; ++i) {
            const int16_t v = loud ? 20000 : clock(i);
            for (int c = 0; c < 2; ++c) {
                pcm.push_back(static_cast<uint8_t>(v & 0xFF));
                pcm.push_back(static_cast<uint8_t>((v >> 8) & 0xFF));
            }
        }
        EXPECT_TRUE(fit->Sound(pcm.data(), static_cast<int32_t>(pcm.size())));
    };
    const double perPicture = kRate / engineRate;
    auto clockAt = [&](int64_t frames) { return static_cast<int64_t>(frames * perPicture); };
    feed(0, kLeadIn, true);
    feed(0, clockAt(1), false);
    for (int k = 0; k < pictures; ++k) {
        ++shown;
        EXPECT_TRUE(fit->Picture());
        if (k >= 20)
            result.mostBehind = std::max(result.mostBehind, shown * kRate / aviRate - written);
        if (k + 1 < pictures)
            feed(clockAt(k + 1), clockAt(k + 2), false);
    }
    EXPECT_TRUE(fit->Finish());
    result.leadIn = fit->LeadIn();
    return result;
}

// Bursts of noise fading out like shots, at the sound clock's positions of the given
// pictures.
std::function<int16_t(int64_t)> Bursts(double engineRate, std::vector<int> at) {
    return [engineRate, at](int64_t i) -> int16_t {
        for (int picture : at) {
            const auto start = static_cast<int64_t>(picture * kRate / engineRate);
            if (i >= start && i < start + kRate / 5) {
                uint32_t h = static_cast<uint32_t>(i) * 2654435761u;
                h ^= h >> 15;
                h *= 2246822519u;
                h ^= h >> 13;
                const double fade = std::exp(-static_cast<double>(i - start) / (kRate / 20));
                return static_cast<int16_t>(fade * (static_cast<int>(h % 32001) - 16000));
            }
        }
        return 0;
    };
}

// How far (in samples) each burst starts from the start of the picture it belongs to: the
// first sample from three frames before on that reaches a quarter of the burst's peak.
std::vector<int> Offsets(const std::vector<int16_t>& sound, int aviRate,
                         const std::vector<int>& pictures) {
    const int perFrame = kRate / aviRate;
    std::vector<int> offsets;
    for (int picture : pictures) {
        int i = (picture - 3) * perFrame;
        while (i < static_cast<int>(sound.size()) && std::abs(sound[i]) < 4000)
            ++i;
        offsets.push_back(i - picture * perFrame);
    }
    return offsets;
}

// The frequency of a steady tone: zero crossings over the middle half.
double Frequency(const std::vector<int16_t>& sound) {
    const size_t from = sound.size() / 4, to = sound.size() * 3 / 4;
    int crossings = 0;
    for (size_t i = from + 1; i < to; ++i)
        crossings += (sound[i - 1] < 0) != (sound[i] < 0);
    return crossings / 2.0 * kRate / static_cast<double>(to - from);
}

struct Case {
    double engineRate;
    int aviRate;
    double tempo;
};

class SoundFitTest : public ::testing::TestWithParam<Case> {};

TEST_P(SoundFitTest, TheLeadInGoesAndTheSoundKeepsStepAndPitchForThePicturesLength) {
    const Case c = GetParam();
    EXPECT_DOUBLE_EQ(SoundFit::Tempo(c.engineRate, c.aviRate), c.tempo);
    const int pictures = 100;
    const std::vector<int> shots{10, 40, 70};
    const Fitted bursts = Fit(c.engineRate, c.aviRate, pictures, Bursts(c.engineRate, shots));
    ASSERT_EQ(static_cast<int64_t>(bursts.left.size()), pictures * kRate / c.aviRate);
    EXPECT_NEAR(bursts.leadIn, kLeadIn, 1);
    for (int f = 0; f < 5; ++f) // the loud lead-in is gone
        EXPECT_EQ(bursts.left[f * kRate / c.aviRate], 0) << f;
    // In step: within a frame.
    for (int offset : Offsets(bursts.left, c.aviRate, shots))
        EXPECT_LT(std::abs(offset), kRate / c.aviRate) << offset;
    // Streaming: never ahead of the pictures handed over, never far behind them.
    EXPECT_LE(bursts.mostAhead, 0);
    EXPECT_LT(bursts.mostBehind, kRate / 2);

    const Fitted tone = Fit(c.engineRate, c.aviRate, pictures, [](int64_t i) {
        return static_cast<int16_t>(8000 * std::sin(2 * M_PI * 440 * i / kRate));
    });
    EXPECT_NEAR(Frequency(tone.left), 440, 5);
}

INSTANTIATE_TEST_SUITE_P(Tempos, SoundFitTest,
                         ::testing::Values(Case{100, 25, 0.25}, Case{35, 25, 25 / 35.0},
                                           Case{25, 25, 1}, Case{6.25, 25, 4},
                                           Case{140, 25, 25 / 140.0}));

TEST(SoundFitSameSpeedTest, AtThePicturesSpeedTheSoundIsCopiedUnchangedAfterTheLeadIn) {
    auto clock = [](int64_t i) { return static_cast<int16_t>((i * 31 % 65536) - 32768); };
    const Fitted fitted = Fit(25, 25, 60, clock);
    ASSERT_EQ(fitted.left.size(), 60u * 882);
    EXPECT_EQ(fitted.leadIn, kLeadIn);
    for (size_t i = 0; i < fitted.left.size(); ++i)
        ASSERT_EQ(fitted.left[i], clock(static_cast<int64_t>(i))) << i;
}

TEST(SoundFitSameSpeedTest, ATempoTheFilterDoesNotReachIsRefusedWithItsReason) {
    std::string why;
    // A thousand engine frames a second into five video frames: 1/200 of the speed.
    EXPECT_FALSE(SoundFit::Create(kStereo, 1000, 5, nullptr, &why));
    EXPECT_NE(why.find("tempo"), std::string::npos) << why;
    // The engine's sound clock stops at a thousand frames a second.
    EXPECT_DOUBLE_EQ(SoundFit::Tempo(4000, 25), 0.025);
}

} // namespace
} // namespace vexo
