// One game screenshot read from a TGA file: rows in file order, red-green-blue(-alpha).
#pragma once

#include <cstdint>
#include <vector>

namespace vexo {

struct TgaImage {
    int32_t BytesPerPixel; // 3 for 16- and 24-bit files, 4 for 32-bit files
    int32_t Width;
    int32_t Height;
    int32_t DataSize; // Width * Height * BytesPerPixel
    unsigned char* Pixels;
};

// Image status codes.
enum : int32_t {
    IMG_OK = 0,
    IMG_UNKNOWN = 1,
    IMG_OPEN_READ = 2,
    IMG_OPEN_WRITE = 3,
    IMG_SIGNATURE = 4,
    IMG_MEMORY = 5,
    IMG_DEPTH = 6,
    IMG_COMPRESSION = 7,
    IMG_EOF = 8,
    IMG_JPEG = 9,
};
// The text of a status code ("No error." ...).
const char* ImageStatusText(int32_t code);

// Reads a TGA file. Returns a new image owned by the caller, or null; *status holds 0
// exactly when an image is returned.
TgaImage* LoadTga(const char* path, int32_t* status);
// The pixel data of a screenshot as the file stores it (blue, green, red(, alpha); rows in
// file order), in a buffer kept from file to file.
struct TgaPixels {
    int32_t BytesPerPixel = 0; // 3 or 4
    int32_t Width = 0;
    int32_t Height = 0;
    std::vector<unsigned char> Data;
};
// Reads an uncompressed 24- or 32-bit TGA file, the way the game writes its screenshots,
// into pixels with a single read. False for any other file and for any failure; LoadTga
// reads those (and tells why it cannot). Where both succeed they read the same pixels.
bool ReadTgaPixels(const char* path, TgaPixels* pixels);
// An independent copy, or null (also for null).
TgaImage* CopyImage(const TgaImage* image);
// Frees the pixels and the record; null is ignored.
void FreeImage(TgaImage* image);

} // namespace vexo
