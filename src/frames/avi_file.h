// The AVI writer: one AVI file with a single video stream, compressed by the compressor the
// user chose. Frames arrive as TGA screenshots; each is turned into a bottom-up BGR picture,
// gamma-corrected when a gamma is set, and appended at its frame position. A PCM sound
// stream may go beside it, copied into the file as it is handed over. The same writer makes
// Matroska and MP4 files, whose sound may be compressed on its way (Open's output).
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "frames/frame_conversion.h"
#include "frames/tga.h"
#include "media/avifile.h"
#include "media/game_capture.h"
#include "media/vfw.h"

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
    // per second, compressed as CodecVars says, in a file of the output's container (its
    // sound as the output says). False, with the writer closed and LastError set, when the
    // file, the stream or the compressing stream cannot be made (a container that cannot
    // hold the compressor's frames fails at the compressing stream).
    bool Open(const std::string& fileName, int32_t width, int32_t height, int32_t fps,
              int32_t length, const media::OutputFormat& output = {});
    void SetGamma(float gamma) { Gamma = gamma; }
    // Adds a sound stream of 8- or 16-bit PCM (stored as the output given to Open says);
    // only between Open and the first frame. False, with the writer still open and no sound
    // stream, when it cannot be added (or its encoder cannot be opened).
    bool AddSound(int32_t samplesPerSecond, int32_t channels, int32_t bitsPerSample);
    // Appends whole sample blocks of PCM to the sound stream, after what came before and
    // among the frames in the order they are handed over (sound before the first frame is
    // written right after the file header). False without a sound stream; false, with the
    // writer closed and LastError = AVI_WRITE_FRAME, when the sound was not stored.
    bool WriteSound(const uint8_t* data, int32_t bytes);
    // Whether the open file has a sound stream.
    bool HasSound() const { return SoundStream != nullptr; }
    // Appends the image (left unchanged) at position. False, with the writer closed and
    // LastError set, when the frame was not stored. bytesWritten receives the bytes the
    // frame took in the file.
    bool WriteFrame(const TgaImage* image, int32_t position, int32_t* bytesWritten = nullptr);
    // Appends a picture of the game's own recording at position, as WriteFrame appends an
    // image, with the same results.
    bool WritePicture(const media::CapturePicture& picture, int32_t position,
                      int32_t* bytesWritten = nullptr);
    // A frame made ready on another thread while the writer stores the one before: an image
    // converted (gamma and all) into a frame buffer of its own and, where the compressor's
    // frames are independent of each other, compressed as well.
    class PreparedFrame {
    public:
        ~PreparedFrame();
        PreparedFrame(const PreparedFrame&) = delete;
        PreparedFrame& operator=(const PreparedFrame&) = delete;
        // Whether it holds an image since it was last written.
        bool Filled() const { return filled_; }
        // True when nothing is left for the writing thread but to store it.
        bool Complete() const;
        // True when it will be complete once filled.
        bool CompletesApart() const;

    private:
        friend class CAviFile;
        PreparedFrame(media::AviFrameSlot* slot, int32_t width, int32_t height, int32_t bpp,
                      FrameConversion conversion)
            : slot_(slot), width_(width), height_(height), bpp_(bpp), conversion_(conversion) {}
        media::AviFrameSlot* slot_;
        int32_t width_, height_, bpp_; // the frames the stream takes
        FrameConversion conversion_;   // with the writer's gamma
        bool filled_ = false;
    };
    // A frame for this writer's stream, once its first frame has fixed the format; null
    // before that, when the writer is not open or out of memory. On the writing thread.
    // apart: the frame is made on another thread, and compressed there where the
    // compressor's frames are independent of each other; frames made apart on one thread
    // share a compressor by naming the first as the partner of the others.
    std::unique_ptr<PreparedFrame> NewPreparedFrame(bool apart,
                                                    const PreparedFrame* partner = nullptr);
    // Converts image into frame, on any one thread per frame. False, with frame left empty,
    // when the image does not fit the stream (another size or depth, too few pixels): the
    // writer is then handed the image itself and answers it as WriteFrame does.
    static bool PrepareFrame(PreparedFrame& frame, const TgaImage& image);
    // The same for a screenshot file opened for reading by bands, which is read to its end.
    static bool PrepareFrame(PreparedFrame& frame, TgaBandReader& file);
    // Stores a filled frame at position, as WriteFrame stores an image, with the same
    // results; the frame is empty afterwards.
    bool WritePreparedFrame(PreparedFrame& frame, int32_t position,
                            int32_t* bytesWritten = nullptr);
    // Completes and releases the file, forgets the compressor choice and every setting, and
    // leaves LastError = code. Harmless on a writer that is not open.
    void Close(uint8_t code);

    // The text of a status code; "Unknown error" outside 0..7.
    static const char* StatusText(unsigned code);

    int32_t Fps;
    int32_t Width;
    int32_t Height;
    std::string StreamName;      // copied into the stream's name when set
    float Gamma;                 // 1.0: no correction
    media::COMPVARS CodecVars{}; // the compressor choice, filled by the caller before Open
    uint8_t LastError;
    std::string FileName; // set by a successful Open

private:
    void Reset();
    // Writes pixels known to cover their size (3 or 4 bytes each) as the frame at position.
    template <class Source>
    bool WriteSource(const Source& source, int32_t position, int32_t* bytesWritten);
    // Fills frame by convert(buffer, curve) when width x height x bpp fits its stream and
    // convert succeeds, and compresses it where it is compressed apart.
    template <class Convert>
    static bool Fill(PreparedFrame& frame, int32_t width, int32_t height, int32_t bpp,
                     Convert convert);

    media::PAVIFILE File = nullptr;
    media::PAVISTREAM Stream = nullptr;
    media::PAVISTREAM CompressedStream = nullptr;
    media::PAVISTREAM SoundStream = nullptr;
    int32_t soundBlock_ = 0;   // bytes a sample of the sound stream
    int64_t soundSamples_ = 0; // samples written to it
    media::AVICOMPRESSOPTIONS CompressOptions{};
    std::vector<uint8_t> compressorState_; // the options of CodecVars.hic, for the stream
    // The frame format the first frame fixed (0 until then).
    int32_t frameWidth_ = 0;
    int32_t frameHeight_ = 0;
    int32_t frameBpp_ = 0;
};

} // namespace vexo
