// The captured output of a process (ProcessOptions::CaptureOutput): a thread reads the pipe
// as the process writes it and keeps whole lines until they are taken. Shared by the start of
// a process, which makes the pipe and the thread, and the process object, which stops them.
#pragma once

#include <deque>
#include <memory>
#include <mutex>
#include <string>
#include <thread>

#include "platform/process.h"

namespace vexo::platform {

struct Process::Output {
    int fd = -1;               // the pipe's read end
    int stopFds[2] = {-1, -1}; // a byte written to stopFds[1] stops the reader
    std::thread reader;
    std::mutex mutex;
    std::deque<std::string> lines;
    std::string partial;
    bool closed = false; // the process closed its output; everything it wrote is in lines

    ~Output();

    void Add(std::string line);

    // Reads until the process closes its output or the owner asks to stop.
    static void Read(const std::shared_ptr<Output>& self);
};

} // namespace vexo::platform
