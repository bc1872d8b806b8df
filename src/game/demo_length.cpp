#include "game/demo_length.h"

#include <algorithm>
#include <charconv>
#include <cmath>
#include <string_view>

#include "game/config_commands.h"
#include "game/demo_message.h"
#include "game/pk3.h"
#include "platform/file_reader.h"
#include "platform/fs.h"
#include "util/little_endian.h"
#include "util/no_case.h"
#include "util/path.h"

namespace vexo {

namespace {

// The longest message the engine takes from a demo; a record that claims more ends the demo
// with an error.
constexpr int32_t kLongestMessage = 16384;
// The stand-in game reads the commands of a demo from its first bytes, this many of them,
// and plays any other demo for one second per this many bytes.
constexpr size_t kHeadSize = 4096;
constexpr double kStandInBytesPerSecond = 65536;

// The operations of a message that lead to its snapshot.
constexpr int kNop = 1;
constexpr int kServerCommand = 5;
constexpr int kSnapshot = 7;

// The server's time of the snapshot a message carries, in milliseconds. A message the server
// sends while the game runs is the reliable commands' acknowledgement, the server commands
// not yet acknowledged, then the snapshot; any other (the first, with the game's state) has
// none that is read here.
std::optional<int32_t> SnapshotTime(std::string_view message) {
    MessageReader in(message);
    if (!in.Long())
        return std::nullopt;
    for (;;) {
        const std::optional<int> op = in.Byte();
        if (op == kNop)
            continue;
        if (op == kServerCommand) {
            if (!in.Long() || !in.SkipString())
                return std::nullopt;
            continue;
        }
        if (op == kSnapshot)
            return in.Long();
        return std::nullopt;
    }
}

// The source read from its start again, its first bytes, already read, served from head.
class Bytes {
public:
    Bytes(DemoSource& source, std::string_view head) : source_(source), head_(head) {}

