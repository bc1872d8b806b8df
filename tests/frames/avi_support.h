// Helpers for the AVI tests: test pictures, the compressor choice, and FFmpeg's own command-line
// tools as the independent reader of the files written.
#pragma once

#include <cstdint>
#include <functional>
#include <map>
#include <string>
#include <vector>

#include "frames/avi_file.h"
#include "frames/tga.h"
#include "media/vfw.h"

namespace vexo::test {

// An image as the TGA reader gives it: rows in file order (the first is the bottom line),
// red-green-blue(-alpha). pixel(x, row, channel) gives each byte.
struct OwnedImage {
    std::vector<unsigned char> pixels;
    TgaImage image{};
};
OwnedImage MakeImage(int width, int height, int bytesPerPixel,
                     const std::function<uint8_t(int x, int row, int channel)>& pixel);
// A picture whose top and bottom, left and right differ; seed varies it per frame.
OwnedImage TestPicture(int width, int height, int bytesPerPixel, int seed);

// Compressors the AVI tests choose often.
inline constexpr media::FOURCC kHuffyuv = media::MakeFourCC('H', 'F', 'Y', 'U');
inline constexpr media::FOURCC kFfv1 = media::MakeFourCC('F', 'F', 'V', '1');
// Loads a compressor choice the way the settings do: a valid record with the compressor
// opened by its code.
void Choose(CAviFile& writer, media::FOURCC code, int32_t quality = 10000);
// Whether this machine offers the compressor (uncompressed frames always).
bool Offered(media::FOURCC code);

// The picture upright (top line first), as packed rgb24 or rgba, the way a decoder shows it.
std::string Upright(const TgaImage& image, bool withAlpha);

// Standard output of a shell command; exitCode receives its status.
std::string RunCommand(const std::string& command, int* exitCode = nullptr);
// All frames decoded to the given raw pixel format ("rgb24", "rgba").
std::string DecodeFrames(const std::string& aviPath, const std::string& pixelFormat);
// A stream's entries as ffprobe reports them (key=value), frames counted (nb_read_frames)
// besides those the header counts (nb_frames); the first video stream unless another is
// selected ("a:0").
std::map<std::string, std::string> ProbeStream(const std::string& aviPath,
                                               const std::string& select = "v:0");

} // namespace vexo::test
