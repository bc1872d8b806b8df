// Motion blur: each group of K consecutive pictures (sub-frames) averaged with equal weights into
// one picture, the same pictures FFmpeg makes with tmix=frames=K followed by
// select='eq(mod(n\,K)\,K-1)', to the byte.
//
// The average is (sum of the K samples) / K rounded to the nearest integer, halves to the even
// one (118.5 -> 118, 183.5 -> 184), as FFmpeg's tmix rounds 8-bit samples. Pictures are packed
// 8-bit samples of 3 (blue, green, red) or 4 bytes (and alpha, averaged like the colours); every
// byte is averaged on its own. Only one group's running sum (16 bits a sample) and the finished
// picture are kept, whatever K; the K-th picture of a group is added and divided in one pass.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>

#include "media/game_capture.h"

namespace vexo {

class FrameBlender {
public:
    // Sub-frames per frame: 1 (pictures pass through), 2, 4, 8, 16, 32, 64, 128 or 256.
    static bool ValidSubFrames(int subFrames);

    // Which vector instructions the blend uses: the widest this processor has, or only those
    // every x86-64 processor has (SSE2; elsewhere plain code).
    enum class Vectors { Widest, Baseline };

    // subFrames must be valid.
    explicit FrameBlender(int subFrames, Vectors vectors = Vectors::Widest);
    ~FrameBlender();
    FrameBlender(const FrameBlender&) = delete;
    FrameBlender& operator=(const FrameBlender&) = delete;

    int SubFrames() const { return subFrames_; }
    // Pictures taken into the group under way (0 to SubFrames() - 1). At the end of a
    // recording these are left over and give no picture, as FFmpeg's select gives none.
    int Pending() const { return pending_; }

    enum class Step {
        Taken,   // added to the group under way
        Blended, // completed a group: Blended() holds the average
        Refused, // not a picture this takes (see Add); the group under way is dropped
    };

    // Adds the next picture. A picture of another size or pixel size than the group under way
    // drops that group and starts a new one (FFmpeg starts its filters afresh then, too).
    // Refused: bytesPerPixel not 3 or 4, an empty picture, or no memory for the running sum.
    // With one sub-frame every picture is Blended and Blended() is the picture itself.
    Step Add(const media::CapturePicture& picture);

    // The same, a band of rows at a time (as a screenshot file is read): BeginPicture, then
    // AddRows until every row has been given once, in any order, then EndPicture.
    bool BeginPicture(int32_t width, int32_t height, int32_t bytesPerPixel); // false: Refused
    // Rows firstRow .. firstRow + rows - 1 counted from the picture's bottom line; row
    // firstRow at bottomRow, the next one up stride bytes further (negative for top-down).
    void AddRows(int32_t firstRow, int32_t rows, const uint8_t* bottomRow, ptrdiff_t stride);
    // Taken or Blended; Refused (the group dropped) when the rows given do not add up to the
    // picture's height, or no picture was begun.
    Step EndPicture();

    // The last finished picture: packed rows from the bottom line up. Valid until the next
    // Add or BeginPicture (with one sub-frame and Add, as long as the picture given).
    const media::CapturePicture& Blended() const { return blended_; }

    // Drops the group under way (a new recording starts).
    void Reset();

    struct Kernels;

private:
    void Drop();

    int subFrames_;
    int shift_;
    const Kernels* kernels_;
    int pending_ = 0;
    // The picture being added and the group's shape.
    bool open_ = false;
    int32_t rowsGiven_ = 0;
    int32_t width_ = 0;
    int32_t height_ = 0;
    int32_t bytesPerPixel_ = 0;
    size_t capacity_ = 0; // samples the buffers hold
    std::unique_ptr<uint16_t[]> sum_;
    std::unique_ptr<uint8_t[]> out_;
    media::CapturePicture blended_;
};

} // namespace vexo
