// FFmpeg's messages into the failure log. FFmpeg reports many failures only in a message
// (which option an encoder refused, what a demuxer found damaged) and hands back a bare code.
#include "media/ffmpeg_log.h"

#include <cstdarg>
#include <cstdio>
#include <mutex>

#include "platform/log.h"

extern "C" {
#include <libavutil/error.h>
#include <libavutil/log.h>
}

namespace vexo::media {

namespace {

// A message may come in pieces; the line is logged once its end has come.
void LogFfmpegMessage(void* object, int level, const char* format, va_list args) {
    if (level > AV_LOG_ERROR)
        return;
    thread_local std::string pending;
    char piece[1024];
    std::vsnprintf(piece, sizeof piece, format, args);
    pending += piece;
    if (pending.empty() || (pending.back() != '\n' && pending.size() < 4096))
        return;
    while (!pending.empty() && pending.back() == '\n')
        pending.pop_back();
    const AVClass* type = object ? *static_cast<const AVClass* const*>(object) : nullptr;
    const char* name = type && type->item_name ? type->item_name(object) : nullptr;
    platform::LogFailure("ffmpeg", name && *name ? std::string(name) + ": " + pending : pending);
    pending.clear();
}

} // namespace

std::string FfmpegErrorText(int error) {
    char text[AV_ERROR_MAX_STRING_SIZE] = {};
    av_strerror(error, text, sizeof text);
    return text;
}

void LogFfmpegErrors() {
    static std::once_flag routed;
    std::call_once(routed, [] { av_log_set_callback(LogFfmpegMessage); });
}

} // namespace vexo::media
