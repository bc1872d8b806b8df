#pragma once

#include <cstddef>
#include <cstdint>
#include <string_view>

namespace vexo {

// The little-endian number of `bytes` bytes (at most 8) at an offset of data the caller has
// checked, as files of the game, the zip format and the codecs' saved states store them.
inline uint64_t LittleEndian(std::string_view data, size_t at, int bytes) {
    uint64_t value = 0;
    for (int i = bytes - 1; i >= 0; --i)
        value = value << 8 | static_cast<unsigned char>(data[at + static_cast<size_t>(i)]);
    return value;
}
inline uint16_t Le16(std::string_view data, size_t at) {
    return static_cast<uint16_t>(LittleEndian(data, at, 2));
}
inline uint32_t Le32(std::string_view data, size_t at) {
    return static_cast<uint32_t>(LittleEndian(data, at, 4));
}

} // namespace vexo
