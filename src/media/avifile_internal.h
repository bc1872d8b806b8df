// What the files of the AVIFile implementation share: the file being written, its stream
// handles and frame slots, the frame buffers, and the FFmpeg objects they hold.
#pragma once

#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "media/avifile.h"
#include "media/avifile_output.h"
#include "media/output_format.h"

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavformat/avformat.h>
#include <libavutil/audio_fifo.h>
#include <libswresample/swresample.h>
#include <libswscale/swscale.h>
}

namespace vexo::media {

// FFmpeg's objects, freed by FFmpeg's own functions.
template <class T, void (*Free)(T**)> struct FreedBy {
    void operator()(T* object) const { Free(&object); }
};
using CodecContextPtr =
    std::unique_ptr<AVCodecContext, FreedBy<AVCodecContext, avcodec_free_context>>;
using FramePtr = std::unique_ptr<AVFrame, FreedBy<AVFrame, av_frame_free>>;
using PacketPtr = std::unique_ptr<AVPacket, FreedBy<AVPacket, av_packet_free>>;
using BufferPtr = std::unique_ptr<AVBufferRef, FreedBy<AVBufferRef, av_buffer_unref>>;
struct FreeScaler {
    void operator()(SwsContext* scaler) const { sws_freeContext(scaler); }
};
using ScalerPtr = std::unique_ptr<SwsContext, FreeScaler>;
struct FreeFormatContext {
    void operator()(AVFormatContext* format) const { avformat_free_context(format); }
};
using FormatContextPtr = std::unique_ptr<AVFormatContext, FreeFormatContext>;
using ResamplerPtr = std::unique_ptr<SwrContext, FreedBy<SwrContext, swr_free>>;
struct FreeAudioFifo {
    void operator()(AVAudioFifo* fifo) const { av_audio_fifo_free(fifo); }
};
using AudioFifoPtr = std::unique_ptr<AVAudioFifo, FreeAudioFifo>;

inline int32_t Align(int32_t value, int32_t to) {
    return (value + to - 1) / to * to;
}

// How the frames of a stream are stored.
struct Compression {
    bool raw = true;
    EncoderSetup setup;
    uint32_t keyEvery = 0;
    uint32_t quality = 0xFFFFFFFFu;
    uint32_t bytesPerSecond = 0;
};

// ---- Frame buffers (avifile_buffers.cpp) ----

// The layouts a frame buffer can take. Packed: the channels are byte offsets within a pixel
// of bytesPerPixel bytes. Planar: the channels are plane numbers, one byte a pixel.
struct PixelLayout {
    AVPixelFormat format;
    int planes;
    int bytesPerPixel;
    int red, green, blue, alpha;
};
// Null for a format that is none of them.
const PixelLayout* LayoutOf(AVPixelFormat format);

// The shape of a frame buffer: a bottom-up picture in one of the layouts.
struct BufferShape {
    AVPixelFormat format = AV_PIX_FMT_NONE;
    int32_t stride = 0;
    int32_t width = 0;
    int32_t height = 0;

    size_t PlaneSize() const { return static_cast<size_t>(stride) * height; }
    size_t Size() const { return PlaneSize() * LayoutOf(format)->planes; }
};

// A frame buffer as the writer sees it: each channel's bottom row and the step between
// pixels.
AviFrameBuffer Describe(const BufferShape& shape, uint8_t* data);
// Makes sure a frame buffer may be written: an encoder may still hold the last frame.
bool EnsureBuffer(BufferPtr& buffer, const BufferShape& shape);
// Copies a bottom-up BI_RGB DIB of srcBpp bytes a pixel, rows srcStride bytes apart, into a
// frame buffer.
void CopyDib(const uint8_t* src, int32_t srcStride, int srcBpp, const BufferShape& shape,
             uint8_t* data);
// The picture in a bottom-up frame buffer as an encoder takes it, upright: starting at the
// top line (the buffer's last row) and stepping backwards through the rows. Null when out
// of memory.
FramePtr UprightFrame(AVBufferRef* buffer, const BufferShape& shape);

// ---- The file being written (avifile_mux.cpp) ----

// A packet's times in its stream's time base.
struct PacketTiming {
    int64_t pts = 0;
    int64_t dts = 0;
    int64_t duration = 0;
};

// The encoder of a compressed sound stream (AAC, Opus): the PCM handed over is converted to
// its sample format and rate and gathered into frames of the size it takes.
struct SoundEncoder {
    CodecContextPtr context;
    ResamplerPtr resampler;
    AudioFifoPtr fifo; // converted samples not yet a whole frame
    FramePtr frame;
    PacketPtr packet;
    int64_t nextPts = 0; // samples handed to the encoder so far, in its rate
};

// The sound stream: PCM stored as it is handed over, or compressed on its way.
struct SoundTrack {
    WAVEFORMATEX format{};
    bool formatSet = false;
    AVStream* stream = nullptr;             // made with the file header
    int64_t nextSample = 0;                 // samples written (or held) so far
    std::vector<std::vector<uint8_t>> held; // written before the file header
    std::optional<SoundEncoder> encoder;    // none: PCM stored as it is
};

// One AVI file being written: shared by its file and stream handles, and completed when
// the last of them goes.
struct AviMux {
    ~AviMux();

