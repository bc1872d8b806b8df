// Gamma correction: a power curve on each colour byte, with the exponent 1.8 - g clamped to
// 0.1 .. 5.0. Tables of the 256 results are kept per gamma value, since the result depends
// only on the byte and g.
#include "frames/gamma.h"

#include <array>
#include <cmath>
#include <cstring>
#include <map>
#include <memory>
#include <mutex>

namespace vexo {

namespace {

// The exponent for g: computed in float, clamped against the double 0.1 and 5.0.
float Exponent(float g) {
    float e = 1.8f - g;
    if (e < 0.1)
        e = 0.1f;
    if (e > 5.0)
        e = 5.0f;
    return e;
}

// One byte through the curve. x is (v + 0.5) / 255.5; the result is x^e scaled to 0..255,
// truncated and clamped.
unsigned char Curve(unsigned v, float e) {
    const double x = (v + 0.5) * 0.003913894324853229;
    const double y = std::pow(x, static_cast<double>(e));
    const double r = y * 255 + 0.5;
    // A value that is not a number (a g that is not a number) counts as below 0.
    if (!(r >= 0))
        return 0;
    if (r > 255)
        return 255;
    return static_cast<unsigned char>(static_cast<int>(r));
}

using Table = std::array<uint8_t, 256>;

} // namespace

void ApplyGamma(unsigned char* pixel, float g) {
    if (g == 1.0f)
        return;
    const float e = Exponent(g);
    for (int i = 0; i < 3; ++i)
        pixel[i] = Curve(pixel[i], e);
}

const uint8_t* GammaTable(float g) {
    // Keyed by the float's bits so that every value, not-a-number included, finds its own
    // table. Tables are never removed, so the pointers handed out stay valid.
    static std::mutex mutex;
    static std::map<uint32_t, std::unique_ptr<Table>> tables;

    uint32_t key;
    std::memcpy(&key, &g, sizeof key);
    std::lock_guard<std::mutex> lock(mutex);
    auto& slot = tables[key];
    if (!slot) {
        auto table = std::make_unique<Table>();
        const float e = Exponent(g);
        for (unsigned v = 0; v < 256; ++v)
            (*table)[v] = g == 1.0f ? static_cast<uint8_t>(v) : Curve(v, e);
        slot = std::move(table);
    }
    return slot->data();
}

} // namespace vexo
