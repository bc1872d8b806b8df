// Joining a folder and a name into a path.
#pragma once

#include <string>
#include <string_view>

namespace vexo {

// dir + sep + name, exactly as written: nothing is trimmed or normalised, so a dir that
// already ends in sep gives a doubled separator and an empty dir gives sep + name. The game
// and the file system take such paths as they are, and the program hands them on unchanged.
std::string JoinPath(std::string_view dir, std::string_view name, char sep);
// dir + sep + sub + sep + name, in the same way.
std::string JoinPath(std::string_view dir, std::string_view sub, std::string_view name, char sep);

} // namespace vexo
