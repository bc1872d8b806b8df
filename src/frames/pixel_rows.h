// Packed pixel rows converted with wide vector instructions: the byte order, the pixel size
// and the gamma curve of a whole row at a time, where the processor has the instructions.
#pragma once

#include <cstdint>

namespace vexo {

// Where the bytes of one pixel are, in the source and in the frame.
struct PackedRowLayout {
    int sourceBpp;   // 3 or 4
    int sourceRedAt; // 0 or 2; green at 1, blue at the other end, alpha (if any) at 3
    int step;        // bytes per frame pixel: 3 or 4
    int redAt;       // byte offsets within a frame pixel
    int greenAt;
    int blueAt;
    int alphaAt; // -1: the frame has no alpha byte (a fourth byte is left as it is)
};

// One layout, prepared for converting rows. Convert gives exactly what the per-byte
// conversion gives: red, green and blue through the curve, alpha from a four-byte source or
// opaque, a fourth byte without alpha untouched, nothing written past the row's end.
class FastPackedRows {
public:
    // Whether this processor has the instructions (64-byte vectors with byte permutes).
    static bool Available();

    explicit FastPackedRows(const PackedRowLayout& layout);

    // The layout is one this handles and the processor has the instructions.
    bool Usable() const { return usable_; }

    // width pixels from source into row; only when Usable().
    void Convert(const uint8_t* source, uint8_t* row, int32_t width, const uint8_t* curve) const;

    struct Plan {
        uint8_t permute[64];  // frame byte i comes from source byte permute[i] of 16 pixels
        uint64_t store;       // frame bytes written, for 16 pixels
        uint64_t alphaSource; // frame bytes taken from the source as they are
        uint64_t alphaOpaque; // frame bytes set to 255
        int sourceBpp;
        int step;
    };

private:
    Plan plan_{};
    bool usable_ = false;
};

} // namespace vexo
