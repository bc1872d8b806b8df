// The TGA screenshot reader. Uncompressed (any type but 10) and run-length encoded (type 10)
// true-colour files of 16, 24 or 32 bits per pixel; rows kept in file order, blue and red
// exchanged so that every pixel reads red, green, blue(, alpha).
#include "frames/tga.h"

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <limits>
#include <memory>
#include <new>

#include "platform/log.h"

namespace vexo {

namespace {

const char* const kStatusTexts[10] = {
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

constexpr long kHeaderSize = 18;
constexpr long kMinimumFileSize = 30;
constexpr int kRunLengthTrueColour = 10;

struct FileCloser {
    void operator()(std::FILE* f) const { std::fclose(f); }
};
using File = std::unique_ptr<std::FILE, FileCloser>;

struct ImageDeleter {
    void operator()(TgaImage* image) const { FreeImage(image); }
};
using ImagePtr = std::unique_ptr<TgaImage, ImageDeleter>;

struct MallocDeleter {
    void operator()(unsigned char* p) const { std::free(p); }
};
using Bytes = std::unique_ptr<unsigned char[], MallocDeleter>;

// A record with every field cleared and no pixels.
TgaImage* NewEmptyImage() {
    auto* image = static_cast<TgaImage*>(std::malloc(sizeof(TgaImage)));
    if (image)
        std::memset(image, 0, sizeof *image);
    return image;
}

// The length of an open file, or -1.
long FileLength(std::FILE* f) {
    if (std::fseek(f, 0, SEEK_END) != 0)
        return -1;
    long length = std::ftell(f);
    if (std::fseek(f, 0, SEEK_SET) != 0)
        return -1;
    return length;
}

// The fields of a TGA header that the readers use.
struct Header {
    long idLength;
    int imageType;
    int32_t width;
    int32_t height;
    int depth;
};

// Reads the header at the start of an open file; false when it is cut short.
bool ReadHeader(std::FILE* f, Header* h) {
    unsigned char bytes[kHeaderSize];
    if (std::fread(bytes, 1, sizeof bytes, f) != sizeof bytes)
        return false;
    h->idLength = bytes[0];
    h->imageType = bytes[2];
    h->width = bytes[12] | (bytes[13] << 8);
    h->height = bytes[14] | (bytes[15] << 8);
    h->depth = bytes[16];
    return true;
}

// A 16-bit pixel (x1r5g5b5) as red, green, blue, each channel shifted up by three bits.
inline void Convert16(const unsigned char* in, unsigned char* out) {
    unsigned v = in[0] | (unsigned(in[1]) << 8);
    out[0] = static_cast<unsigned char>(((v >> 10) & 31) << 3);
    out[1] = static_cast<unsigned char>(((v >> 5) & 31) << 3);
    out[2] = static_cast<unsigned char>((v & 31) << 3);
}

// Exchanges the first and third byte of each pixel: blue, green, red becomes red, green, blue.
inline void SwapRedBlue(unsigned char* p, size_t pixels, size_t bytesPerPixel) {
    for (size_t i = 0; i < pixels; ++i, p += bytesPerPixel) {
        unsigned char b = p[0];
        p[0] = p[2];
        p[2] = b;
    }
}

// Uncompressed pixel data, one read per row. Returns a status code.
int32_t ReadUncompressed(std::FILE* f, TgaImage* image, int depth) {
    const size_t width = static_cast<size_t>(image->Width);
    const size_t bpp = static_cast<size_t>(image->BytesPerPixel);
    const size_t rowBytes = width * bpp;
    unsigned char* row = image->Pixels;
    if (depth == 16) {
        Bytes scratch(static_cast<unsigned char*>(std::malloc(width * 2)));
        if (!scratch)
            return IMG_MEMORY;
        for (int32_t y = 0; y < image->Height; ++y, row += rowBytes) {
            if (std::fread(scratch.get(), 1, width * 2, f) != width * 2)
                return IMG_EOF;
            const unsigned char* in = scratch.get();
            unsigned char* out = row;
            for (size_t x = 0; x < width; ++x, in += 2, out += 3)
                Convert16(in, out);
        }
        return IMG_OK;
    }
    for (int32_t y = 0; y < image->Height; ++y, row += rowBytes) {
        if (std::fread(row, 1, rowBytes, f) != rowBytes)
            return IMG_EOF;
        SwapRedBlue(row, width, bpp);
    }
    return IMG_OK;
}

// Run-length encoded pixel data: the rest of the file is read at once and decoded from
// memory. Packets may cross row ends; a packet that runs past the image or past the data
// read is an unexpected end of file. Returns a status code.
int32_t ReadRunLength(std::FILE* f, TgaImage* image, int depth, size_t available) {
    Bytes data(static_cast<unsigned char*>(std::malloc(available ? available : 1)));
    if (!data)
        return IMG_MEMORY;
    if (std::fread(data.get(), 1, available, f) != available)
        return IMG_EOF;

    const size_t filePixelBytes = static_cast<size_t>(depth / 8);
    const size_t bpp = static_cast<size_t>(image->BytesPerPixel);
    const size_t total = static_cast<size_t>(image->Width) * static_cast<size_t>(image->Height);
    const unsigned char* in = data.get();
    const unsigned char* const end = in + available;
    unsigned char* out = image->Pixels;
    size_t done = 0;
    while (done < total) {
        if (in == end)
            return IMG_EOF;
        const unsigned header = *in++;
        const size_t count = (header & 0x7F) + 1u;
        if (count > total - done)
            return IMG_EOF;
        const bool repeated = (header & 0x80) != 0;
        const size_t needed = repeated ? filePixelBytes : count * filePixelBytes;
        if (static_cast<size_t>(end - in) < needed)
            return IMG_EOF;
        if (depth == 16) {
            if (repeated) {
                unsigned char px[3];
                Convert16(in, px);
                for (size_t i = 0; i < count; ++i, out += 3)
                    std::memcpy(out, px, 3);
            } else {
                for (size_t i = 0; i < count; ++i, in += 2, out += 3)
                    Convert16(in, out);
            }
        } else if (repeated) {
            unsigned char px[4];
            std::memcpy(px, in, bpp);
            SwapRedBlue(px, 1, bpp);
            for (size_t i = 0; i < count; ++i, out += bpp)
                std::memcpy(out, px, bpp);
        } else {
            std::memcpy(out, in, count * bpp);
            SwapRedBlue(out, count, bpp);
            out += count * bpp;
        }
        if (repeated)
            in += filePixelBytes;
        else if (depth != 16)
            in += count * filePixelBytes;
        done += count;
    }
    return IMG_OK;
}

} // namespace

const char* ImageStatusText(int32_t code) {
    if (code < 0 || code >= 10)
        return kStatusTexts[IMG_UNKNOWN];
    return kStatusTexts[code];
}

namespace {

// LoadTga without the why; *systemError receives errno where the file could not be opened.
TgaImage* ReadTga(const char* path, int32_t* status, int* systemError) {
    *status = IMG_UNKNOWN;

    File f(path ? std::fopen(path, "rb") : nullptr);
    if (!f) {
        *systemError = path ? errno : 0;
        *status = IMG_OPEN_READ;
        return nullptr;
    }
    const long length = FileLength(f.get());
    if (length < kMinimumFileSize) {
        *systemError = length < 0 ? errno : 0;
        *status = length < 0 ? IMG_OPEN_READ : IMG_SIGNATURE;
        return nullptr;
    }

    Header header;
    if (!ReadHeader(f.get(), &header)) {
        *status = IMG_EOF;
        return nullptr;
    }
    const long idLength = header.idLength;
    const int imageType = header.imageType;
    const int32_t width = header.width;
    const int32_t height = header.height;
    const int depth = header.depth;

    ImagePtr image(NewEmptyImage());
    if (!image) {
        *status = IMG_MEMORY;
        return nullptr;
    }
    if (depth == 16 || depth == 24) {
        image->BytesPerPixel = 3;
    } else if (depth == 32) {
        image->BytesPerPixel = 4;
    } else {
        *status = IMG_DEPTH;
        return nullptr;
    }
    // An image without pixels cannot become a video frame: refused like a damaged header.
    if (width == 0 || height == 0) {
        *status = IMG_SIGNATURE;
        return nullptr;
    }
    const int64_t dataSize = int64_t{width} * height * image->BytesPerPixel;
    if (dataSize > std::numeric_limits<int32_t>::max()) {
        *status = IMG_MEMORY;
        return nullptr;
    }
    image->Width = width;
    image->Height = height;
    image->DataSize = static_cast<int32_t>(dataSize);

    // A file shorter than its pixel data (for instance one the game is still writing) is
    // refused before anything big is allocated, so that it is retried rather than taken as
    // a torn frame. Run-length data needs at least one packet per 128 pixels.
    const int64_t dataStart = kHeaderSize + idLength;
    const int64_t pixels = int64_t{width} * height;
    const int64_t filePixelBytes = depth / 8;
    const bool runLength = imageType == kRunLengthTrueColour;
    const int64_t minimumData =
        runLength ? (pixels + 127) / 128 * (1 + filePixelBytes) : pixels * filePixelBytes;
    if (length - dataStart < minimumData) {
        *status = IMG_EOF;
        return nullptr;
    }
    if (std::fseek(f.get(), dataStart, SEEK_SET) != 0) {
        *status = IMG_EOF;
        return nullptr;
    }

    image->Pixels = static_cast<unsigned char*>(std::malloc(static_cast<size_t>(dataSize)));
    if (!image->Pixels) {
        *status = IMG_MEMORY;
        return nullptr;
    }

    const int32_t result = runLength ? ReadRunLength(f.get(), image.get(), depth,
                                                     static_cast<size_t>(length - dataStart))
                                     : ReadUncompressed(f.get(), image.get(), depth);
    if (result != IMG_OK) {
        *status = result;
        return nullptr;
    }
    *status = IMG_OK;
    return image.release();
}

} // namespace

TgaImage* LoadTga(const char* path, int32_t* status, std::string* why) {
    int32_t ignored;
    if (!status)
        status = &ignored;
    int systemError = 0;
    TgaImage* image = ReadTga(path, status, &systemError);
    if (why)
        *why = image ? std::string()
                     : ImageStatusText(*status) +
                           (systemError ? " (" + platform::SystemErrorText(systemError) + ")" : "");
    return image;
}

TgaBandReader::~TgaBandReader() {
    Close();
}

void TgaBandReader::Close() {
    if (file_)
        std::fclose(file_);
    file_ = nullptr;
    done_ = 0;
}

bool TgaBandReader::Open(const char* path) {
    Close();
    if (!path || !(file_ = std::fopen(path, "rb")))
        return false;
    // Unbuffered: each band goes from the file straight into the band buffer.
    std::setvbuf(file_, nullptr, _IONBF, 0);
    const long length = FileLength(file_);
    Header h;
    if (length < kMinimumFileSize || !ReadHeader(file_, &h) ||
        h.imageType == kRunLengthTrueColour || (h.depth != 24 && h.depth != 32) || h.width == 0 ||
        h.height == 0) {
        Close();
        return false;
    }
    // The whole pixel data must be there already, as LoadTga requires.
    const int64_t size = int64_t{h.width} * h.height * (h.depth / 8);
    const long dataStart = kHeaderSize + h.idLength;
    if (size > std::numeric_limits<int32_t>::max() || length - dataStart < size ||
        std::fseek(file_, dataStart, SEEK_SET) != 0) {
        Close();
        return false;
    }
    BytesPerPixel = h.depth / 8;
    Width = h.width;
    Height = h.height;
    return true;
}

const unsigned char* TgaBandReader::Next(int32_t* rows) {
    *rows = 0;
    if (!file_ || done_ >= Height)
        return nullptr;
    // Bands of about 256 KB: few reads, and each band is still in the cache when it is used.
    const size_t rowBytes = static_cast<size_t>(Width) * BytesPerPixel;
    const int32_t bandRows = std::min<int32_t>(
        Height - done_, static_cast<int32_t>(std::max<size_t>(1, (256u << 10) / rowBytes)));
    const size_t bytes = rowBytes * bandRows;
    try {
        if (band_.size() < bytes)
            band_.resize(bytes);
    } catch (const std::bad_alloc&) {
        Close();
        return nullptr;
    }
    if (std::fread(band_.data(), 1, bytes, file_) != bytes) {
        Close();
        return nullptr;
    }
    done_ += bandRows;
    *rows = bandRows;
    return band_.data();
}

TgaImage* CopyImage(const TgaImage* image) {
    if (!image)
        return nullptr;
    ImagePtr copy(NewEmptyImage());
    if (!copy)
        return nullptr;
    copy->BytesPerPixel = image->BytesPerPixel;
    copy->Width = image->Width;
    copy->Height = image->Height;
    copy->DataSize = image->DataSize;
    if (image->Pixels && image->DataSize > 0) {
        copy->Pixels =
            static_cast<unsigned char*>(std::malloc(static_cast<size_t>(image->DataSize)));
        if (!copy->Pixels)
            return nullptr;
        std::memcpy(copy->Pixels, image->Pixels, static_cast<size_t>(image->DataSize));
    }
    return copy.release();
}

void FreeImage(TgaImage* image) {
    if (!image)
        return;
    std::free(image->Pixels);
    std::free(image);
}

} // namespace vexo
