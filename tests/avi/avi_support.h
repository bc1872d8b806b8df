// Test pictures for the AVI writer, and FFmpeg's own command-line tools as the
// independent reader of the files it writes.
#pragma once

#include <cstdio>
#include <map>
#include <sstream>
#include <string>
#include <vector>

#include "frames/tga.h"

namespace vexo::test {

// A TGA-like image whose rows run bottom line first; every pixel differs from its
// neighbours, and the picture's top and bottom differ. seed varies the frame.
struct TestImage {
    TgaImage image{};
    std::vector<unsigned char> pixels;

    TestImage(int width, int height, int bytesPerPixel, int seed) {
        pixels.resize(static_cast<size_t>(width) * height * bytesPerPixel);
        for (int row = 0; row < height; ++row)
            for (int x = 0; x < width; ++x) {
                unsigned char* p = &pixels[(static_cast<size_t>(row) * width + x) * bytesPerPixel];
                p[0] = static_cast<unsigned char>(x * 13 + row * 3 + seed * 40);      // red
                p[1] = static_cast<unsigned char>(row * 29 + seed * 7);               // green
                p[2] = static_cast<unsigned char>(200 - x * 5 - row * 11 + seed * 3); // blue
                if (bytesPerPixel == 4)
                    p[3] = static_cast<unsigned char>(255 - x - row * 2); // alpha
            }
        image = TgaImage{bytesPerPixel, width, height, static_cast<int32_t>(pixels.size()),
                         pixels.data()};
    }
    // A smooth picture for lossy codecs: a dark bottom half and a bright top half.
    static TestImage Smooth(int width, int height, int seed) {
        TestImage t(width, height, 3, seed);
        for (int row = 0; row < height; ++row)
            for (int x = 0; x < width; ++x) {
                unsigned char* p = &t.pixels[(static_cast<size_t>(row) * width + x) * 3];
                const bool top = row >= height / 2;
                p[0] = static_cast<unsigned char>(top ? 220 : 30 + seed * 10);
                p[1] = static_cast<unsigned char>(top ? 180 : 60);
                p[2] = static_cast<unsigned char>(top ? 40 : 200);
            }
        return t;
    }
    // The picture as an upright image of 3 (rgb24) or 4 (rgba) bytes per pixel.
    std::vector<unsigned char> Upright(int outBytes) const {
        std::vector<unsigned char> out;
        const int bpp = image.BytesPerPixel;
        for (int y = image.Height - 1; y >= 0; --y)
            for (int x = 0; x < image.Width; ++x) {
                const unsigned char* p = &pixels[(static_cast<size_t>(y) * image.Width + x) * bpp];
                out.insert(out.end(), p, p + 3);
                if (outBytes == 4)
                    out.push_back(bpp == 4 ? p[3] : 255);
            }
        return out;
    }
};

// Runs a shell command; its standard output, and whether it exited with 0.
inline std::string RunCommand(const std::string& command, bool* ok = nullptr) {
    std::string output;
    FILE* pipe = ::popen(command.c_str(), "r");
    if (!pipe) {
        if (ok)
            *ok = false;
        return output;
    }
    char buffer[65536];
    size_t n;
    while ((n = std::fread(buffer, 1, sizeof buffer, pipe)) > 0)
        output.append(buffer, n);
    const int status = ::pclose(pipe);
    if (ok)
        *ok = status == 0;
    return output;
}

// Every frame of the file decoded by ffmpeg, upright, as rgb24 or rgba bytes.
inline std::vector<unsigned char> DecodeFrames(const std::string& file, const char* pixFmt,
                                               bool* ok = nullptr) {
    const std::string out = RunCommand(
        "ffmpeg -v error -i '" + file + "' -f rawvideo -pix_fmt " + pixFmt + " - 2>/dev/null", ok);
    return {out.begin(), out.end()};
}

// The stored frames of the file, byte for byte, as ffmpeg reads them without decoding.
inline std::string StoredBytes(const std::string& file) {
    return RunCommand("ffmpeg -v error -i '" + file + "' -c copy -f rawvideo - 2>/dev/null");
}

// ffprobe's view of the video stream: codec_tag_string, r_frame_rate, nb_read_frames,
// width, height, pix_fmt. Empty when ffprobe cannot read the file.
inline std::map<std::string, std::string> ProbeStream(const std::string& file) {
    bool ok = false;
    const std::string out = RunCommand(
        "ffprobe -v error -select_streams v:0 -count_frames -show_entries "
        "stream=codec_name,codec_tag_string,r_frame_rate,nb_read_frames,width,height,pix_fmt "
        "-of default=nw=1 '" +
            file + "' 2>/dev/null",
        &ok);
    std::map<std::string, std::string> values;
    if (!ok)
        return values;
    std::istringstream lines(out);
    std::string line;
    while (std::getline(lines, line)) {
        const auto eq = line.find('=');
        if (eq != std::string::npos)
            values[line.substr(0, eq)] = line.substr(eq + 1);
    }
    return values;
}

} // namespace vexo::test
