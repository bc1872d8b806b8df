// The game's own capture: an AVI file that an engine of the ioquake3 family writes with its
// "video" command (frames uncompressed or as Motion JPEG, and 16-bit PCM sound when sound
// runs). It is read in order while the game still writes it: at the present end of the file
// the reader waits for more until the game has ended, so a slow or paused game never ends
// the capture early. The file's header is completed only when the game stops the capture, so
// nothing but the frames themselves is relied on.
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>

namespace vexo::media {

// One picture of the capture: rows from the bottom line of the picture up, `stride` bytes
// apart (negative where they lie top-down in memory), pixels of bytesPerPixel bytes (3 or 4),
// blue first.
struct CapturePicture {
    const uint8_t* bottomRow = nullptr;
    ptrdiff_t stride = 0;
    int32_t width = 0;
    int32_t height = 0;
    int32_t bytesPerPixel = 3;
};

// The capture's sound: interleaved PCM samples.
struct CaptureSound {
    int32_t samplesPerSecond = 0;
    int32_t channels = 0;
    int32_t bitsPerSample = 0; // 8 (unsigned) or 16 (signed, little-endian)
};

class GameCaptureReader {
public:
    struct Waits {
        // True once the game has ended: the end of the file is then the end of the capture.
        std::function<bool()> writerDone;
        // True when the reader is to give up at once.
        std::function<bool()> cancelled;
        // Waits a while for the game to write more.
        std::function<void()> pause;
    };
    enum class Item { Picture, Sound, End, Cancelled, Error };

    ~GameCaptureReader();
    GameCaptureReader(const GameCaptureReader&) = delete;
    GameCaptureReader& operator=(const GameCaptureReader&) = delete;

    // Opens the capture and reads its header, waiting for the game to write it. release:
    // the disk blocks of what has been read are freed as reading goes on. Null when the file
    // holds no capture with a video stream; error then says why.
    static std::unique_ptr<GameCaptureReader> Open(const std::string& path, Waits waits,
                                                   bool release, std::string* error);

    // The sound stream's format; null when the capture has no sound this program can copy.
    const CaptureSound* Sound() const;

    // Reads on to the next picture or piece of sound, in the order the file holds them.
    // End: the game has ended and everything it wrote has been read. Error: the file could
    // not be read on (ErrorText says why); what came before stays good.
    Item Next();
    // The picture Next found; valid until the next call.
    const CapturePicture& Picture() const;
    // The sound Next found: whole PCM sample frames; valid until the next call.
    const uint8_t* SoundData() const;
    int32_t SoundBytes() const;
    const std::string& ErrorText() const;

    struct State;

private:
    explicit GameCaptureReader(std::unique_ptr<State> state);
    std::unique_ptr<State> state_;
};

} // namespace vexo::media
