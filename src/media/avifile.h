// The AVIFile interface: an AVI file with one video stream, frames appended at positions,
// optionally through a compressing stream, and at most one PCM sound stream stored as it
// is handed over. Shaped after the Windows AVIFile calls; the file is written by FFmpeg's
// AVI muxer (which switches to OpenDML by itself, so files past 1 GB stay valid) and the
// frames are compressed by the libavcodec encoder of the chosen compressor.
//
// The same calls write Matroska and MP4 files: the frames the same way, the sound PCM (in
// Matroska) or compressed on its way into the file (AAC, Opus). Each frame is written out at
// once as a Matroska cluster or an MP4 fragment, so that a file whose writer dies is readable
// up to its last frame; a completed MP4 file is rewritten with its index at the front, as
// web players want it.
#pragma once

#include <cstdint>

#include "media/output_format.h"
#include "media/vfw.h"

namespace vexo::media {

struct AviFile;
struct AviStream;
using PAVIFILE = AviFile*;
using PAVISTREAM = AviStream*;

// Results: 0 is success, the rest are failures.
inline constexpr long AVIERR_OK = 0;
inline constexpr long AVIERR_UNSUPPORTED = -1;
inline constexpr long AVIERR_BADFORMAT = -2;
inline constexpr long AVIERR_MEMORY = -3;
inline constexpr long AVIERR_BADPARAM = -4;
inline constexpr long AVIERR_FILEWRITE = -5;
inline constexpr long AVIERR_FILEOPEN = -6;
inline constexpr long AVIERR_COMPRESSOR = -7;
inline constexpr long AVIERR_NOCOMPRESSOR = -8;

inline constexpr unsigned OF_WRITE = 0x0001;
inline constexpr unsigned OF_SHARE_DENY_NONE = 0x0040;
inline constexpr unsigned OF_CREATE = 0x1000;

inline constexpr uint32_t streamtypeVIDEO = MakeFourCC('v', 'i', 'd', 's');
inline constexpr uint32_t streamtypeAUDIO = MakeFourCC('a', 'u', 'd', 's');
inline constexpr uint32_t AVICOMPRESSF_DATARATE = 0x02;
inline constexpr uint32_t AVICOMPRESSF_KEYFRAMES = 0x04;
inline constexpr uint32_t AVICOMPRESSF_VALID = 0x08;
inline constexpr uint32_t AVIIF_KEYFRAME = 0x10;

struct RECT {
    int32_t left;
    int32_t top;
    int32_t right;
    int32_t bottom;
};

struct AVISTREAMINFOA {
    uint32_t fccType;
    uint32_t fccHandler;
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

// A sound format (18 bytes, packed, as the platform lays it out). Only PCM is taken:
// wFormatTag WAVE_FORMAT_PCM, 8 or 16 bits a sample, nBlockAlign = nChannels x bytes a
// sample, nAvgBytesPerSec = nSamplesPerSec x nBlockAlign.
inline constexpr uint16_t WAVE_FORMAT_PCM = 1;
#pragma pack(push, 1)
struct WAVEFORMATEX {
    uint16_t wFormatTag;
    uint16_t nChannels;
    uint32_t nSamplesPerSec;
    uint32_t nAvgBytesPerSec;
    uint16_t nBlockAlign;
    uint16_t wBitsPerSample;
    uint16_t cbSize; // bytes of format data after the record; 0 for PCM
};
#pragma pack(pop)

struct AVICOMPRESSOPTIONS {
    uint32_t fccType;
    uint32_t fccHandler;
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

// Initialisation and its end; unbalanced calls are harmless.
void AVIFileInit();
void AVIFileExit();

// Creates (replacing) the file for writing, so that an unwritable path fails here. From then
// on the process ignores SIGXFSZ: a file that would grow past the file-size limit fails its
// write, which the writer reports, instead of the signal ending the program.
long AVIFileOpen(PAVIFILE* file, const char* name, unsigned mode);
// The same for a file of the given kind (an AVI file with PCM sound is what the call above
// makes). The kind's sound must fit its container (Fitted).
long AVIFileOpen(PAVIFILE* file, const char* name, unsigned mode, const OutputFormat& kind);
// A stream of the file: fccType streamtypeVIDEO makes the one video stream, whose frames
// written directly are stored as they are (uncompressed DIBs); streamtypeAUDIO the one sound
// stream, only before the file header is written (AVIERR_UNSUPPORTED after it, or for a
// second stream of a type).
long AVIFileCreateStream(PAVIFILE file, PAVISTREAM* stream, const AVISTREAMINFOA* info);
// A stream that compresses the frames written to it and stores them in source. Fails with
// AVIERR_NOCOMPRESSOR when nobody serves options->fccHandler, with AVIERR_UNSUPPORTED when the
// file's container cannot hold its frames (ICHeldBy), and with AVIERR_BADPARAM when the
// private state in lpParms is not the compressor's.
long AVIMakeCompressedStream(PAVISTREAM* compressed, PAVISTREAM source,
                             const AVICOMPRESSOPTIONS* options);
// Sets the format of the frames (a BITMAPINFOHEADER, BI_RGB, 24 or 32 bits, positive
// height: bottom-up). The first format fixes the stream and writes the file header, with
// the sound stream when it has its format by then; a later one must be identical.
// On the sound stream: its WAVEFORMATEX (16 bytes at least), set before the header is
// written; afterwards only the same format is taken.
long AVIStreamSetFormat(PAVISTREAM stream, int32_t position, const void* format,
                        int32_t formatSize);

// The stream's own frame buffer, in the layout its encoder takes. Rows run from the bottom
// line of the picture up, `stride` bytes apart; within a row each channel's byte of pixel x
// is at channel + x * pixelStep (one buffer for packed pixels, planes for planar ones).
// Pixel (x, y), y counted from the bottom, has its red byte at red[y * stride + x *
// pixelStep], and so on. A writer that fills it and passes `data` to AVIStreamWrite saves a
// copy: the stream takes the buffer as the encoder's input as it is.
struct AviFrameBuffer {
    uint8_t* data; // to hand to AVIStreamWrite
    int32_t size;  // bytes at data
    uint8_t* red;  // bottom row of each channel
    uint8_t* green;
    uint8_t* blue;
    uint8_t* alpha; // null when the frame has no alpha channel
    int32_t stride;
    int32_t pixelStep;
    int32_t width;
    int32_t height;
};
// Valid until the next write or release; needs a format set.
long AVIStreamGetFrameBuffer(PAVISTREAM stream, AviFrameBuffer* frame);

// Writes one frame at position start (positions only grow; gaps are stored as empty
// frames). buffer is either the stream's frame buffer or a BI_RGB DIB in the format set,
// rows packed or padded to 4 bytes.
// On the sound stream: appends `samples` whole blocks of PCM (bufferSize bytes), stored
// unchanged; start is the number of samples written before. Sound written before the file
// header is held and written right after it; sound and frames otherwise reach the file in
// the order they are written.
long AVIStreamWrite(PAVISTREAM stream, int32_t start, int32_t samples, const void* buffer,
                    int32_t bufferSize, uint32_t flags, int32_t* samplesWritten,
                    int32_t* bytesWritten);

// A frame slot: a frame made ready apart from the stream, so that the next frame can be
// converted (and, where the compressor's frames do not depend on each other, compressed) on
// another thread while the stream writes the current one. A slot copies what it needs of
// its stream when it is made and shares nothing with the stream afterwards; each slot is
// used by one thread at a time.
struct AviFrameSlot;
// Makes a slot for the stream's frames; needs a format set. Call on the writing thread.
// compress: the slot is filled on another thread and gets a compressor of its own there,
// where the stream's frames are independent of each other (else the stream compresses its
// frame when it is written); a partner's compressor is shared instead of making another,
// and the two slots are then compressed on one thread.
long AVIStreamCreateFrameSlot(PAVISTREAM stream, bool compress, const AviFrameSlot* partner,
                              AviFrameSlot** slot);
// The slot's own frame buffer, laid out as AVIStreamGetFrameBuffer's. Filling it makes
// whatever the slot had compressed before stale.
long AVIFrameSlotGetBuffer(AviFrameSlot* slot, AviFrameBuffer* frame);
// Compresses the slot's buffer where the stream's frames are independent of each other (and
// so may be compressed anywhere, in any order); elsewhere the stream compresses it when it
// is written. AVIERR_OK either way unless the compressor failed.
long AVIFrameSlotCompress(AviFrameSlot* slot);
// True when the slot holds its frame as it will be stored: nothing is left for the writing
// thread but to write it.
bool AVIFrameSlotComplete(const AviFrameSlot* slot);
// True when the slot, once filled and compressed, is complete: frames stored uncompressed,
// or compressed apart.
bool AVIFrameSlotCompressesApart(const AviFrameSlot* slot);
// Writes the slot's frame at position start, as AVIStreamWrite does with the stream's own
// frame buffer, and with the same results. The slot must come from this stream's file.
long AVIStreamWriteFrameSlot(PAVISTREAM stream, int32_t start, AviFrameSlot* slot,
                             int32_t* bytesWritten);
void AVIFrameSlotRelease(AviFrameSlot* slot);

// Rewrites an AVI file that was never completed (its writer killed, or its index lost to a
// failed write) into a complete one with every whole frame and sound packet it holds, copied
// as they are; frames receives the frames kept. AVIERR_FILEOPEN when the file cannot be read
// as AVI; AVIERR_FILEWRITE when the copy cannot be written, the file left as it was.
long AVIFileRepair(const char* path, int32_t* frames);
// Counts the whole frames of the video file at path (AVI, Matroska or MP4, complete or not)
// into frames: AVIERR_OK, or AVIERR_FILEOPEN when it cannot be read as a video.
long AVIFileCountFrames(const char* path, int32_t* frames);

// Each handle (the file's and every stream's) holds the file; the file is completed when the
// last of them is released. AVIFileRelease returns the stream handles still open.
unsigned long AVIStreamRelease(PAVISTREAM stream);
unsigned long AVIFileRelease(PAVIFILE file);

} // namespace vexo::media
