// A virtual display (Xvfb) for the game on a machine without a screen: started by the
// recorder, named in DISPLAY for the games it starts, and ended with the recorder, however
// the recorder ends (when it is killed, the system ends the display).
#pragma once

#include <memory>
#include <string>

#include "platform/process.h"

namespace vexo::record {

class VirtualDisplay {
public:
    VirtualDisplay() = default;
    ~VirtualDisplay() { Stop(); }
    VirtualDisplay(const VirtualDisplay&) = delete;
    VirtualDisplay& operator=(const VirtualDisplay&) = delete;

    // Starts Xvfb with a screen of at least width x height and sets DISPLAY to it. False,
    // with why in error, when it cannot be started.
    bool Start(int width, int height, std::string& error);
    // Ends it and waits for it; nothing when none runs.
    void Stop();
    // ":N" while it runs.
    const std::string& Name() const { return name_; }

private:
    std::unique_ptr<platform::Process> xvfb_;
    std::string name_;
};

} // namespace vexo::record
