// The AVIFile interface: an AVI file with one video stream, frames appended at positions
// through a compressing stream. Shaped after the Windows AVIFile calls; the file is written
// by FFmpeg's AVI muxer (OpenDML past 1 GB), the compressing stream by libavcodec.
#pragma once

#include <cstdint>

#include "platform/vfw.h"

namespace vexo {

struct AviFileObject;
struct AviStreamObject;
using PAVIFILE = AviFileObject*;
using PAVISTREAM = AviStreamObject*;

inline constexpr FOURCC streamtypeVIDEO = MakeFourCC('v', 'i', 'd', 's');

inline constexpr unsigned OF_WRITE = 0x0001;
inline constexpr unsigned OF_SHARE_DENY_NONE = 0x0040;
inline constexpr unsigned OF_CREATE = 0x1000;

inline constexpr uint32_t AVICOMPRESSF_DATARATE = 0x02;
inline constexpr uint32_t AVICOMPRESSF_KEYFRAMES = 0x04;
inline constexpr uint32_t AVICOMPRESSF_VALID = 0x08;
inline constexpr uint32_t AVIIF_KEYFRAME = 0x10;

// Results: 0 is success; the failures follow the Windows error names.
inline constexpr long AVIERR_OK = 0;
inline constexpr long AVIERR_UNSUPPORTED = -1;
inline constexpr long AVIERR_BADFORMAT = -2;
inline constexpr long AVIERR_MEMORY = -3;
inline constexpr long AVIERR_INTERNAL = -4;
inline constexpr long AVIERR_BADPARAM = -5;
inline constexpr long AVIERR_FILEWRITE = -6;
inline constexpr long AVIERR_FILEOPEN = -7;
inline constexpr long AVIERR_NOCOMPRESSOR = -8;
inline constexpr long AVIERR_COMPRESSOR = -9;

struct RECT {
    int32_t left = 0;
    int32_t top = 0;
    int32_t right = 0;
    int32_t bottom = 0;
};

struct AVISTREAMINFOA {
    FOURCC fccType;
    FOURCC fccHandler;
    uint32_t dwFlags;
    uint32_t dwCaps;
    uint16_t wPriority;
    uint16_t wLanguage;
    uint32_t dwScale;
    uint32_t dwRate; // dwRate / dwScale frames per second
    uint32_t dwStart;
    uint32_t dwLength;
    uint32_t dwInitialFrames;
    uint32_t dwSuggestedBufferSize;
    uint32_t dwQuality;
    uint32_t dwSampleSize;
    RECT rcFrame;
    uint32_t dwEditCount;
    uint32_t dwFormatChangeCount;
    char szName[64];
};

struct AVICOMPRESSOPTIONS {
    FOURCC fccType;
    FOURCC fccHandler;
    uint32_t dwKeyFrameEvery;
    uint32_t dwQuality; // 0..10000
    uint32_t dwBytesPerSecond;
    uint32_t dwFlags;
    void* lpFormat;
    uint32_t cbFormat;
    void* lpParms; // the compressor's private state (ICM_SETSTATE), or null
    uint32_t cbParms;
    uint32_t dwInterleaveEvery;
};

// Initialisation is counted; extra exits are harmless.
void AVIFileInit();
void AVIFileExit();

// Creates (replaces) the file for writing. Fails when the file cannot be created.
long AVIFileOpenA(PAVIFILE* file, const char* fileName, unsigned mode, const void* handler);
// The video stream of the file (one per file); its frames are uncompressed DIBs.
long AVIFileCreateStreamA(PAVIFILE file, PAVISTREAM* stream, const AVISTREAMINFOA* info);
// A stream that compresses every frame written to it into source. Uncompressed codes
// ("DIB ", 1145651744, 0) write the frames as they are.
long AVIMakeCompressedStream(PAVISTREAM* compressed, PAVISTREAM source,
                             const AVICOMPRESSOPTIONS* options, const void* handler);
// The frame format: a BITMAPINFOHEADER of an uncompressed 24- or 32-bit bottom-up DIB.
// The first format fixes the stream; a later one must be the same.
long AVIStreamSetFormat(PAVISTREAM stream, long position, const void* format, long size);
// Writes one frame (a DIB in the stream's format, rows padded to 4 bytes) at position.
long AVIStreamWrite(PAVISTREAM stream, long start, long samples, const void* buffer, long size,
                    uint32_t flags, long* samplesWritten, long* bytesWritten);
// Releasing the last reference of a compressing stream drains its encoder; releasing the
// file's last reference completes the file.
unsigned long AVIStreamRelease(PAVISTREAM stream);
unsigned long AVIFileRelease(PAVIFILE file);

} // namespace vexo
