#include "media/avfilter_api.h"

#include <memory>
#include <mutex>

#include "platform/shared_library.h"

namespace vexo::media {

namespace {

#define VEXO_TEXT(x) #x
#define VEXO_NUMBER_TEXT(x) VEXO_TEXT(x)

// The library of the major version the program was built against, whose functions the
// header's declarations describe.
#ifdef _WIN32
constexpr const char* kLibrary = "avfilter-" VEXO_NUMBER_TEXT(LIBAVFILTER_VERSION_MAJOR) ".dll";
#else
constexpr const char* kLibrary = "libavfilter.so." VEXO_NUMBER_TEXT(LIBAVFILTER_VERSION_MAJOR);
#endif

struct Loaded {
    std::unique_ptr<platform::SharedLibrary> library;
    AvFilterApi api{};
    std::string error;
};

Loaded Load() {
    Loaded loaded;
    loaded.library = platform::SharedLibrary::Open(kLibrary, &loaded.error);
    if (!loaded.library)
        return loaded;
    bool all = true;
    auto find = [&](auto& function, const char* name) {
        function = reinterpret_cast<std::remove_reference_t<decltype(function)>>(
            loaded.library->Symbol(name));
        if (!function && all) {
            all = false;
            loaded.error = std::string(kLibrary) + " has no " + name;
        }
    };
    AvFilterApi& a = loaded.api;
    find(a.getByName, "avfilter_get_by_name");
    find(a.graphAlloc, "avfilter_graph_alloc");
    find(a.graphAllocFilter, "avfilter_graph_alloc_filter");
    find(a.graphConfig, "avfilter_graph_config");
    find(a.graphFree, "avfilter_graph_free");
    find(a.initStr, "avfilter_init_str");
    find(a.link, "avfilter_link");
    find(a.buffersrcAddFrameFlags, "av_buffersrc_add_frame_flags");
    find(a.buffersinkGetFrame, "av_buffersink_get_frame");
    if (!all)
        loaded.library.reset();
    return loaded;
}

} // namespace

const AvFilterApi* AvFilter(std::string* why) {
    static const Loaded loaded = Load();
    if (!loaded.library) {
        *why = loaded.error;
        return nullptr;
    }
    return &loaded.api;
}

} // namespace vexo::media
