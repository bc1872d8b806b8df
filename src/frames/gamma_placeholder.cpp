// Placeholder until the gamma curve lands.
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
    if (added) {
        float e = 1.8f - g;
        if (e < 0.1)
            e = 0.1f;
        if (e > 5.0f)
            e = 5.0f;
        for (int v = 0; v < 256; ++v) {
            const double y = std::pow((v + 0.5) * 0.003913894324853229, static_cast<double>(e));
            int r = static_cast<int>(y * 255 + 0.5);
            it->second[v] = static_cast<uint8_t>(r < 0 ? 0 : (r > 255 ? 255 : r));
        }
    }
    return it->second.data();
}

} // namespace vexo
