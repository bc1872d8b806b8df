// Fuzzes the screenshot reader: any file must load as a whole image or fail with a code,
// never crash or read out of bounds.
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <unistd.h>

#include "frames/tga.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    static const std::string path = "/tmp/vexo-fuzz-tga-" + std::to_string(::getpid()) + ".tga";
    std::FILE* f = std::fopen(path.c_str(), "wb");
    if (!f)
        std::abort();
    std::fwrite(data, 1, size, f);
    std::fclose(f);
    int32_t status = -1;
    vexo::TgaImage* image = vexo::LoadTga(path.c_str(), &status);
    if ((image != nullptr) != (status == vexo::IMG_OK))
        std::abort();
    if (image) {
        const int64_t expected = int64_t{image->Width} * image->Height * image->BytesPerPixel;
        if (image->DataSize != expected || image->Width <= 0 || image->Height <= 0)
            std::abort();
        // Touch every byte so the sanitizer sees a short buffer.
        unsigned sum = 0;
        for (int32_t i = 0; i < image->DataSize; ++i)
            sum += image->Pixels[i];
        vexo::TgaImage* copy = vexo::CopyImage(image);
        if (!copy || copy->DataSize != image->DataSize || (sum == 0xFFFFFFFF))
            std::abort();
        vexo::FreeImage(copy);
    }
    vexo::FreeImage(image);
    return 0;
}
