// The lines vexo-record writes for programs: one JSON object per demo (--json), and the
// events a job of --jobs tells the recorder that started it.
#pragma once

#include <map>
#include <optional>
#include <string>

#include "run/run_request.h"

namespace vexo::record {

// What became of a demo: "recorded", "failed", or "stopped" (by a signal, during the demo or
// before its turn).
std::string ResultWord(const DemoReport& report, bool stopped);

// One line, without its line end: {"demo": ..., "video": ..., "frames": ...,
// "video_seconds": ..., "seconds_taken": ..., "sound": ..., "result": ..., "reason": ...}.
// Numbers are written the same in every locale.
std::string ReportJson(const DemoReport& report, bool stopped);

// A JSON string literal, quotes included.
std::string JsonString(const std::string& text);

// The members of a flat JSON object (strings, numbers, true, false, null), each value as
// text: a string's characters, anything else as written. Nothing for a line that is not
// such an object.
std::optional<std::map<std::string, std::string>> ParseFlatJson(const std::string& line);

// The report a line of ReportJson stands for; nothing for another line.
std::optional<DemoReport> ReportFromJson(const std::map<std::string, std::string>& members);

} // namespace vexo::record
