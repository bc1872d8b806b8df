// Fuzzes the demo length reader: any bytes must give a length or none, never crash, read out
// of bounds or ask for more memory than one message of the engine's size.
#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstdlib>
#include <cstring>

#include "game/demo_length.h"

namespace {

class Bytes : public vexo::DemoSource {
public:
    Bytes(const uint8_t* data, size_t size) : data_(data), size_(size) {}
    uint64_t Size() const override { return size_; }
    std::optional<size_t> Read(char* data, size_t size) override {
        size = std::min(size, size_ - next_);
        if (size > 0)
            std::memcpy(data, data_ + next_, size);
        next_ += size;
        return size;
    }

private:
    const uint8_t* data_;
    size_t size_;
    size_t next_ = 0;
};

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    Bytes bytes(data, size);
    const std::optional<double> length = vexo::DemoLength(bytes);
    if (length && (!std::isfinite(*length) || *length < 0))
        std::abort();
    return 0;
}