    // Reads size bytes, or fewer where the demo ends: how many; nothing on a read error.
    std::optional<size_t> Read(char* data, size_t size) {
        size_t got = std::min(size, head_.size());
        std::copy_n(head_.data(), got, data);
        head_.remove_prefix(got);
        while (got < size) {
            const std::optional<size_t> more = source_.Read(data + got, size - got);
            if (!more)
                return std::nullopt;
            if (*more == 0)
                break;
            got += *more;
        }
        return got;
    }

private:
    DemoSource& source_;
    std::string_view head_;
};

// The length of an engine's demo: its records are [message sequence][message length]
// [message], the numbers 32-bit little-endian; a length of -1 ends the demo. Each message is
// read into a buffer the engine's size at most, whatever the file claims.
std::optional<double> EngineDemoLength(Bytes& in) {
    std::optional<int32_t> first, last;
    std::string message;
    for (;;) {
        char header[8];
        std::optional<size_t> got = in.Read(header, sizeof header);
        if (!got)
            return std::nullopt;
        if (*got < sizeof header)
            break; // the file's end; the engine ends the demo there too
        const int32_t length =
            static_cast<int32_t>(Le32(std::string_view(header, sizeof header), 4));
        if (length == -1)
            break;
        if (length < 0 || length > kLongestMessage)
            return std::nullopt;
        message.resize(static_cast<size_t>(length));
        got = in.Read(message.data(), message.size());
        if (!got)
            return std::nullopt;
        if (*got < message.size())
            break; // a record the file ends inside: the engine plays what came before
        if (const std::optional<int32_t> time = SnapshotTime(message)) {
            if (!first)
                first = time;
            last = time;
        }
    }
    if (!first || *last < *first)
        return std::nullopt;
    return (static_cast<int64_t>(*last) - *first) / 1000.0;
}

// A demo begins as the engine's when its first record claims a message the engine takes,
// or is the record that ends a demo. Such a record holds zero bytes (or is all ones), which
// no text does.
bool BeginsAsEngineDemo(std::string_view head) {
    if (head.size() < 8)
        return false;
    const int32_t length = static_cast<int32_t>(Le32(head, 4));
    return length >= -1 && length <= kLongestMessage;
}

bool IsText(std::string_view head) {
    return std::none_of(head.begin(), head.end(), [](char c) {
        const auto byte = static_cast<unsigned char>(c);
        return byte < 0x20 && (byte < '\t' || byte > '\r');
    });
}

// The seconds of the first "length N" command among the stand-in's demo commands, which are
// written as a game config is.
std::optional<double> LengthCommand(std::string_view head) {
    std::optional<double> found;
    ForEachCommand(head, [&](const std::vector<std::string>& words) {
        if (words.size() < 2 || !EqualNoCase(words[0], "length"))
            return false;
        std::string_view number = words[1];
        if (!number.empty() && number.front() == '+')
            number.remove_prefix(1);
        double seconds = -1;
        const auto [end, error] = std::from_chars(number.data(), number.data() + number.size(),
                                                  seconds, std::chars_format::general);
        if (error != std::errc() || end == number.data() || !(seconds >= 0) ||
            !std::isfinite(seconds))
            return false;
        found = seconds;
        return true;
    });
    return found;
}

class FileSource : public DemoSource {
public:
    bool Open(const std::string& path) {
        std::string error;
        return file_.Open(path, &error);
    }
    uint64_t Size() const override { return file_.Size(); }
    std::optional<size_t> Read(char* data, size_t size) override {
        size = static_cast<size_t>(std::min<uint64_t>(size, file_.Size() - next_));
        std::string error;
        if (size > 0 && !file_.ReadAt(next_, size, data, &error))
            return std::nullopt;
        next_ += size;
        return size;
    }

private:
    platform::FileReader file_;
    uint64_t next_ = 0;
};

class PackedSource : public DemoSource {
public:
    bool Open(const std::string& pk3, const std::string& demoItem) {
        std::string error;
        return entry_.Open(
            pk3,
            [&demoItem](std::string_view name) {
                return EqualNoCase(PackedDemoName(name), demoItem);
            },
            &error);
    }
    uint64_t Size() const override { return entry_.Size(); }
    std::optional<size_t> Read(char* data, size_t size) override {
        std::string error;
        return entry_.Read(data, size, &error);
    }

private:
    Pk3Entry entry_;
};

} // namespace

std::optional<double> DemoLength(DemoSource& source) {
    std::string head(static_cast<size_t>(std::min<uint64_t>(source.Size(), kHeadSize)), '\0');
    Bytes all(source, {});
    const std::optional<size_t> got = all.Read(head.data(), head.size());
    if (!got)
        return std::nullopt;
    head.resize(*got);
    if (BeginsAsEngineDemo(head)) {
        Bytes again(source, head);
        return EngineDemoLength(again);
    }
    if (!IsText(head))
        return std::nullopt;
    if (const std::optional<double> seconds = LengthCommand(head))
        return seconds;
    return std::max(1.0, static_cast<double>(source.Size()) / kStandInBytesPerSecond);
}

std::optional<double> DemoFileLength(const std::string& path) {
    FileSource file;
    if (!file.Open(path))
        return std::nullopt;
    return DemoLength(file);
}

std::optional<double> ModDemoLength(const std::vector<std::string>& modDirs,
                                    const std::string& demoItem) {
    for (const std::string& dir : modDirs) {
        const std::string loose =
            platform::ResolvePathCase(JoinPath(dir, "demos", demoItem, platform::kPathSep));
        if (platform::FileExists(loose))
            return DemoFileLength(loose);
        std::vector<std::string> pk3s =
            platform::FindMatches(JoinPath(dir, "*.pk3", platform::kPathSep), false);
        // The engine reads a folder's pk3 files in the order of their names without regard
        // to case and looks in the last one read first.
        std::sort(pk3s.begin(), pk3s.end(), [](const std::string& a, const std::string& b) {
            return std::lexicographical_compare(
                a.begin(), a.end(), b.begin(), b.end(),
                [](char x, char y) { return LowerAscii(x) < LowerAscii(y); });
        });
        std::reverse(pk3s.begin(), pk3s.end());
        for (const std::string& name : pk3s) {
            PackedSource packed;
            if (packed.Open(JoinPath(dir, name, platform::kPathSep), demoItem))
                return DemoLength(packed);
        }
    }
    return std::nullopt;
}

} // namespace vexo
