// The output gamma curve: x^e with e = 1.8 - g, on the byte scale.
#include "frames/gamma.h"

#include <array>
#include <cmath>
#include <cstring>
#include <map>
#include <memory>
#include <mutex>

namespace vexo {

namespace {

// The curve for one byte; e is already limited. NaN (from a NaN gamma) gives 0 instead
// of an undefined conversion.
unsigned char Curve(unsigned v, float e) {
    const double x = (v + 0.5) * 0.003913894324853229; // 1 / 255.5
    const double y = std::pow(x, static_cast<double>(e));
    const double scaled = y * 255 + 0.5;
    if (!(scaled >= 0))
        return 0;
    if (scaled > 255)
        return 255;
    return static_cast<unsigned char>(static_cast<int>(scaled));
}

float Exponent(float g) {
    float e = 1.8f - g;
    if (e < 0.1) // compared in double: the float 0.1f lies above 0.1
        e = 0.1f;
    if (e > 5.0)
        e = 5.0f;
    return e;
}

} // namespace

void ApplyGamma(unsigned char* pixel, float g) {
    if (g == 1.0f)
        return;
    const float e = Exponent(g);
    for (int i = 0; i < 3; ++i)
        pixel[i] = Curve(pixel[i], e);
}

const uint8_t* GammaTable(float g) {
    using Table = std::array<uint8_t, 256>;
    // One table per distinct gamma value (by bit pattern), kept for the program's life so
    // that returned pointers stay valid; the worker thread and the window thread both ask.
    static std::mutex mutex;
    static std::map<uint32_t, std::unique_ptr<Table>> tables;

    uint32_t key;
    std::memcpy(&key, &g, sizeof key);
    std::lock_guard<std::mutex> lock(mutex);
    auto& slot = tables[key];
    if (!slot) {
        auto table = std::make_unique<Table>();
        for (unsigned v = 0; v < 256; ++v) {
            unsigned char pixel[3] = {static_cast<unsigned char>(v), 0, 0};
            ApplyGamma(pixel, g);
            (*table)[v] = pixel[0];
        }
        slot = std::move(table);
    }
    return slot->data();
}

} // namespace vexo
