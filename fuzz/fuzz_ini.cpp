// Fuzzes the settings file reader and writer: any file content must read without a crash,
// and a value written must read back unchanged while the file keeps its other lines.
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <unistd.h>

#include "settings/ini.h"

namespace {

std::string TempPath() {
    static const std::string path = "/tmp/vexo-fuzz-ini-" + std::to_string(::getpid()) + ".ini";
    return path;
}

void Write(const std::string& path, const uint8_t* data, size_t size) {
    std::FILE* f = std::fopen(path.c_str(), "wb");
    if (!f)
        std::abort();
    std::fwrite(data, 1, size, f);
    std::fclose(f);
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    using namespace vexo;
    const std::string path = TempPath();
    Write(path, data, size);
    const char* sections[] = {"settings", "paths", "codec", "SETTINGS", ""};
    const char* keys[] = {"fps", "avifps", "timescale", "quake", "csd", "sds", ""};
    for (const char* s : sections)
        for (const char* k : keys) {
            std::string text = ReadIniString(path, s, k, "default");
            if (text.size() > 2047)
                std::abort();
            (void)ReadIniInteger(path, s, k, 25);
            (void)ReadIniBool(path, s, k, true);
        }
    // A write of a fresh value must read back exactly, and leave other keys as they read.
    const std::string before = ReadIniString(path, "paths", "quake", "<none>");
    std::string value(reinterpret_cast<const char*>(data), size > 40 ? 40 : size);
    bool writable = value.find_first_of("\r\n") == std::string::npos;
    try {
        WriteIniString(path, "settings", "timescale", value);
        if (!writable)
            std::abort(); // a line break cannot be stored as one value
        if (ReadIniString(path, "settings", "timescale", "<none>") != value.substr(0, 2047))
            std::abort();
        if (ReadIniString(path, "paths", "quake", "<none>") != before)
            std::abort();
    } catch (const EIniFileException&) {
        if (writable)
            std::abort();
    }
    ::unlink(path.c_str());
    return 0;
}
