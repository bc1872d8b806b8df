// A temporary directory removed with everything in it when the test ends, and small file
// helpers for tests.
#pragma once

#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>

namespace vexo::test {

class TempDir {
public:
    TempDir() {
        std::string tmpl = (std::filesystem::temp_directory_path() / "vexo-test-XXXXXX").string();
        path_ = ::mkdtemp(tmpl.data()) ? tmpl : std::string();
    }
    ~TempDir() {
        std::error_code ec;
        std::filesystem::remove_all(path_, ec);
    }
    TempDir(const TempDir&) = delete;
    TempDir& operator=(const TempDir&) = delete;

    const std::string& path() const { return path_; }
    // path + "/" + relative
    std::string operator/(const std::string& relative) const { return path_ + "/" + relative; }

private:
    std::string path_;
};

inline void WriteFile(const std::string& path, const std::string& content) {
    std::filesystem::create_directories(std::filesystem::path(path).parent_path());
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out << content;
}

// A game installation at base whose quake3.exe is the stand-in game (program), with a
// pak0.pk3 and three short demos (ten frames each at 25 frames a second) in the
// modification's folder mod.
inline void LayOutStandInGame(const std::string& program, const std::string& base,
                              const std::string& mod) {
    std::filesystem::create_directories(mod + "/demos");
    std::filesystem::copy_file(program, base + "/quake3.exe");
    WriteFile(mod + "/pak0.pk3", "pak");
    for (const char* demo : {"alpha.dm_68", "bravo.dm_68", "charlie.dm_68"})
        WriteFile(mod + "/demos/" + demo, "length 0.4\n");
}

inline std::string ReadFile(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    std::ostringstream all;
    all << in.rdbuf();
    return all.str();
}

} // namespace vexo::test
