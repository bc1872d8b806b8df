// The system registry, read only, below HKEY_LOCAL_MACHINE.
#pragma once

#include <string>

namespace vexo::platform {

// One string value; the empty text where the key or value is missing, or where the system
// has no registry.
std::string ReadRegistryString(const std::string& keyPath, const std::string& valueName);

} // namespace vexo::platform