    std::string path;
    OutputFormat kind; // the container and its sound
    AviOutput output;
    FormatContextPtr format;
    AVStream* stream = nullptr; // the one video stream, once created
    AVISTREAMINFOA info{};
    Compression lastCompression; // for a file completed without frames
    bool headerWritten = false;
    bool broken = false; // the header could not be written: the file is no AVI

    uint64_t serial = 0; // tells this file's frame slots from others'

    // The frame sink, fixed by the first format.
    BITMAPINFOHEADER frameFormat{};
    Compression compression;        // how the frames are stored
    const AVCodec* codec = nullptr; // the encoder's, when compressed
    AVPixelFormat encoderFormat = AV_PIX_FMT_NONE;
    bool independentFrames = false; // frames may be compressed apart, in any order
    CodecContextPtr encoder;        // null: uncompressed frames
    ScalerPtr scaler;               // null: the encoder takes the frame buffer as it is
    AVPixelFormat bufferFormat = AV_PIX_FMT_NONE;
    BufferPtr buffer; // the frame buffer, a bottom-up DIB
    int32_t bufferStride = 0;
    FramePtr encoderFrame; // the scaler's output
    PacketPtr packet;
    int64_t nextPosition = 0;
    bool failed = false;     // a write failed; nothing more is written
    int64_t completeEnd = 0; // the end of the header and the last packet written whole

    std::optional<SoundTrack> sound;

    // Packets so far, for the room their index entries will need, and empty frames the
    // muxer writes before the next packet.
    int64_t packetsWritten = 0;
    int64_t gapFrames = 0;
    // Bytes the muxer holds in the cluster or fragment it has not yet written out.
    int64_t pendingBytes = 0;
    // MP4: the times of every packet handed to the muxer, a list per stream, for the file's
    // rewrite once complete.
    std::vector<std::vector<PacketTiming>> timings;

    // Matroska and MP4 gather their packets into clusters and fragments, written out whole;
    // each frame's is written out once the frame is in, as an AVI chunk is.
    bool GathersPackets() const { return kind.container != Container::Avi; }

