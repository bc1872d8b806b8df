#include "platform/shared_library.h"

#include <dlfcn.h>

namespace vexo::platform {

std::unique_ptr<SharedLibrary> SharedLibrary::Open(const std::string& name, std::string* error) {
    void* handle = ::dlopen(name.c_str(), RTLD_NOW | RTLD_LOCAL);
    if (!handle) {
        const char* why = ::dlerror();
        *error = why ? why : name + ": cannot be loaded";
        return nullptr;
    }
    return std::unique_ptr<SharedLibrary>(new SharedLibrary(handle));
}

SharedLibrary::~SharedLibrary() {
    ::dlclose(handle_);
}

void* SharedLibrary::Symbol(const char* name) const {
    return ::dlsym(handle_, name);
}

} // namespace vexo::platform
