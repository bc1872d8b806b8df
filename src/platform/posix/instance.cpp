#include "platform/instance.h"

#include <cerrno>
#include <chrono>
#include <csignal>
#include <fstream>
#include <sstream>
#include <string>
#include <thread>
#include <unistd.h>

namespace vexo::platform {

namespace {

// The process's state letter and start time (in clock ticks after boot) from
// /proc/PID/stat. The command name in parentheses may hold blanks and parentheses itself:
// the fields that follow begin after its last ")".
bool ReadStat(int pid, char& state, uint64_t& started) {
    std::ifstream in("/proc/" + std::to_string(pid) + "/stat");
    std::string line;
    if (!std::getline(in, line))
        return false;
    const size_t close = line.rfind(')');
    if (close == std::string::npos)
        return false;
    std::istringstream fields(line.substr(close + 1));
    fields.imbue(std::locale::classic());
    std::string skipped;
    fields >> state;
    // Fields 4 to 21 lie between the state (3) and the start time (22).
    for (int field = 4; field < 22 && fields; ++field)
        fields >> skipped;
    return static_cast<bool>(fields >> started);
}

} // namespace

ProcessIdentity CurrentProcess() {
    return IdentifyProcess(static_cast<int>(::getpid()));
}

ProcessIdentity IdentifyProcess(int pid) {
    if (pid <= 0)
        return {};
    char state = 0;
    uint64_t started = 0;
    if (ReadStat(pid, state, started))
        return state == 'Z' || state == 'X' ? ProcessIdentity{} : ProcessIdentity{pid, started};
    // Without /proc: whether some process has that id, its start unknown.
    if (::kill(pid, 0) == 0 || errno == EPERM)
        return {pid, 0};
    return {};
}

bool IsRunning(const ProcessIdentity& process) {
    return process.pid > 0 && IdentifyProcess(process.pid) == process;
}

bool EndProcess(const ProcessIdentity& process, int waitMs) {
    if (!IsRunning(process))
        return true;
    ::kill(process.pid, SIGKILL);
    const auto until = std::chrono::steady_clock::now() + std::chrono::milliseconds(waitMs);
    while (IsRunning(process)) {
        if (std::chrono::steady_clock::now() >= until)
            return false;
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    return true;
}

} // namespace vexo::platform
