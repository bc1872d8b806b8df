#include "virtual_display.h"

#include <algorithm>
#include <chrono>
#include <csignal>
#include <cstdlib>
#include <thread>

#include "platform/process.h"

namespace vexo::record {

namespace {

// How long Xvfb may take to name its display.
constexpr int kStartMs = 15000;

bool AllDigits(const std::string& text) {
    return !text.empty() &&
           std::all_of(text.begin(), text.end(), [](char c) { return c >= '0' && c <= '9'; });
}

} // namespace

bool VirtualDisplay::Start(int width, int height, std::string& error) {
    const std::string xvfb = platform::FindProgram("Xvfb");
    if (xvfb.empty()) {
        error = "Xvfb is not installed (Debian's package xvfb)";
        return false;
    }
    const std::string screen =
        std::to_string(std::max(width, 1024)) + "x" + std::to_string(std::max(height, 768)) + "x24";
    // Xvfb picks a free display and writes its number on its standard output. A process
    // group of its own: a Ctrl-C at the recorder's terminal is the recorder's to handle, and
    // the display must outlive it until the recorder has ended its game.
    platform::ProcessOptions options;
    options.CaptureOutput = true;
    options.EndWithProgram = true;
    options.EndAskingFirst = true; // so that it removes its lock file and socket
    options.NewProcessGroup = true;
    std::optional<platform::Process> started = platform::StartProcess(
        "\"" + xvfb + "\" -displayfd 1 -screen 0 " + screen + " -nolisten tcp", "", options,
        &error);
    if (!started)
        return false;
    xvfb_ = std::make_unique<platform::Process>(std::move(*started));
    const auto until = std::chrono::steady_clock::now() + std::chrono::milliseconds(kStartMs);
    std::string number;
    while (number.empty() && std::chrono::steady_clock::now() < until) {
        for (const std::string& line : xvfb_->TakeOutputLines())
            if (number.empty() && AllDigits(line))
                number = line;
        if (number.empty() && xvfb_->Wait(20))
            break; // it ended without naming a display
    }
    if (number.empty()) {
        error = "Xvfb did not start (it gave no display number within " +
                std::to_string(kStartMs / 1000) + " seconds)";
        Stop();
        return false;
    }
    name_ = ":" + number;
    ::setenv("DISPLAY", name_.c_str(), 1);
    return true;
}

void VirtualDisplay::Stop() {
    if (!xvfb_)
        return;
    // Asked to end, so that it removes its lock file and socket.
    if (!xvfb_->Wait(0))
        ::kill(xvfb_->Id(), SIGTERM);
    if (!xvfb_->Wait(5000)) {
        xvfb_->Terminate();
        xvfb_->Wait(-1);
    }
    xvfb_->Close();
    xvfb_.reset();
    if (!name_.empty())
        ::unsetenv("DISPLAY");
    name_.clear();
}

} // namespace vexo::record
