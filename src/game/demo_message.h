// The engine's network messages as its demo files keep them: a bit stream whose bytes are
// coded with a fixed Huffman code, read value by value as the engine's client reads them.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string_view>

namespace vexo {

// Reads the values of one message from its start. Every read that would run past the end of
// the message gives nothing, as do all reads after it.
class MessageReader {
public:
    explicit MessageReader(std::string_view data) : data_(data) {}

    // The next count bits (1 to 32) as the engine packs them: the count's odd bits (count % 8)
    // raw, lowest first, then each byte as a symbol of the code, lowest byte first.
    std::optional<uint32_t> Bits(int count);
    std::optional<int32_t> Long();
    std::optional<int> Byte();
    // Reads past a string: up to its terminating zero byte, or as far as the engine reads a
    // string too long for its buffer. False when the message ends first.
    bool SkipString();

private:
    std::optional<int> Symbol();

    std::string_view data_;
    size_t bit_ = 0;
    bool ended_ = false;
};

} // namespace vexo
