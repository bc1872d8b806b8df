// Private-profile (INI) files, as the Windows profile functions read and write them:
// "[section]" lines followed by "key=value" lines. Section and key names are matched without
// regard to letter case; a key that exists is replaced in place; a missing key is added at
// the end of its section, a missing section at the end of the file. Every other line,
// comment and blank line is kept as it was.
#pragma once

#include <optional>
#include <string>

namespace vexo::platform {

// The stored value of section/key, or nothing when the file, the section or the key is
// missing. Blanks around the value are dropped; a value written with surrounding blanks or
// quotes comes back exactly as written (the writer quotes such values). At most maxChars
// characters are returned.
std::optional<std::string> ReadProfileString(const std::string& file, const std::string& section,
                                             const std::string& key, size_t maxChars = 2047);

// Stores value under section/key. The file is rewritten whole by ReplaceFileText: through a
// symbolic link into its target, with its mode kept, never half-written. False when it
// cannot be written, also when the file exists but may not be written.
bool WriteProfileString(const std::string& file, const std::string& section, const std::string& key,
                        const std::string& value);

} // namespace vexo::platform
