#include "media/output_format.h"

#include <algorithm>
#include <cctype>

namespace vexo::media {

namespace {

bool SameNoCase(std::string_view a, std::string_view b) {
    return a.size() == b.size() && std::equal(a.begin(), a.end(), b.begin(), [](char x, char y) {
               return std::tolower(static_cast<unsigned char>(x)) ==
                      std::tolower(static_cast<unsigned char>(y));
           });
}

} // namespace

std::vector<Container> Containers() {
    return {Container::Avi, Container::Matroska, Container::Mp4};
}

std::string ContainerExtension(Container container) {
    switch (container) {
    case Container::Matroska:
        return ".mkv";
    case Container::Mp4:
        return ".mp4";
    case Container::Avi:
        break;
    }
    return ".avi";
}

std::string ContainerName(Container container) {
    switch (container) {
    case Container::Matroska:
        return "Matroska";
    case Container::Mp4:
        return "MP4";
    case Container::Avi:
        break;
    }
    return "AVI";
}

std::string ContainerKey(Container container) {
    switch (container) {
    case Container::Matroska:
        return "mkv";
    case Container::Mp4:
        return "mp4";
    case Container::Avi:
        break;
    }
    return "avi";
}

std::optional<Container> ContainerFromKey(std::string_view key) {
    for (Container container : Containers())
        if (SameNoCase(key, ContainerKey(container)))
            return container;
    return std::nullopt;
}

std::optional<Container> ContainerOfPath(std::string_view path) {
    const size_t dot = path.find_last_of('.');
    if (dot == std::string_view::npos || path.find_first_of("/\\", dot) != std::string_view::npos)
        return std::nullopt;
    return ContainerFromKey(path.substr(dot + 1));
}

std::vector<SoundCodec> SoundsOf(Container container) {
    switch (container) {
    case Container::Matroska:
        return {SoundCodec::Pcm, SoundCodec::Opus};
    case Container::Mp4:
        return {SoundCodec::Aac};
    case Container::Avi:
        break;
    }
    return {SoundCodec::Pcm};
}

std::string SoundName(SoundCodec sound) {
    switch (sound) {
    case SoundCodec::Aac:
        return "AAC";
    case SoundCodec::Opus:
        return "Opus";
    case SoundCodec::Pcm:
        break;
    }
    return "PCM (uncompressed)";
}

std::string SoundKey(SoundCodec sound) {
    switch (sound) {
    case SoundCodec::Aac:
        return "aac";
    case SoundCodec::Opus:
        return "opus";
    case SoundCodec::Pcm:
        break;
    }
    return "pcm";
}

std::optional<SoundCodec> SoundFromKey(std::string_view key) {
    for (SoundCodec sound : {SoundCodec::Pcm, SoundCodec::Aac, SoundCodec::Opus})
        if (SameNoCase(key, SoundKey(sound)))
            return sound;
    return std::nullopt;
}

OutputFormat Fitted(OutputFormat format) {
    const std::vector<SoundCodec> sounds = SoundsOf(format.container);
    if (std::find(sounds.begin(), sounds.end(), format.sound) == sounds.end())
        format.sound = sounds.front();
    return format;
}

} // namespace vexo::media
