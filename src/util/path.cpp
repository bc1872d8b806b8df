#include "util/path.h"

namespace vexo {

std::string JoinPath(std::string_view dir, std::string_view name, char sep) {
    std::string path;
    path.reserve(dir.size() + 1 + name.size());
    path.append(dir).append(1, sep).append(name);
    return path;
}

std::string JoinPath(std::string_view dir, std::string_view sub, std::string_view name, char sep) {
    return JoinPath(JoinPath(dir, sub, sep), name, sep);
}

} // namespace vexo
