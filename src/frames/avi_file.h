// The AVI writer: one AVI file with a single video stream, compressed by the compressor the
// user chose. Frames arrive as TGA screenshots; each is turned into a bottom-up BGR picture,
// gamma-corrected when a gamma is set, and appended at its frame position.
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
    AVI_MEMORY = 1,
    AVI_CREATE_FILE = 2,
    AVI_CREATE_STREAM = 3,
    AVI_CREATE_COMPRESSED = 4,
    AVI_SET_FORMAT = 5,
    AVI_WRITE_FRAME = 6,
    AVI_DEPTH = 7,
};

class CAviFile {
public:
    CAviFile();
    // Completes a file still open, so that nothing is left half-written.
    ~CAviFile();
    CAviFile(const CAviFile&) = delete;
    CAviFile& operator=(const CAviFile&) = delete;

    // Creates fileName (replacing it) with one video stream of width x height at fps frames
    // per second, compressed as CodecVars says. False, with the writer closed and LastError
    // set, when the file, the stream or the compressing stream cannot be made.
    bool Open(const std::string& fileName, int32_t width, int32_t height, int32_t fps,
              int32_t length);
    void SetGamma(float gamma) { Gamma = gamma; }
    // Appends the image (left unchanged) at position. False, with the writer closed and
    // LastError set, when the frame was not stored. bytesWritten receives the bytes the
    // frame took in the file.
    bool WriteFrame(const TgaImage* image, int32_t position, int32_t* bytesWritten = nullptr);
    // Completes and releases the file, forgets the compressor choice and every setting, and
    // leaves LastError = code. Harmless on a writer that is not open.
    void Close(uint8_t code);

    // The text of a status code; "Unknown error" outside 0..7.
    static const char* StatusText(unsigned code);

    int32_t Fps;
    int32_t Width;
    int32_t Height;
    std::string StreamName; // copied into the stream's name when set
    float Gamma;            // 1.0: no correction
    COMPVARS CodecVars{};   // the compressor choice, filled by the caller before Open
    uint8_t LastError;
    std::string FileName; // set by a successful Open

private:
    void Reset();

    PAVIFILE File = nullptr;
    PAVISTREAM Stream = nullptr;
    PAVISTREAM CompressedStream = nullptr;
    AVICOMPRESSOPTIONS CompressOptions{};
    std::vector<uint8_t> compressorState_; // the options of CodecVars.hic, for the stream
};

} // namespace vexo
