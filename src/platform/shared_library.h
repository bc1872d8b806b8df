// A shared library opened while the program runs, for what only some runs need: loading it
// at start-up would cost every start the time to load it and everything it depends on.
#pragma once

#include <memory>
#include <string>

namespace vexo::platform {

class SharedLibrary {
public:
    // Opens the library of the file name (searched where the system looks for libraries);
    // null, with error saying why, when it cannot be loaded.
    static std::unique_ptr<SharedLibrary> Open(const std::string& name, std::string* error);
    ~SharedLibrary();
    SharedLibrary(const SharedLibrary&) = delete;
    SharedLibrary& operator=(const SharedLibrary&) = delete;

    // The address of the library's symbol; null when it has none.
    void* Symbol(const char* name) const;

private:
    explicit SharedLibrary(void* handle) : handle_(handle) {}
    void* handle_;
};

} // namespace vexo::platform
