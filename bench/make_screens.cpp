// Writes a folder of numbered TGA screenshots for the benchmarks: a textured scene with
// moving shapes, so that compressors see realistic work rather than flat colour.
//   vexo-make-screens DIR COUNT WIDTH HEIGHT [BITS]
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

int main(int argc, char** argv) {
    if (argc < 5) {
        std::fprintf(stderr, "usage: vexo-make-screens DIR COUNT WIDTH HEIGHT [BITS]\n");
        return 2;
    }
    const std::string dir = argv[1];
    const int count = std::atoi(argv[2]);
    const int width = std::atoi(argv[3]);
    const int height = std::atoi(argv[4]);
    const int bits = argc > 5 ? std::atoi(argv[5]) : 24;
    if (count < 1 || width < 1 || height < 1 || width > 65535 || height > 65535 ||
        (bits != 24 && bits != 32)) {
        std::fprintf(stderr, "vexo-make-screens: bad arguments\n");
        return 2;
    }
    const int bpp = bits / 8;
    // A fixed texture of noise and gradients, scrolled a little each frame.
    std::vector<uint8_t> texture(static_cast<size_t>(width) * height * 3);
    uint32_t seed = 12345;
    for (int y = 0; y < height; ++y)
        for (int x = 0; x < width; ++x) {
            seed = seed * 1664525u + 1013904223u;
            const int noise = static_cast<int>((seed >> 24) & 15);
            uint8_t* p = &texture[(static_cast<size_t>(y) * width + x) * 3];
            p[0] = static_cast<uint8_t>((x * 255 / width + noise) & 255);
            p[1] = static_cast<uint8_t>((y * 255 / height + noise) & 255);
            p[2] = static_cast<uint8_t>(((x ^ y) & 63) + noise * 4);
        }
    std::vector<uint8_t> row(static_cast<size_t>(width) * bpp);
    for (int n = 0; n < count; ++n) {
        char name[64];
        std::snprintf(name, sizeof name, "/shot%04d.tga", n);
        std::FILE* f = std::fopen((dir + name).c_str(), "wb");
        if (!f) {
            std::perror((dir + name).c_str());
            return 1;
        }
        uint8_t header[18] = {};
        header[2] = 2;
        header[12] = width & 255;
        header[13] = width >> 8;
        header[14] = height & 255;
        header[15] = height >> 8;
        header[16] = static_cast<uint8_t>(bits);
        header[17] = bits == 32 ? 8 : 0;
        std::fwrite(header, 1, sizeof header, f);
        const int shift = (n * 3) % width;
        const int cx = static_cast<int>(width / 2 + std::sin(n / 10.0) * width / 3);
        const int cy = static_cast<int>(height / 2 + std::cos(n / 13.0) * height / 3);
        const int radius = height / 8;
        for (int y = 0; y < height; ++y) {
            for (int x = 0; x < width; ++x) {
                const uint8_t* t =
                    &texture[(static_cast<size_t>(y) * width + (x + shift) % width) * 3];
                uint8_t* p = &row[static_cast<size_t>(x) * bpp];
                const int dx = x - cx, dy = y - cy;
                if (dx * dx + dy * dy < radius * radius) {
                    p[0] = 40;
                    p[1] = static_cast<uint8_t>(200 - (n & 63));
                    p[2] = 230;
                } else {
                    p[0] = t[0];
                    p[1] = t[1];
                    p[2] = t[2];
                }
                if (bpp == 4)
                    p[3] = 255;
            }
            std::fwrite(row.data(), 1, row.size(), f);
        }
        if (std::fclose(f) != 0) {
            std::perror((dir + name).c_str());
            return 1;
        }
    }
    return 0;
}
