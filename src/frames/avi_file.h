// The AVI writer: one AVI file with a single video stream, its frames compressed by the
// compressor the user chose. Frames arrive as TGA screenshots and are stored as bottom-up
// blue-green-red DIBs, gamma-corrected when a gamma is set.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "frames/tga.h"
#include "platform/avifile.h"
#include "platform/vfw.h"

namespace vexo {

// AVI writer status codes (LastError).
enum : uint8_t {
    AVI_OK = 0,
    AVI_NO_MEMORY = 1,
    AVI_CREATE_FILE = 2,
    AVI_CREATE_STREAM = 3,
    AVI_CREATE_COMPRESSED_STREAM = 4,
    AVI_SET_FORMAT = 5,
    AVI_WRITE_FRAME = 6,
    AVI_COLOR_DEPTH = 7,
};
// The text of a status code; "Unknown error" for a code outside 0..7.
const char* AviStatusText(int code);

class CAviFile {
public:
    CAviFile();
    ~CAviFile();
    CAviFile(const CAviFile&) = delete;
    CAviFile& operator=(const CAviFile&) = delete;

    // Creates (replaces) the file, its stream and the compressing stream for the
    // compressor in CodecVars, which the caller fills before. False with LastError set
    // (and the writer closed) on failure.
    bool Open(const std::string& fileName, int32_t width, int32_t height, int32_t fps,
              int32_t length);
    void SetGamma(float gamma);
    // Appends the image (not changed) as the frame at position. On failure the writer
    // closes itself with the failure's code in LastError.
    bool WriteFrame(const TgaImage* image, int32_t position, int32_t* bytesWritten = nullptr);
    // Completes and releases the file, resets the writer, then LastError = code. Harmless
    // on a writer that is not open.
    void Close(uint8_t code);

    PAVIFILE File;
    PAVISTREAM Stream;
    PAVISTREAM CompressedStream;
    AVICOMPRESSOPTIONS CompressOptions;
    int32_t Fps;
    int32_t Width;
    int32_t Height;
    std::string StreamName;
    float Gamma;
    COMPVARS CodecVars;
    uint8_t LastError;
    std::string FileName;

private:
    void Reset();
    // Fills frame_ with the image as a bottom-up BGR(A) DIB, gamma applied, in one pass.
    bool BuildFrame(const TgaImage& image);

    std::vector<unsigned char> state_; // compressor state handed over while opening
    std::vector<unsigned char> frame_; // the DIB of the frame being written
};

} // namespace vexo
