#include "avi_support.h"

#include <cstdio>
#include <sstream>
#include <sys/wait.h>

namespace vexo::test {

void Choose(CAviFile& writer, media::FOURCC code, int32_t quality) {
    writer.CodecVars.dwFlags = media::ICMF_COMPVARS_VALID;
    writer.CodecVars.fccType = media::ICTYPE_VIDEO;
    writer.CodecVars.fccHandler = code;
    writer.CodecVars.lQ = quality;
    writer.CodecVars.hic = media::ICOpen(media::ICTYPE_VIDEO, code, media::ICMODE_COMPRESS);
}

bool Offered(media::FOURCC code) {
    if (media::ICIsUncompressed(code))
        return true;
    media::HIC hic = media::ICOpen(media::ICTYPE_VIDEO, code, media::ICMODE_COMPRESS);
    media::ICClose(hic);
    return hic != nullptr;
}

OwnedImage MakeImage(int width, int height, int bytesPerPixel,
                     const std::function<uint8_t(int, int, int)>& pixel) {
    OwnedImage owned;
    owned.pixels.resize(static_cast<size_t>(width) * height * bytesPerPixel);
    size_t at = 0;
    for (int row = 0; row < height; ++row)
        for (int x = 0; x < width; ++x)
            for (int c = 0; c < bytesPerPixel; ++c)
                owned.pixels[at++] = pixel(x, row, c);
    owned.image =
        TgaImage{bytesPerPixel, width, height, static_cast<int32_t>(at), owned.pixels.data()};
    return owned;
}

OwnedImage TestPicture(int width, int height, int bytesPerPixel, int seed) {
    return MakeImage(width, height, bytesPerPixel, [=](int x, int row, int c) -> uint8_t {
        switch (c) {
        case 0: // red grows towards the top
            return static_cast<uint8_t>(row * 200 / height + seed * 7);
        case 1: // green grows towards the right
            return static_cast<uint8_t>(x * 230 / width + seed * 3);
        case 2: // blue: a bright block in the bottom-left corner
            return static_cast<uint8_t>(x < width / 4 && row < height / 4 ? 220 : 30 + seed);
        default: // alpha varies too, so that a lost alpha byte shows
            return static_cast<uint8_t>(255 - (x + row + seed) % 64);
        }
    });
}

std::string Upright(const TgaImage& image, bool withAlpha) {
    std::string out;
    const int bpp = image.BytesPerPixel;
    for (int row = image.Height - 1; row >= 0; --row) {
        const unsigned char* p = image.Pixels + static_cast<size_t>(row) * image.Width * bpp;
        for (int x = 0; x < image.Width; ++x, p += bpp) {
            out.append(reinterpret_cast<const char*>(p), 3);
            if (withAlpha)
                out.push_back(static_cast<char>(bpp == 4 ? p[3] : 255));
        }
    }
    return out;
}

std::string RunCommand(const std::string& command, int* exitCode) {
    std::string out;
    FILE* pipe = ::popen(command.c_str(), "r");
    if (!pipe) {
        if (exitCode)
            *exitCode = -1;
        return out;
    }
    char chunk[65536];
    size_t got;
    while ((got = std::fread(chunk, 1, sizeof chunk, pipe)) > 0)
        out.append(chunk, got);
    const int status = ::pclose(pipe);
    if (exitCode)
        *exitCode = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    return out;
}

std::string DecodeFrames(const std::string& aviPath, const std::string& pixelFormat) {
    return RunCommand("ffmpeg -nostdin -v error -i '" + aviPath + "' -f rawvideo -pix_fmt " +
                      pixelFormat + " - 2>/dev/null");
}

std::map<std::string, std::string> ProbeStream(const std::string& aviPath,
                                               const std::string& select) {
    std::map<std::string, std::string> entries;
    std::istringstream lines(
        RunCommand("ffprobe -v error -select_streams " + select +
                   " -count_frames -show_entries "
                   "stream=codec_name,codec_tag_string,width,height,r_frame_rate,nb_read_frames,"
                   "extradata_size,sample_rate,channels,nb_frames "
                   "-of default=noprint_wrappers=1 '" +
                   aviPath + "' 2>/dev/null"));
    std::string line;
    while (std::getline(lines, line)) {
        const size_t eq = line.find('=');
        if (eq != std::string::npos)
            entries[line.substr(0, eq)] = line.substr(eq + 1);
    }
    return entries;
}

} // namespace vexo::test
