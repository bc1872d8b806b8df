// The video compression manager: compressors chosen by four-character code, their quality,
// key-frame and data-rate settings, and their private state. Shaped after the Windows
// compression manager; the compressors behind it are FFmpeg's libavcodec encoders.
#pragma once

#include <cstdint>
#include <string>
#include <utility>
#include <vector>

#include "media/output_format.h"

namespace vexo::media {

using FOURCC = uint32_t;

constexpr FOURCC MakeFourCC(char a, char b, char c, char d) {
    return static_cast<FOURCC>(static_cast<uint8_t>(a)) |
           (static_cast<FOURCC>(static_cast<uint8_t>(b)) << 8) |
           (static_cast<FOURCC>(static_cast<uint8_t>(c)) << 16) |
           (static_cast<FOURCC>(static_cast<uint8_t>(d)) << 24);
}
std::string FourCCToString(FOURCC code);

inline constexpr FOURCC ICTYPE_VIDEO = MakeFourCC('v', 'i', 'd', 'c');
// The stored default, " BID" in memory order; like "DIB " and 0 it means uncompressed
// full frames.
inline constexpr FOURCC kDefaultFourCC = 1145651744u;
inline constexpr FOURCC FOURCC_DIB = MakeFourCC('D', 'I', 'B', ' ');

inline constexpr uint32_t ICMF_COMPVARS_VALID = 0x00000001;
inline constexpr uint32_t ICMF_CHOOSE_KEYFRAME = 0x0001;
inline constexpr uint32_t ICMF_CHOOSE_DATARATE = 0x0002;
inline constexpr unsigned ICMODE_COMPRESS = 1;
inline constexpr unsigned ICM_GETSTATE = 0x5000;
inline constexpr unsigned ICM_SETSTATE = 0x5001;
inline constexpr int32_t kCompVarsSize = 64; // the record's size as the program stores it

struct Compressor; // an open compressor (defined by the implementation)
using HIC = Compressor*;

struct BITMAPINFOHEADER {
    uint32_t biSize = 0;
    int32_t biWidth = 0;
    int32_t biHeight = 0;
    uint16_t biPlanes = 0;
    uint16_t biBitCount = 0;
    uint32_t biCompression = 0;
    uint32_t biSizeImage = 0;
    int32_t biXPelsPerMeter = 0;
    int32_t biYPelsPerMeter = 0;
    uint32_t biClrUsed = 0;
    uint32_t biClrImportant = 0;
};
inline constexpr uint32_t BI_RGB = 0;

// The compressor record.
struct COMPVARS {
    int32_t cbSize;
    uint32_t dwFlags;
    HIC hic;
    FOURCC fccType;
    FOURCC fccHandler;
    BITMAPINFOHEADER* lpbiIn;
    BITMAPINFOHEADER* lpbiOut;
    void* lpBitsOut;
    void* lpBitsPrev;
    int32_t lFrame;
    int32_t lKey;
    int32_t lDataRate; // kilobytes per second
    int32_t lQ;        // 0..10000
    int32_t lKeyCount;
    void* lpState;
    int32_t cbState;
};

// Opens the compressor that serves fccHandler; null when nobody serves the code.
HIC ICOpen(FOURCC fccType, FOURCC fccHandler, unsigned mode);
void ICClose(HIC hic);
// ICM_GETSTATE with a null buffer: the size of the private state. ICM_GETSTATE with a
// buffer: copies the state, returns its size, negative on failure. ICM_SETSTATE: takes the
// state; returns the bytes used, negative when the state is not understood.
// A null hic returns 0.
long ICSendMessage(HIC hic, unsigned message, void* buffer, long size);
// Releases what the record owns (when it is marked valid) and clears the valid mark: closes
// hic and frees lpbiIn, lpbiOut, lpBitsOut, lpBitsPrev and lpState, which, when set, were
// allocated with std::malloc.
void ICCompressorFree(COMPVARS* vars);

// A compressor's own options (its private state), each a choice among named values.
// The private state that ICM_GETSTATE/ICM_SETSTATE carry is these options serialised.
struct CompressorOption {
    std::string key;                  // stable name, e.g. "pred"
    std::string label;                // shown in the Configure dialog
    std::vector<std::string> choices; // shown in the Configure dialog
    int value = 0;                    // index into choices
};
std::vector<CompressorOption> ICGetOptions(HIC hic);
bool ICSetOption(HIC hic, const std::string& key, int value);

// One compressor as the choice dialog lists it.
struct CompressorInfo {
    FOURCC fourcc;     // the code stored in the settings file
    std::string name;  // shown in the dialog
    bool hasQuality;   // honours lQ
    bool hasKeyFrames; // honours lKey
    bool hasDataRate;  // honours lDataRate
    bool hasOptions;   // has private options (Configure)
    // The quality (0..10000) the compressor makes good videos at, for a choice made afresh;
    // -1 where it has none of its own.
    int32_t defaultQuality = -1;
};
// Every compressor this machine offers that fits an AVI file, uncompressed first.
std::vector<CompressorInfo> ICEnumerateCompressors();
// The same for the files of a container.
std::vector<CompressorInfo> ICEnumerateCompressors(Container container);
// Every compressor this machine offers for the files of any container, each once.
std::vector<CompressorInfo> ICEnumerateAllCompressors();
// Whether files of the container can hold what the compressor makes (uncompressed frames
// only AVI). A code nobody serves counts as held by AVI, which reports it missing when the
// stream is made, and by no other container.
bool ICHeldBy(FOURCC code, Container container);

// The name the dialog shows for the compressor of a code; the code itself for one nobody
// serves.
std::string ICGetName(FOURCC code);

// True for the codes that mean uncompressed full frames: 0, "DIB " and kDefaultFourCC.
bool ICIsUncompressed(FOURCC code);

// What the AVI file layer needs to set up the libavcodec encoder behind an open compressor.
struct EncoderSetup {
    std::string encoder;         // libavcodec encoder name
    std::string preferredFormat; // pixel format to prefer (libavutil name), empty for none
    // Encoder options standing for the compressor's current option values (name, value),
    // followed by those the compressor always sets.
    std::vector<std::pair<std::string, std::string>> options;
    bool hasQuality = false;
    bool hasKeyFrames = false;
    bool hasDataRate = false;
    // How the quality (0..10000) reaches the encoder: as qualityOption, from qualityWorst at
    // quality 0 to qualityBest at 10000; without an option, as a fixed quantiser over the same
    // range.
    std::string qualityOption;
    int qualityWorst = 31;
    int qualityBest = 2;
    // Slices a frame is split into where the user left the choice to the encoder and the
    // frame is large enough to split both ways; 0 leaves the encoder's own choice.
    int defaultSlices = 0;
    // The encoder carries nothing from one frame to the next (unless an option of it makes
    // its tables adapt), so frames may be compressed by separate encoders, in any order.
    bool independentFrames = false;
    // The encoder runs threads of its own on every core, set up (by its options) so that it
    // holds no frame back.
    bool ownThreads = false;
    // The quality taken when the choice has none (0..10000).
    int defaultQuality = 7500;
};
// False for a null handle.
bool ICGetEncoderSetup(HIC hic, EncoderSetup* setup);

} // namespace vexo::media
