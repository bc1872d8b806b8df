// Inside the platform layer: how a compressor chosen by four-character code becomes a
// libavcodec encoder. The AVIFile stand-in uses it to build its compressing streams.
#pragma once

#include <cstdint>

#include "platform/vfw.h"

struct AVCodecContext;

namespace vexo {

// True for the codes that mean uncompressed full frames: 1145651744, "DIB " and 0.
bool IsUncompressedHandler(FOURCC code);

// What the compressing stream asks of the encoder.
struct EncoderRequest {
    int width = 0;
    int height = 0;
    int sourceFormat = -1; // AVPixelFormat of the frames handed in (bgr24 or bgra)
    int fps = 25;
    int32_t quality = -1;       // 0..10000; anything else leaves the encoder's default
    int32_t keyFrameEvery = 0;  // 0 leaves the encoder's default
    int32_t bytesPerSecond = 0; // 0: no data rate, quality decides
};

// Opens a libavcodec encoder for the compressor, with its own options applied. Returns 0
// and the open context (freed by the caller with avcodec_free_context), or a negative
// libav error code.
int OpenCompressorEncoder(HIC hic, const EncoderRequest& request, AVCodecContext** encoder);

} // namespace vexo
