// Fuzzes the game script builder: whatever the demo name and the capture texts hold, the
// script either refuses them or comes out as exactly nine commands, the demo command last
// and naming the demo whole.
#include <cstdint>
#include <cstdlib>
#include <string>

#include "game/game_script.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    using namespace vexo;
    const std::string input(reinterpret_cast<const char*>(data), size);
    // Three texts separated by NUL bytes: demo item, capture rate, timescale.
    size_t a = input.find('\0');
    size_t b = a == std::string::npos ? std::string::npos : input.find('\0', a + 1);
    const std::string demoItem = input.substr(0, a);
    const std::string rate = a == std::string::npos ? "" : input.substr(a + 1, b - a - 1);
    const std::string timescale = b == std::string::npos ? "" : input.substr(b + 1);
    const std::string demo = DemoBaseName(demoItem);
    if (demo.size() > demoItem.size() || demoItem.compare(0, demo.size(), demo) != 0)
        std::abort();
    if (!IsSafeDemoBaseName(demo))
        return 0;
    CaptureOptions options;
    options.CaptureRate = rate.find_first_of("\r\n") == std::string::npos ? rate : "25";
    options.TimeScale = timescale.find_first_of("\r\n") == std::string::npos ? timescale : "1";
    options.ModeIndex = size ? data[0] % 14 - 1 : -1;
    const std::string script = BuildGameScript(options, demo);
    size_t lines = 0;
    for (char ch : script)
        lines += ch == '\n';
    if (lines != 9 || script.front() != '\n')
        std::abort();
    const std::string last = "demo \"" + demo + "\"\n";
    if (script.size() < last.size() ||
        script.compare(script.size() - last.size(), last.size(), last))
        std::abort();
    return 0;
}
