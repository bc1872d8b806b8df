// What the guard and the recovery after a killed program share.
#pragma once

#include <string>
#include <vector>

#include "run/recording_guard.h"

namespace vexo {

// The journal files' names: owner's process id, its start, a number, and this.
inline constexpr const char* kJournalSuffix = ".journal";

// The configs directly in a folder (any letter case of the folder), without the temporary
// config, sorted.
std::vector<std::string> ConfigsIn(const std::string& folder);

// Puts every config the journal copied back where it changed, with its mode, and removes a
// config made since in the journal's folders. What was done goes to done, one sentence each,
// when given. False when something could not be done (the log says why).
bool PutConfigsBack(const RecordingJournal& journal, std::vector<std::string>* done);

} // namespace vexo