    BufferShape Shape() const {
        return BufferShape{bufferFormat, bufferStride, frameFormat.biWidth, frameFormat.biHeight};
    }
    // The frames' time base: one frame per tick.
    AVRational FrameTimeBase() const {
        return AVRational{static_cast<int>(info.dwScale), static_cast<int>(info.dwRate)};
    }
};

struct AviFile {
    std::shared_ptr<AviMux> mux;
};

struct AviStream {
    std::shared_ptr<AviMux> mux; // the file this stream writes into
    Compression compression;     // raw for the uncompressed stream
    bool sound = false;          // the sound stream
};

// Fixes the video stream by its first frame format and writes the file header (with the
// sound stream, when it has its format by then).
long ConfigureSink(AviMux& mux, const BITMAPINFOHEADER& bih, const Compression& c);
// Forgets a sink that could not be configured: nothing reached the file yet, so a later
// format (or the completion of the file) configures afresh.
void ForgetSink(AviMux& mux);
// Writes one packet and hands it to the file at once, so that a failing write (disk full,
// file-size limit) shows on the packet that caused it instead of going unnoticed in the
// output buffer. 0 or an AVERROR. (Matroska and MP4 hold it in the cluster or fragment
// until WriteOut.)
int WritePacket(AviMux& mux, AVPacket* packet);
// Writes out the cluster or fragment the muxer gathers (nothing for AVI). 0 or an AVERROR.
int WriteOut(AviMux& mux);
// Whether the file takes frames now, its format set and no write failed: AVIERR_OK, or why
// not.
long TakesFrames(const AviMux& mux);
// The same for a video stream handed in by a caller.
long TakesFrames(PAVISTREAM stream);
// Whether a frame may be written at position start: AVIERR_OK, or why not.
long CanWriteAt(const AviMux& mux, int32_t start);
// Records how writing the frame at start went: a failure stops every later write, a
// success moves the next position on. Returns ret.
long Written(AviMux& mux, int32_t start, long ret);
// Writes a packet made apart from the stream's encoder (an uncompressed frame or one a
// frame slot compressed) at position.
long WriteMadePacket(AviMux& mux, AVPacket* pkt, AVRational timeBase, int64_t position,
                     int32_t* bytesWritten);
// Writes the frame in buffer (the stream's frame buffer or a frame slot's) at position.
long WriteBuffer(AviMux& mux, AVBufferRef* buffer, int64_t position, int32_t* bytesWritten);
// A converter of width x height pictures from one pixel format to another (the encoder's)
// and the frame it converts into; false when out of memory.
bool MakeConverter(int width, int height, AVPixelFormat from, AVPixelFormat to, ScalerPtr& scaler,
                   FramePtr& output);
// Converts an upright picture into the encoder's pixel format; false when out of memory.
bool ScaleFrame(SwsContext* scaler, const AVFrame& input, AVFrame* output);
// Compresses a frame in the encoder's pixel format as the one at position and writes what
// the encoder makes of it.
long EncodeFrame(AviMux& mux, AVFrame* frame, int64_t position, int32_t* bytesWritten);

// ---- The sound stream (avifile_sound.cpp) ----

long CreateSoundStream(AviMux& mux);
// Takes the PCM format of the sound handed over; where the file's sound is compressed, opens
// its encoder (AVIERR_COMPRESSOR when it cannot be opened).
long SetSoundFormat(AviMux& mux, const void* format, int32_t formatSize);
long WriteSound(AviMux& mux, int32_t start, int32_t samples, const void* data, int32_t bytes,
                int32_t* samplesWritten, int32_t* bytesWritten);
// Adds the sound stream, when it has its format, to the file before its header is written.
// False when out of memory.
bool AddSoundToHeader(AviMux& mux);
// Writes the sound held until the header was written; a failure stops every later write.
void WriteHeldSound(AviMux& mux);
// Hands the sound encoder's last samples over and writes what it still holds; a failure
// stops every later write.
void FinishSound(AviMux& mux);

// ---- Rewriting a file (avifile_repair.cpp) ----

// Copies every whole packet of the file at path, read as the container's, into a complete new
// file of that container that replaces it (MP4 with its index at the front); frames receives
// the video packets kept. Where timings are given (a list per stream, in the order of the
// stream's packets) they are the packets' times, as their writer made them: a demuxer reads
// AAC's priming samples and the end of its last frame back from a fragmented MP4 file as
// sound to play. AVIERR_FILEOPEN when the file cannot be read; AVIERR_FILEWRITE when the copy
// cannot be written, the file left as it was.
long RewriteFile(const char* path, Container container, int32_t* frames,
                 const std::vector<std::vector<PacketTiming>>* timings = nullptr);

// ---- Encoder setup (avifile_encoder.cpp) ----

// The pixel format the encoder is handed frames of bpp bytes a pixel in: the one the
// compressor prefers, else one the frames need no conversion for, else the closest.
AVPixelFormat ChooseEncoderFormat(const AVCodec* codec, const EncoderSetup& setup, int bpp);
// Opens an encoder for the file's frames as its compression says. sliceThreads: split each
// frame into slices on every core where the encoder can. When it cannot be opened, error
// (if given) receives FFmpeg's code.
long OpenEncoder(const AviMux& mux, bool sliceThreads, CodecContextPtr& encoder,
                 int* error = nullptr);
// Whether the open encoder's frames may be compressed by separate encoders, in any order.
bool IndependentFrames(const AVCodecContext* encoder, const EncoderSetup& setup);

// ---- Frame slots (avifile_slots.cpp) ----

// A compressor a frame slot has of its own (or shares with its partner).
struct SlotEncoder {
    CodecContextPtr context; // null once it failed
};

struct AviFrameSlot {
    uint64_t fileSerial = 0;
    BITMAPINFOHEADER frameFormat{};
    bool raw = true;
    AVRational timeBase{1, 25};
    int32_t bufferStride = 0;
    AVPixelFormat bufferFormat = AV_PIX_FMT_NONE;
    BufferPtr buffer;
    std::shared_ptr<SlotEncoder> encoder; // where frames are independent
    PacketPtr packet;                     // what that encoder made of the buffer
    bool compressed = false;
    // Where frames depend on each other and the encoder takes another pixel format: the
    // buffer converted into it apart from the stream, which then only compresses it.
    ScalerPtr scaler;
    FramePtr scaled;
    bool scaledReady = false;

    BufferShape Shape() const {
        return BufferShape{bufferFormat, bufferStride, frameFormat.biWidth, frameFormat.biHeight};
    }
};

} // namespace vexo::media
