// Fuzzes the pk3 reader: any file must give its entry names or fail with a reason, never
// crash, read out of bounds or ask for memory its claims do not earn.
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <unistd.h>

#include "game/pk3.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    static const std::string path = "/tmp/vexo-fuzz-pk3-" + std::to_string(::getpid()) + ".pk3";
    std::FILE* f = std::fopen(path.c_str(), "wb");
    if (!f)
        std::abort();
    std::fwrite(data, 1, size, f);
    std::fclose(f);
    size_t names = 0, bytes = 0;
    std::string error;
    const bool read = vexo::ReadPk3Names(
        path,
        [&](std::string_view name) {
            ++names;
            bytes += name.size();
        },
        &error);
    // Every name lies inside the file, in a record of its own.
    if (bytes > size || names * 46 > size || (!read && error.empty()))
        std::abort();
    return 0;
}
