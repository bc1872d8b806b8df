#include "platform/registry.h"

namespace vexo::platform {

// This system has no registry.
std::string ReadRegistryString(const std::string&, const std::string&) {
    return {};
}

} // namespace vexo::platform
