// libavfilter, loaded the first time a sound is stretched to its picture's length. Only the
// recordings of the engine's own video with another speed than the game's need it; loading
// it with every start would add its thirty-odd libraries (rubberband among them) to the
// start-up of every program of ours.
#pragma once

#include <string>

extern "C" {
#include <libavfilter/avfilter.h>
#include <libavfilter/buffersink.h>
#include <libavfilter/buffersrc.h>
}

namespace vexo::media {

struct AvFilterApi {
    decltype(&avfilter_get_by_name) getByName;
    decltype(&avfilter_graph_alloc) graphAlloc;
    decltype(&avfilter_graph_alloc_filter) graphAllocFilter;
    decltype(&avfilter_graph_config) graphConfig;
    decltype(&avfilter_graph_free) graphFree;
    decltype(&avfilter_init_str) initStr;
    decltype(&avfilter_link) link;
    decltype(&av_buffersrc_add_frame_flags) buffersrcAddFrameFlags;
    decltype(&av_buffersink_get_frame) buffersinkGetFrame;
};

// The library's functions, loaded once for the program's life; null, with why saying what
// failed, when the library or one of its functions cannot be loaded.
const AvFilterApi* AvFilter(std::string* why);

} // namespace vexo::media
