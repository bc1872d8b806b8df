// One game screenshot read from a TGA file: rows in file order, red-green-blue(-alpha).
#pragma once

#include <cstdint>
#include <cstdio>
#include <string>
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
// exactly when an image is returned. *why, if given, says why not: the status text, and
// the system's reason where the file could not be opened.
TgaImage* LoadTga(const char* path, int32_t* status, std::string* why = nullptr);
// Reads a screenshot the way the game writes them (an uncompressed 24- or 32-bit TGA file)
// a band of rows at a time, as the file stores them: blue, green, red(, alpha), rows in
// file order. The band's buffer is kept from file to file. Any other file, and any failure,
// is left to LoadTga, which reads it or tells why it cannot; where both succeed they read
// the same pixels.
class TgaBandReader {
public:
    TgaBandReader() = default;
    ~TgaBandReader();
    TgaBandReader(const TgaBandReader&) = delete;
    TgaBandReader& operator=(const TgaBandReader&) = delete;

    // Opens path and reads its header; false when it is not such a file.
    bool Open(const char* path);
    // The next rows (*rows of them), or null once every row has been read or a read failed.
    const unsigned char* Next(int32_t* rows);
    // True when every row has been read.
    bool Complete() const { return file_ && done_ == Height; }
    void Close();

    int32_t BytesPerPixel = 0; // 3 or 4
    int32_t Width = 0;
    int32_t Height = 0;

private:
    std::FILE* file_ = nullptr;
    int32_t done_ = 0;
    std::vector<unsigned char> band_;
};

// An independent copy, or null (also for null).
TgaImage* CopyImage(const TgaImage* image);
// Frees the pixels and the record; null is ignored.
void FreeImage(TgaImage* image);

} // namespace vexo
