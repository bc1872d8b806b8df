// Writes small TGA screenshots for tests, and decodes AVI files with FFmpeg's own tool.
#pragma once

#include <cstdint>
#include <cstdio>
#include <string>
#include <vector>

#include "support/temp_dir.h"

namespace vexo::test {

// An uncompressed 24-bit TGA (bottom-left origin) filled with one colour (r, g, b), its
// first stored row (the bottom line of the picture) white.
inline std::string TgaBytes(int width, int height, uint8_t r, uint8_t g, uint8_t b) {
    std::string data(18, '\0');
    data[2] = 2;
    data[12] = static_cast<char>(width & 255);
    data[13] = static_cast<char>(width >> 8);
    data[14] = static_cast<char>(height & 255);
    data[15] = static_cast<char>(height >> 8);
    data[16] = 24;
    for (int y = 0; y < height; ++y)
        for (int x = 0; x < width; ++x) {
            const bool bottom = y == 0;
            data += static_cast<char>(bottom ? 255 : b);
            data += static_cast<char>(bottom ? 255 : g);
            data += static_cast<char>(bottom ? 255 : r);
        }
    return data;
}

inline void WriteTga(const std::string& path, int width, int height, uint8_t r, uint8_t g,
                     uint8_t b) {
    WriteFile(path, TgaBytes(width, height, r, g, b));
}

// Runs a command and returns its standard output.
inline std::string Capture(const std::string& command) {
    std::string out;
    if (std::FILE* p = ::popen(command.c_str(), "r")) {
        char buffer[65536];
        size_t n;
        while ((n = std::fread(buffer, 1, sizeof buffer, p)) > 0)
            out.append(buffer, n);
        ::pclose(p);
    }
    return out;
}

// The frames of an AVI file as decoded by ffmpeg, each width * height * 3 bytes of RGB,
// rows from the top of the picture down.
inline std::vector<std::string> DecodeFrames(const std::string& avi, int width, int height) {
    const std::string raw = Capture("ffmpeg -v error -nostdin -i '" + avi +
                                    "' -f rawvideo -pix_fmt rgb24 - 2>/dev/null");
    std::vector<std::string> frames;
    const size_t size = static_cast<size_t>(width) * height * 3;
    for (size_t pos = 0; pos + size <= raw.size(); pos += size)
        frames.push_back(raw.substr(pos, size));
    return frames;
}

} // namespace vexo::test
