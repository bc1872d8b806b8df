// A gamma curve for builds that do not have the program's own yet.
#include <array>
#include <cmath>
#include <map>
#include <mutex>

#include "frames/gamma.h"

namespace vexo {

const uint8_t* GammaTable(float g) {
    static std::mutex mutex;
    static std::map<float, std::array<uint8_t, 256>> tables;
    std::lock_guard<std::mutex> lock(mutex);
    auto [it, added] = tables.try_emplace(g);
    if (added)
        for (int i = 0; i < 256; ++i)
            it->second[i] = static_cast<uint8_t>(
                std::lround(255.0 * std::pow(i / 255.0, 1.0 / (g > 0 ? g : 1.0))));
    return it->second.data();
}

void ApplyGamma(unsigned char* pixel, float g) {
    const uint8_t* table = GammaTable(g);
    for (int i = 0; i < 3; ++i)
        pixel[i] = table[pixel[i]];
}

} // namespace vexo
