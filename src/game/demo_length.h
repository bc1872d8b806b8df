// How long a demo plays, in seconds of the game's own time, read from the demo before the
// game plays it: for the progress and the time left of a recording.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace vexo {

// The bytes of a demo, read once from the start to the end.
class DemoSource {
public:
    virtual ~DemoSource() = default;
    // The demo's size in bytes, as its file or its pk3's directory gives it.
    virtual uint64_t Size() const = 0;
    // Reads the next bytes, up to size of them, into data: how many were read, fewer only at
    // the end; nothing when the bytes cannot be read.
    virtual std::optional<size_t> Read(char* data, size_t size) = 0;
};

// The length of a demo in seconds, nothing when it is not known.
//
// A demo of the engine is a series of its network messages as the client received them;
// its length is the time from the first snapshot of the game to the last one, which is as
// far as the engine plays it: to a record that ends the demo, the file's end, or a record
// the file ends inside. A file whose records are damaged (a message longer than the engine
// takes), or that holds no snapshot, has no known length.
//
// A file that does not begin as such a demo does and is text is a demo of the stand-in game
// the tests play (tools/game): its line "length N", else one second per 64 KiB of file, at
// least one second, as the stand-in plays it. Any other file has no known length.
std::optional<double> DemoLength(DemoSource& source);

// The length of the demo file at path.
std::optional<double> DemoFileLength(const std::string& path);

// The length of the demo demoItem of a modification (as its demo list names it), found where
// the engine finds it: in the demos folder of the first of modDirs (ModDirectoryPaths) that
// holds it, loose before packed, and among the pk3 files of a folder in the engine's order
// (the last name first). A packed demo is read from its pk3, inflated when it is deflated.
std::optional<double> ModDemoLength(const std::vector<std::string>& modDirs,
                                    const std::string& demoItem);

} // namespace vexo
