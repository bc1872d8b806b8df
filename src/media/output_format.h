// The kind of file a video is written as: its container (AVI, Matroska, MP4) and how its
// sound is stored there. A plain value that the settings keep, a recording's request carries
// and the writer is opened with.
#pragma once

#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace vexo::media {

enum class Container { Avi, Matroska, Mp4 };
enum class SoundCodec { Pcm, Aac, Opus };

struct OutputFormat {
    Container container = Container::Avi;
    SoundCodec sound = SoundCodec::Pcm;
    bool operator==(const OutputFormat&) const = default;
};

// Every container, in the order the dialog offers them.
std::vector<Container> Containers();
// ".avi", ".mkv", ".mp4".
std::string ContainerExtension(Container container);
// The name shown to the user: "AVI", "Matroska", "MP4".
std::string ContainerName(Container container);
// The name stored and typed ("avi", "mkv", "mp4"), and back (letter case ignored).
std::string ContainerKey(Container container);
std::optional<Container> ContainerFromKey(std::string_view key);
// The container a file name's extension stands for (".mkv", ".MP4" ...), if any.
std::optional<Container> ContainerOfPath(std::string_view path);

// The sounds a container takes, its default first: PCM in AVI; PCM or Opus in Matroska; AAC
// in MP4.
std::vector<SoundCodec> SoundsOf(Container container);
// The name shown to the user, and the one stored ("pcm", "aac", "opus") and back.
std::string SoundName(SoundCodec sound);
std::string SoundKey(SoundCodec sound);
std::optional<SoundCodec> SoundFromKey(std::string_view key);
// The format with a sound its container takes: the container's default where the sound given
// does not fit it.
OutputFormat Fitted(OutputFormat format);

} // namespace vexo::media
