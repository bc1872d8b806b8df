// Reading the game's TGA screenshots into red-green-blue(-alpha) images.
//
// Only what a screenshot needs is read from the header: ID length, image type, width,
// height and depth. Uncompressed data (any type but 10) is read row by row; run-length
// encoded data (type 10) is read in one piece and unpacked in memory. A file that ends
// before its pixel data does fails with IMG_EOF, so a screenshot the game is still writing
// is never taken as a whole frame; the collector simply tries it again later.
#include "frames/tga.h"

#include <cstdio>
#include <cstring>
#include <limits>
#include <memory>
#include <new>
#include <vector>

namespace vexo {

namespace {

constexpr long kMinimumFileSize = 30;
constexpr long kHeaderSize = 18;
constexpr unsigned char kTypeRunLength = 10;

// Closes the file when the load ends, whichever way it ends.
struct FileCloser {
    void operator()(FILE* f) const {
        if (f)
            std::fclose(f);
    }
};
using FilePtr = std::unique_ptr<FILE, FileCloser>;

TgaImage* NewEmptyImage() {
    TgaImage* image = new (std::nothrow) TgaImage;
    if (image)
        *image = TgaImage{0, 0, 0, 0, nullptr};
    return image;
}

// File order blue, green, red[, alpha] becomes red, green, blue[, alpha], in place.
void SwapRedBlue(unsigned char* p, size_t bytes, int bpp) {
    unsigned char* const end = p + bytes;
    for (; p < end; p += bpp) {
        const unsigned char t = p[0];
        p[0] = p[2];
        p[2] = t;
    }
}

// Five bits per channel, shifted up; bit 15 is ignored.
void Convert16(unsigned char* out, const unsigned char* in, size_t pixels) {
    for (size_t i = 0; i < pixels; ++i, in += 2, out += 3) {
        const unsigned v = in[0] | (static_cast<unsigned>(in[1]) << 8);
        out[0] = static_cast<unsigned char>(((v >> 10) & 31) << 3);
        out[1] = static_cast<unsigned char>(((v >> 5) & 31) << 3);
        out[2] = static_cast<unsigned char>((v & 31) << 3);
    }
}

// Converts one pixel of the file (fileBpp bytes) into the image's layout.
void ConvertPixel(unsigned char* out, const unsigned char* in, int fileBpp) {
    if (fileBpp == 2) {
        Convert16(out, in, 1);
        return;
    }
    out[0] = in[2];
    out[1] = in[1];
    out[2] = in[0];
    if (fileBpp == 4)
        out[3] = in[3];
}

// Unpacks run-length encoded pixel data. Packets may run across rows but never past the
// image or the data; either is a damaged or unfinished file.
bool DecodeRunLength(TgaImage* image, const unsigned char* data, size_t size, int fileBpp) {
    const int bpp = image->BytesPerPixel;
    const size_t total = static_cast<size_t>(image->Width) * static_cast<size_t>(image->Height);
    unsigned char* out = image->Pixels;
    size_t done = 0;
    size_t pos = 0;
    while (done < total) {
        if (pos >= size)
            return false;
        const unsigned char header = data[pos++];
        const size_t count = static_cast<size_t>(header & 0x7F) + 1;
        if (count > total - done)
            return false;
        if (header & 0x80) {
            if (size - pos < static_cast<size_t>(fileBpp))
                return false;
            unsigned char pixel[4];
            ConvertPixel(pixel, data + pos, fileBpp);
            pos += fileBpp;
            for (size_t i = 0; i < count; ++i, out += bpp)
                std::memcpy(out, pixel, bpp);
        } else {
            const size_t bytes = count * fileBpp;
            if (size - pos < bytes)
                return false;
            if (fileBpp == 2) {
                Convert16(out, data + pos, count);
            } else {
                std::memcpy(out, data + pos, bytes);
                SwapRedBlue(out, bytes, bpp);
            }
            pos += bytes;
            out += count * bpp;
        }
        done += count;
    }
    return true;
}

} // namespace

const char* ImageStatusText(int32_t code) {
    static const char* const texts[] = {
        "No error.",
        "Unknown error occured.",
        "Error opening image file for reading.",
        "Error opening image file for writing.",
        "Invalid image file signature.",
        "Out of memory while trying to load the image.",
        "Image uses an unsupported color depth.",
        "Image uses an unsupported compression method.",
        "Unexpected EOF in image file.",
        "Unexpected JPEG library exception.",
    };
    if (code < 0 || code >= static_cast<int32_t>(sizeof texts / sizeof texts[0]))
        return texts[IMG_UNKNOWN];
    return texts[code];
}

TgaImage* LoadTga(const char* path, int32_t* status) {
    int32_t ignored = IMG_UNKNOWN;
    if (!status)
        status = &ignored;
    *status = IMG_UNKNOWN;

    FilePtr file(path ? std::fopen(path, "rb") : nullptr);
    if (!file) {
        *status = IMG_OPEN_READ;
        return nullptr;
    }
    FILE* f = file.get();
    if (std::fseek(f, 0, SEEK_END) != 0) {
        *status = IMG_OPEN_READ;
        return nullptr;
    }
    const long length = std::ftell(f);
    if (length < kMinimumFileSize) {
        *status = length < 0 ? IMG_OPEN_READ : IMG_SIGNATURE;
        return nullptr;
    }

    unsigned char header[kHeaderSize];
    if (std::fseek(f, 0, SEEK_SET) != 0 || std::fread(header, 1, kHeaderSize, f) != kHeaderSize) {
        *status = IMG_EOF;
        return nullptr;
    }
    const unsigned idLength = header[0];
    const unsigned char type = header[2];
    const int32_t width = header[12] | (header[13] << 8);
    const int32_t height = header[14] | (header[15] << 8);
    const unsigned depth = header[16];
    const long dataStart = kHeaderSize + static_cast<long>(idLength);

    int bpp = 0;
    int fileBpp = 0;
    switch (depth) {
    case 16:
        bpp = 3;
        fileBpp = 2;
        break;
    case 24:
        bpp = 3;
        fileBpp = 3;
        break;
    case 32:
        bpp = 4;
        fileBpp = 4;
        break;
    default:
        *status = IMG_DEPTH;
        return nullptr;
    }
    // An image without pixels is no frame: the header is treated as damaged.
    if (width == 0 || height == 0) {
        *status = IMG_SIGNATURE;
        return nullptr;
    }
    // The size must fit the 32-bit DataSize field; larger is refused before allocating.
    const int64_t pixelCount = static_cast<int64_t>(width) * height;
    const int64_t dataSize = pixelCount * bpp;
    if (dataSize > std::numeric_limits<int32_t>::max()) {
        *status = IMG_MEMORY;
        return nullptr;
    }
    // The file must be able to hold the announced pixels (at the best possible packing for
    // run-length data); a shorter file is unfinished or damaged, whatever the header says.
    const int64_t available = length > dataStart ? length - dataStart : 0;
    const int64_t needed =
        type == kTypeRunLength ? (pixelCount + 127) / 128 * (1 + fileBpp) : pixelCount * fileBpp;
    if (available < needed) {
        *status = IMG_EOF;
        return nullptr;
    }
    if (std::fseek(f, dataStart, SEEK_SET) != 0) {
        *status = IMG_EOF;
        return nullptr;
    }

    TgaImage* image = NewEmptyImage();
    if (!image) {
        *status = IMG_MEMORY;
        return nullptr;
    }
    image->BytesPerPixel = bpp;
    image->Width = width;
    image->Height = height;
    image->DataSize = static_cast<int32_t>(dataSize);
    image->Pixels = new (std::nothrow) unsigned char[static_cast<size_t>(dataSize)];
    if (!image->Pixels) {
        FreeImage(image);
        *status = IMG_MEMORY;
        return nullptr;
    }

    bool complete = true;
    const size_t rowBytes = static_cast<size_t>(width) * bpp;
    if (type == kTypeRunLength) {
        std::vector<unsigned char> data;
        try {
            data.resize(static_cast<size_t>(available));
        } catch (const std::bad_alloc&) {
            FreeImage(image);
            *status = IMG_MEMORY;
            return nullptr;
        }
        complete = std::fread(data.data(), 1, data.size(), f) == data.size() &&
                   DecodeRunLength(image, data.data(), data.size(), fileBpp);
    } else if (fileBpp == 2) {
        std::vector<unsigned char> scratch;
        try {
            scratch.resize(static_cast<size_t>(width) * 2);
        } catch (const std::bad_alloc&) {
            FreeImage(image);
            *status = IMG_MEMORY;
            return nullptr;
        }
        unsigned char* row = image->Pixels;
        for (int32_t y = 0; y < height && complete; ++y, row += rowBytes) {
            complete = std::fread(scratch.data(), 1, scratch.size(), f) == scratch.size();
            if (complete)
                Convert16(row, scratch.data(), static_cast<size_t>(width));
        }
    } else {
        unsigned char* row = image->Pixels;
        for (int32_t y = 0; y < height && complete; ++y, row += rowBytes) {
            complete = std::fread(row, 1, rowBytes, f) == rowBytes;
            if (complete)
                SwapRedBlue(row, rowBytes, bpp);
        }
    }
    if (!complete) {
        FreeImage(image);
        *status = IMG_EOF;
        return nullptr;
    }
    *status = IMG_OK;
    return image;
}

TgaImage* CopyImage(const TgaImage* image) {
    if (!image)
        return nullptr;
    TgaImage* copy = NewEmptyImage();
    if (!copy)
        return nullptr;
    copy->BytesPerPixel = image->BytesPerPixel;
    copy->Width = image->Width;
    copy->Height = image->Height;
    copy->DataSize = image->DataSize;
    if (image->Pixels && image->DataSize > 0) {
        copy->Pixels = new (std::nothrow) unsigned char[static_cast<size_t>(image->DataSize)];
        if (!copy->Pixels) {
            FreeImage(copy);
            return nullptr;
        }
        std::memcpy(copy->Pixels, image->Pixels, static_cast<size_t>(image->DataSize));
    }
    return copy;
}

void FreeImage(TgaImage* image) {
    if (!image)
        return;
    delete[] image->Pixels;
    delete image;
}

} // namespace vexo
