// The failure log. A message box tells the user what failed, in the program's own words; the
// log keeps why: each line names where it came from (a short name such as "avi",
// "collector", "game", "settings") and gives the cause at hand where the failure was found
// (the system's or a library's error text, the path, the step). Lines go to standard error and
// to vexograph.log in the user's state folder ($XDG_STATE_HOME/vexograph/, by default
// ~/.local/state/vexograph/). Past 1 MB the file becomes vexograph.log.1, replacing the one
// before, and a new one begins. Any thread may log.
#pragma once

#include <functional>
#include <string>
#include <string_view>

namespace vexo::platform {

// Logs one line, "component: text" (line breaks in the text become blanks). Leaves errno
// as it was.
void LogFailure(std::string_view component, std::string_view text);

// The log file as it is named now (the state folder is looked up on every line).
std::string LogFilePath();

// The system's text for an error number (errno), on any thread.
std::string SystemErrorText(int error);

// For a program that shows causes with its own errors: every line logged from now on is
// handed to `listener` as "component: text" too (an empty function ends that). The listener
// runs on the logging thread while the log is held, so it must not log.
void SetLogListener(std::function<void(const std::string& line)> listener);
// Whether lines go to standard error (they do unless this turns it off).
void SetLogToStandardError(bool on);

} // namespace vexo::platform
