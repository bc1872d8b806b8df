// The conversion of a demo's pictures into the writer's frames: the one pass over the pixels
// that puts each colour byte where the compressor's frame buffer wants it and applies the
// output gamma curve on the way. Every frame the program writes goes through it, whether the
// writer converts it itself or a frame is made ahead on another thread.
#pragma once

#include <cstddef>
#include <cstdint>

#include "frames/tga.h"
#include "media/avifile.h"
#include "media/game_capture.h"

namespace vexo {

// Pixels to make a frame of: rows in their own order, each pixel's red, green, blue(, alpha)
// bytes where the source keeps them (a TGA image has red first, the file blue first).
struct PixelSource {
    const uint8_t* pixels;
    int32_t width;
    int32_t height;
    int32_t bpp;      // 3 or 4
    int redAt;        // 0 or 2; blue is at the other end, green at 1
    ptrdiff_t stride; // from one row to the next
};

// A screenshot as read (red first, rows in file order) and a picture of the engine's
// recording (blue first, rows from the bottom up).
PixelSource PixelsOf(const TgaImage& image);
PixelSource PixelsOf(const media::CapturePicture& picture);

class FrameConversion {
public:
    // gamma 1.0 leaves every byte as it is.
    explicit FrameConversion(float gamma = 1.0f);
    float Gamma() const { return gamma_; }

    // The source's rows, in their own order, become the frame's rows from firstRow on, with
    // the colour bytes where the frame wants them and the curve applied. An alpha byte
    // passes through unchanged; a frame with alpha but a source without gets opaque pixels.
    void Convert(const PixelSource& source, const media::AviFrameBuffer& frame,
                 int32_t firstRow = 0) const;
    // A screenshot file read band by band into the frame; false when the file was not whole.
    bool Convert(TgaBandReader& file, const media::AviFrameBuffer& frame) const;

private:
    float gamma_;
    const uint8_t* curve_;
};

} // namespace vexo
