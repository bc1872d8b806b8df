#include "frames/frame_conversion.h"

#include <algorithm>
#include <array>

#include "frames/gamma.h"
#include "frames/pixel_rows.h"

namespace vexo {

using media::AviFrameBuffer;

namespace {

const uint8_t* IdentityTable() {
    static const std::array<uint8_t, 256> table = [] {
        std::array<uint8_t, 256> t{};
        for (int i = 0; i < 256; ++i)
            t[i] = static_cast<uint8_t>(i);
        return t;
    }();
    return table.data();
}

// One row of source pixels into a packed row whose pixels are Step bytes apart, with the
// step, the source pixel size and the byte order known to the compiler.
template <int Bpp, int Step, int RedAt>
void ConvertPackedRow(const uint8_t* s, uint8_t* r, uint8_t* g, uint8_t* b, int32_t width,
                      const uint8_t* curve) {
    for (int32_t x = 0; x < width; ++x, s += Bpp, r += Step, g += Step, b += Step) {
        *r = curve[s[RedAt]];
        *g = curve[s[1]];
        *b = curve[s[2 - RedAt]];
    }
}

// The same into packed pixels of four bytes with alpha.
template <int Bpp, int RedAt>
void ConvertPackedAlphaRow(const uint8_t* s, uint8_t* r, uint8_t* g, uint8_t* b, uint8_t* a,
                           int32_t width, const uint8_t* curve) {
    for (int32_t x = 0; x < width; ++x, s += Bpp, r += 4, g += 4, b += 4, a += 4) {
        *r = curve[s[RedAt]];
        *g = curve[s[1]];
        *b = curve[s[2 - RedAt]];
        *a = Bpp == 4 ? s[3] : 255;
    }
}

template <int RedAt>
void ConvertPackedAlphaRow(const PixelSource& source, const uint8_t* s, uint8_t* r, uint8_t* g,
                           uint8_t* b, uint8_t* a, const uint8_t* curve) {
    if (source.bpp == 3)
        ConvertPackedAlphaRow<3, RedAt>(s, r, g, b, a, source.width, curve);
    else
        ConvertPackedAlphaRow<4, RedAt>(s, r, g, b, a, source.width, curve);
}

template <int RedAt>
void ConvertPackedRow(const PixelSource& source, int step, const uint8_t* s, uint8_t* r, uint8_t* g,
                      uint8_t* b, const uint8_t* curve) {
    if (source.bpp == 3 && step == 3)
        ConvertPackedRow<3, 3, RedAt>(s, r, g, b, source.width, curve);
    else if (source.bpp == 3)
        ConvertPackedRow<3, 4, RedAt>(s, r, g, b, source.width, curve);
    else if (step == 3)
        ConvertPackedRow<4, 3, RedAt>(s, r, g, b, source.width, curve);
    else
        ConvertPackedRow<4, 4, RedAt>(s, r, g, b, source.width, curve);
}

} // namespace

PixelSource PixelsOf(const TgaImage& image) {
    return {image.Pixels,
            image.Width,
            image.Height,
            image.BytesPerPixel,
            0,
            static_cast<ptrdiff_t>(image.Width) * image.BytesPerPixel};
}

PixelSource PixelsOf(const media::CapturePicture& picture) {
    // The picture's rows run from the bottom up, as the frame's do; the file's byte order
    // has blue first.
    return PixelSource{picture.bottomRow, picture.width, picture.height, picture.bytesPerPixel, 2,
                       picture.stride};
}

FrameConversion::FrameConversion(float gamma)
    : gamma_(gamma), curve_(gamma != 1.0f ? GammaTable(gamma) : IdentityTable()) {}

void FrameConversion::Convert(const PixelSource& source, const AviFrameBuffer& frame,
                              int32_t firstRow) const {
    const uint8_t* curve = curve_;
    const int bpp = source.bpp;
    const int step = frame.pixelStep;
    const ptrdiff_t rowStep = source.stride;
    const bool packed = !frame.alpha && (step == 3 || step == 4) && (bpp == 3 || bpp == 4);
    const bool packedAlpha = frame.alpha && step == 4 && (bpp == 3 || bpp == 4);
    const int redAt = source.redAt;
    if (packed || packedAlpha) {
        // Whole rows with wide vector instructions where the processor has them.
        uint8_t* first = std::min({frame.red, frame.green, frame.blue});
        if (frame.alpha)
            first = std::min(first, frame.alpha);
        const FastPackedRows fast(PackedRowLayout{
            bpp, redAt, step, static_cast<int>(frame.red - first),
            static_cast<int>(frame.green - first), static_cast<int>(frame.blue - first),
            frame.alpha ? static_cast<int>(frame.alpha - first) : -1});
        if (fast.Usable()) {
            for (int32_t y = 0; y < source.height; ++y)
                fast.Convert(source.pixels + y * rowStep,
                             first + static_cast<size_t>(firstRow + y) * frame.stride, source.width,
                             curve);
            return;
        }
    }
    for (int32_t y = 0; y < source.height; ++y) {
        const uint8_t* s = source.pixels + y * rowStep;
        const size_t row = static_cast<size_t>(firstRow + y) * frame.stride;
        uint8_t* r = frame.red + row;
        uint8_t* g = frame.green + row;
        uint8_t* b = frame.blue + row;
        if (packed) {
            // The common packed layouts: the same conversion with fixed steps.
            if (redAt == 0)
                ConvertPackedRow<0>(source, step, s, r, g, b, curve);
            else
                ConvertPackedRow<2>(source, step, s, r, g, b, curve);
            continue;
        }
        if (packedAlpha) {
            uint8_t* a = frame.alpha + row;
            if (redAt == 0)
                ConvertPackedAlphaRow<0>(source, s, r, g, b, a, curve);
            else
                ConvertPackedAlphaRow<2>(source, s, r, g, b, a, curve);
            continue;
        }
        if (!frame.alpha) {
            for (int32_t x = 0; x < source.width; ++x, s += bpp, r += step, g += step, b += step) {
                *r = curve[s[redAt]];
                *g = curve[s[1]];
                *b = curve[s[2 - redAt]];
            }
            continue;
        }
        uint8_t* a = frame.alpha + row;
        for (int32_t x = 0; x < source.width;
             ++x, s += bpp, r += step, g += step, b += step, a += step) {
            *r = curve[s[redAt]];
            *g = curve[s[1]];
            *b = curve[s[2 - redAt]];
            *a = bpp == 4 ? s[3] : 255;
        }
    }
}

bool FrameConversion::Convert(TgaBandReader& file, const AviFrameBuffer& frame) const {
    int32_t row = 0;
    int32_t rows = 0;
    while (const unsigned char* band = file.Next(&rows)) {
        // The file stores blue first.
        Convert(PixelSource{band, file.Width, rows, file.BytesPerPixel, 2,
                            static_cast<ptrdiff_t>(file.Width) * file.BytesPerPixel},
                frame, row);
        row += rows;
    }
    return file.Complete();
}

} // namespace vexo
