#include "platform/fs.h"

#include <algorithm>
#include <cerrno>
#include <climits>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <dirent.h>
#include <fcntl.h>
#include <filesystem>
#include <fstream>
#include <mutex>
#include <optional>
#include <pwd.h>
#include <sys/stat.h>
#include <time.h>
#include <unistd.h>

#include "util/no_case.h"

namespace vexo::platform {

namespace {

bool MatchFrom(const char* n, const char* p) {
    // Iterative matcher with single-star backtracking.
    const char* starP = nullptr;
    const char* starN = nullptr;
    while (*n) {
        if (*p == '?' || (*p && *p != '*' && LowerAscii(*p) == LowerAscii(*n))) {
            ++n;
            ++p;
        } else if (*p == '*') {
            starP = p++;
            starN = n;
        } else if (starP) {
            p = starP + 1;
            n = ++starN;
        } else {
            return false;
        }
    }
    while (*p == '*')
        ++p;
    return *p == 0;
}

bool StatOf(const std::string& path, struct stat& st) {
    if (::stat(path.c_str(), &st) == 0)
        return true;
    std::string resolved = ResolvePathCase(path);
    return resolved != path && ::stat(resolved.c_str(), &st) == 0;
}

std::mutex gProgramDirMutex;
std::string gProgramDirOverride;

// Where a write to a file really goes: the file itself, or the end of the chain of symbolic
// links it is (a link to a missing file names the file to make).
std::string LinkTarget(const std::string& path) {
    std::string target = path;
    for (int hops = 0; hops < 40; ++hops) {
        char buffer[PATH_MAX];
        const ssize_t n = ::readlink(target.c_str(), buffer, sizeof buffer);
        if (n <= 0 || n >= static_cast<ssize_t>(sizeof buffer))
            return target;
        const std::string link(buffer, static_cast<size_t>(n));
        target = link[0] == '/' ? link : ExtractFilePath(target) + link;
    }
    return target; // a loop of links: the write below fails
}

bool WriteAll(int fd, const std::string& text) {
    size_t done = 0;
    while (done < text.size()) {
        const ssize_t n = ::write(fd, text.data() + done, text.size() - done);
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            return false;
        done += static_cast<size_t>(n);
    }
    return true;
}

// Writes text over an existing file in place, for files that cannot be replaced by a rename.
bool OverwriteInPlace(const std::string& path, const std::string& text) {
    const int fd = ::open(path.c_str(), O_WRONLY | O_TRUNC | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0)
        return false;
    const bool written = WriteAll(fd, text);
    return ::close(fd) == 0 && written;
}

} // namespace

bool WildcardMatch(const std::string& name, const std::string& pattern) {
    if (pattern == "*.*")
        return true;
    return MatchFrom(name.c_str(), pattern.c_str());
}

std::string ResolvePathCase(const std::string& path) {
    struct stat st;
    if (path.empty() || ::lstat(path.c_str(), &st) == 0)
        return path;
    std::string result;
    size_t pos = 0;
    if (path[0] == '/') {
        result = "/";
        pos = 1;
    }
    bool resolving = true;
    while (pos <= path.size()) {
        size_t next = path.find('/', pos);
        if (next == std::string::npos)
            next = path.size();
        std::string part = path.substr(pos, next - pos);
        std::string dir = result.empty() ? std::string(".") : result;
        std::string candidate = result + part;
        if (resolving && !part.empty() && part != "." && part != ".." &&
            ::lstat(candidate.c_str(), &st) != 0) {
            std::vector<std::string> matches;
            if (DIR* d = ::opendir(dir.c_str())) {
                while (dirent* e = ::readdir(d)) {
                    if (EqualNoCase(e->d_name, part))
                        matches.emplace_back(e->d_name);
                }
                ::closedir(d);
            }
            if (matches.empty()) {
                resolving = false;
            } else {
                std::sort(matches.begin(), matches.end());
                candidate = result + matches.front();
            }
        }
        result = candidate;
        if (next == path.size())
            break;
        result += '/';
        pos = next + 1;
    }
    return result;
}

std::vector<std::string> FindMatches(const std::string& pattern, bool includeDirectories) {
    std::vector<std::string> names;
    size_t cut = pattern.find_last_of('/');
    const std::string dir = cut == std::string::npos ? std::string(".")
                            : cut == 0               ? std::string("/")
                                                     : pattern.substr(0, cut);
    const std::string mask = cut == std::string::npos ? pattern : pattern.substr(cut + 1);
    std::string real = ResolvePathCase(dir);
    DIR* d = ::opendir(real.c_str());
    if (!d)
        return names;
    while (dirent* e = ::readdir(d)) {
        std::string name = e->d_name;
        if (name.empty() || name[0] == '.')
            continue; // hidden entries, "." and ".."
        if (!WildcardMatch(name, mask))
            continue;
        struct stat st;
        std::string full = real + "/" + name;
        if (::stat(full.c_str(), &st) != 0)
            continue;
        if (S_ISDIR(st.st_mode) && !includeDirectories)
            continue;
        // Only plain files are files here: opening a pipe, a socket or a device named like a
        // screenshot would block or read endlessly.
        if (!S_ISDIR(st.st_mode) && !S_ISREG(st.st_mode))
            continue;
        names.push_back(std::move(name));
    }
    ::closedir(d);
    return names;
}

int CountMatchingFiles(const std::string& pattern) {
    return static_cast<int>(FindMatches(pattern, false).size());
}

bool FileExists(const std::string& path) {
    struct stat st;
    return !path.empty() && StatOf(path, st) && !S_ISDIR(st.st_mode);
}

bool DirectoryExists(const std::string& path) {
    struct stat st;
    return !path.empty() && StatOf(path, st) && S_ISDIR(st.st_mode);
}

bool PathExists(const std::string& path) {
    struct stat st;
    return !path.empty() && StatOf(path, st);
}

bool IsExecutableFile(const std::string& path) {
    struct stat st;
    return !path.empty() && StatOf(path, st) && S_ISREG(st.st_mode) &&
           ::access(ResolvePathCase(path).c_str(), X_OK) == 0;
}

bool CopyFileReplacing(const std::string& source, const std::string& destination) {
    std::string src = ResolvePathCase(source);
    std::string dst = ResolvePathCase(destination);
    int in = ::open(src.c_str(), O_RDONLY | O_CLOEXEC);
    if (in < 0)
        return false;
    struct stat st;
    if (::fstat(in, &st) != 0 || S_ISDIR(st.st_mode)) {
        ::close(in);
        return false;
    }
    std::string temp = dst + ".vexo-copy";
    int out = ::open(temp.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
    if (out < 0) {
        ::close(in);
        return false;
    }
    bool ok = true;
    char buffer[65536];
    for (;;) {
        ssize_t n = ::read(in, buffer, sizeof buffer);
        if (n == 0)
            break;
        if (n < 0) {
            ok = false;
            break;
        }
        for (ssize_t done = 0; done < n;) {
            ssize_t w = ::write(out, buffer + done, static_cast<size_t>(n - done));
            if (w <= 0) {
                ok = false;
                break;
            }
            done += w;
        }
        if (!ok)
            break;
    }
    ::close(in);
    if (::close(out) != 0)
        ok = false;
    if (ok && ::rename(temp.c_str(), dst.c_str()) != 0)
        ok = false;
    if (!ok)
        ::unlink(temp.c_str());
    return ok;
}

bool DeleteFileAt(const std::string& path) {
    std::string real = ResolvePathCase(path);
    struct stat st;
    if (::lstat(real.c_str(), &st) != 0 || S_ISDIR(st.st_mode))
        return false;
    return ::unlink(real.c_str()) == 0;
}

bool MoveFileReplacing(const std::string& from, const std::string& to) {
    const std::string source = ResolvePathCase(from);
    struct stat st;
    if (::lstat(source.c_str(), &st) != 0 || S_ISDIR(st.st_mode))
        return false;
    return ::rename(source.c_str(), ResolvePathCase(to).c_str()) == 0;
}

bool ReadFileText(const std::string& path, std::string& text) {
    const int fd = ::open(ResolvePathCase(path).c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0)
        return false;
    std::string read;
    char buffer[65536];
    ssize_t n = 0;
    while ((n = ::read(fd, buffer, sizeof buffer)) != 0) {
        if (n < 0 && errno == EINTR)
            continue;
        if (n < 0)
            break;
        read.append(buffer, static_cast<size_t>(n));
    }
    ::close(fd);
    if (n < 0)
        return false;
    text = std::move(read);
    return true;
}

int FileMode(const std::string& path) {
    struct stat st;
    return StatOf(path, st) ? static_cast<int>(st.st_mode & 07777) : -1;
}

bool SetFileMode(const std::string& path, int mode) {
    return ::chmod(ResolvePathCase(path).c_str(), static_cast<mode_t>(mode & 07777)) == 0;
}

bool CreateDirectoryAt(const std::string& path) {
    return !path.empty() && ::mkdir(ResolvePathCase(path).c_str(), 0755) == 0;
}

bool RemoveEmptyDirectory(const std::string& path) {
    return !path.empty() && ::rmdir(ResolvePathCase(path).c_str()) == 0;
}

FileStamp StampOf(const std::string& path) {
    FileStamp stamp;
    struct stat st;
    if (!path.empty() && ::stat(ResolvePathCase(path).c_str(), &st) == 0) {
        stamp.valid = true;
        stamp.device = st.st_dev;
        stamp.inode = st.st_ino;
        stamp.size = st.st_size;
        stamp.modifiedNs = int64_t{st.st_mtim.tv_sec} * 1000000000 + st.st_mtim.tv_nsec;
        stamp.changedNs = int64_t{st.st_ctim.tv_sec} * 1000000000 + st.st_ctim.tv_nsec;
    }
    return stamp;
}

int64_t WallClockNs() {
    timespec now;
    if (::clock_gettime(CLOCK_REALTIME, &now) != 0)
        return 0;
    return int64_t{now.tv_sec} * 1000000000 + now.tv_nsec;
}

std::string ProgramDirectory() {
    {
        std::lock_guard<std::mutex> lock(gProgramDirMutex);
        if (!gProgramDirOverride.empty())
            return gProgramDirOverride;
    }
    char buffer[PATH_MAX];
    ssize_t n = ::readlink("/proc/self/exe", buffer, sizeof buffer - 1);
    if (n <= 0)
        return "./";
    buffer[n] = 0;
    return ExtractFilePath(buffer);
}

void SetProgramDirectoryForTesting(const std::string& directory) {
    std::lock_guard<std::mutex> lock(gProgramDirMutex);
    gProgramDirOverride = directory;
    if (!gProgramDirOverride.empty() && gProgramDirOverride.back() != kPathSep)
        gProgramDirOverride += kPathSep;
}

std::string ExtractFilePath(const std::string& path) {
    size_t cut = path.find_last_of("\\/:");
    return cut == std::string::npos ? std::string() : path.substr(0, cut + 1);
}

std::string HomeDirectory() {
    std::string home = "/";
    if (const passwd* pw = ::getpwuid(::getuid()); pw && pw->pw_dir && *pw->pw_dir)
        home = pw->pw_dir;
    while (home.size() > 1 && home.back() == '/')
        home.pop_back();
    return home;
}

std::string UserHomeDirectory() {
    std::string home;
    if (const char* env = std::getenv("HOME"); env && env[0] == '/')
        home = env;
    else
        home = HomeDirectory();
    while (home.size() > 1 && home.back() == '/')
        home.pop_back();
    return home;
}

namespace {

// An XDG base folder: the variable when it holds an absolute path (relative values are
// invalid by the XDG base directory rules and are ignored), else the default below home.
std::string XdgHome(const char* variable, const char* belowHome) {
    if (const char* xdg = std::getenv(variable); xdg && xdg[0] == '/') {
        std::string dir = xdg;
        while (dir.size() > 1 && dir.back() == '/')
            dir.pop_back();
        return dir;
    }
    const std::string home = UserHomeDirectory();
    return (home == "/" ? "" : home) + belowHome;
}

} // namespace

std::string UserConfigHome() {
    return XdgHome("XDG_CONFIG_HOME", "/.config");
}

std::string UserStateHome() {
    return XdgHome("XDG_STATE_HOME", "/.local/state");
}

namespace {

// The value a line of a shell file such as user-dirs.dirs gives name when the shell reads
// it: "NAME=value" (no blank around "="), the value between double quotes (a backslash keeps
// the character after it) or up to the first blank.
std::optional<std::string> ShellAssignment(const std::string& line, const std::string& name) {
    size_t at = line.find_first_not_of(" \t");
    if (at == std::string::npos || line.compare(at, name.size() + 1, name + "=") != 0)
        return std::nullopt;
    at += name.size() + 1;
    std::string value;
    if (at == line.size())
        return value;
    if (line[at] != '"')
        return line.substr(at, line.find_first_of(" \t", at) - at);
    for (++at; at < line.size() && line[at] != '"'; ++at) {
        if (line[at] == '\\' && at + 1 < line.size())
            ++at;
        value += line[at];
    }
    return value;
}

} // namespace

std::string UserVideosDirectory() {
    std::ifstream file(UserConfigHome() + "/user-dirs.dirs");
    std::string folder;
    for (std::string line; std::getline(file, line);) {
        std::optional<std::string> value = ShellAssignment(line, "XDG_VIDEOS_DIR");
        if (!value)
            continue; // the last assignment holds, as when the shell reads the file
        for (const char* home : {"$HOME", "${HOME}"}) {
            const size_t length = std::strlen(home);
            if (value->compare(0, length, home) == 0 &&
                (value->size() == length || (*value)[length] == '/'))
                value->replace(0, length, UserHomeDirectory());
        }
        folder = *value;
    }
    while (folder.size() > 1 && folder.back() == '/')
        folder.pop_back();
    return folder.empty() || folder[0] != '/' ? std::string() : folder;
}

bool IsWritableDirectory(const std::string& path) {
    return DirectoryExists(path) && ::access(ResolvePathCase(path).c_str(), W_OK | X_OK) == 0;
}

bool CreateDirectoryPath(const std::string& path) {
    if (path.empty())
        return false;
    std::error_code error;
    std::filesystem::create_directories(path, error);
    return DirectoryExists(path);
}

std::string NormalizePath(const std::string& path) {
    std::string normal = std::filesystem::path(path).lexically_normal().string();
    return normal.empty() ? path : normal;
}

bool ReplaceFileText(const std::string& path, const std::string& text) {
    const std::string target = LinkTarget(path);
    struct stat st;
    const bool exists = ::stat(target.c_str(), &st) == 0;
    if (exists && ::faccessat(AT_FDCWD, target.c_str(), W_OK, AT_EACCESS) != 0)
        return false;
    if (exists && !S_ISREG(st.st_mode))
        return OverwriteInPlace(target, text); // a device or pipe cannot be renamed over

    const std::string temp = target + ".vexo-write";
    ::unlink(temp.c_str());
    const int fd = ::open(temp.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
    if (fd < 0) // a folder that takes no new file, around a file that may be written
        return exists && OverwriteInPlace(target, text);
    bool ok = true;
    if (exists) {
        // Owner first, as a change of owner clears the set-id bits. A user who is not root
        // cannot give the file away; it then stays theirs, as any file they write.
        [[maybe_unused]] const int owned = ::fchown(fd, st.st_uid, st.st_gid);
        ok = ::fchmod(fd, st.st_mode & 07777) == 0;
    }
    ok = WriteAll(fd, text) && ok;
    ok = ::close(fd) == 0 && ok;
    if (!ok || std::rename(temp.c_str(), target.c_str()) != 0) {
        ::unlink(temp.c_str());
        return false;
    }
    return true;
}

} // namespace vexo::platform
