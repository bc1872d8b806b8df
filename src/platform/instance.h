// Which process is which, across a restart of the program: a process id alone may be given
// to another process once the first has ended, so a process is named by its id together with
// the time it started.
#pragma once

#include <cstdint>

namespace vexo::platform {

struct ProcessIdentity {
    int pid = 0;
    uint64_t started = 0; // when it started, in the system's own units (0 where unknown)
    bool operator==(const ProcessIdentity&) const = default;
};

// This program's own process.
ProcessIdentity CurrentProcess();
// The process that runs under pid now; pid 0 when there is none (one that has ended and not
// yet been reaped counts as none).
ProcessIdentity IdentifyProcess(int pid);
// Whether that very process still runs.
bool IsRunning(const ProcessIdentity& process);
// Ends that very process at once (it gets no chance to refuse) and waits up to waitMs
// milliseconds for it to be gone. True when it does not run any more.
bool EndProcess(const ProcessIdentity& process, int waitMs);

} // namespace vexo::platform
