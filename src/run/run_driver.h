// The Start action: records every demo of a request into an AVI file of its own.
#pragma once

#include "run/run_request.h"
#include "run/run_texts.h"

namespace vexo {

class CAviFile;

// The whole recording run, on the calling thread: the checks, then every demo of the
// request in turn, reported to the observer. The writer is the program's one AVI writer.
void RunRecording(const RunRequest& request, RunObserver& observer, CAviFile& writer);

// Tests shorten the time a game may record nothing before it is ended (seconds; 0 restores
// the program's own).
void SetStallSecondsForTesting(int seconds);

} // namespace vexo
