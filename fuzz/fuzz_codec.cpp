// Fuzzes the stored compressor choice: base64 decoding of any text, and loading a "codec"
// section whose values are arbitrary bytes.
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <unistd.h>
#include <vector>

#include "media/vfw.h"
#include "settings/codec_settings.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    using namespace vexo;
    std::string text(reinterpret_cast<const char*>(data), size);
    // Decoding never writes past its capacity; the guard bytes must stay.
    for (int capacity : {0, 1, 5, 64}) {
        std::vector<unsigned char> buffer(static_cast<size_t>(capacity) + 8, 0xAB);
        Base64Decode(buffer.data(), text.c_str(), capacity);
        for (size_t i = static_cast<size_t>(capacity); i < buffer.size(); ++i)
            if (buffer[i] != 0xAB)
                std::abort();
    }
    // Encoding then decoding gives the bytes back.
    std::vector<char> encoded(((size + 2) / 3) * 4 + 1);
    Base64Encode(encoded.data(), data, static_cast<int>(size));
    std::vector<unsigned char> decoded(size + 1);
    Base64Decode(decoded.data(), encoded.data(), static_cast<int>(size));
    if (size && std::memcmp(decoded.data(), data, size) != 0)
        std::abort();

    static const std::string path = "/tmp/vexo-fuzz-codec-" + std::to_string(::getpid()) + ".ini";
    std::FILE* f = std::fopen(path.c_str(), "wb");
    if (!f)
        std::abort();
    std::fputs("[codec]\n", f);
    std::fwrite(data, 1, size, f);
    std::fclose(f);
    media::COMPVARS vars;
    ResetCodecSettings(&vars, true);
    LoadCodecSettings(path, &vars);
    media::ICCompressorFree(&vars);
    return 0;
}
