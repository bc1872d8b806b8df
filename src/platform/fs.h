// File-system services the program expects of the operating system: existence tests,
// wildcard directory search, copy, delete and directory creation.
//
// Every path handed to these functions may name an entry in a letter case that differs
// from the one on disk (the program lower-cases modification and config names). Where the
// exact path does not exist, it is resolved without regard to case (ResolvePathCase).
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace vexo::platform {

// The separator the program joins paths with on this system.
#ifdef _WIN32
inline constexpr char kPathSep = '\\';
#else
inline constexpr char kPathSep = '/';
#endif

// Wildcard match of a bare name against a pattern with "*" and "?", without regard to
// letter case. "*.*" matches every name, as on Windows.
bool WildcardMatch(const std::string& name, const std::string& pattern);

// Directory search: pattern is a directory, a separator and a wildcard name pattern.
// One directory, never descending; bare names; hidden entries (and names beginning with
// ".") never returned; directories only when includeDirectories is set. The names come
// back in no particular order. A missing directory yields nothing.
std::vector<std::string> FindMatches(const std::string& pattern, bool includeDirectories);

// The number of plain files matching the pattern (FindMatches without directories).
int CountMatchingFiles(const std::string& pattern);

// The path itself when it exists as written; otherwise each component that does not exist
// is replaced by an entry of the same name in another letter case, where there is one.
// Components that match nothing are kept as written.
std::string ResolvePathCase(const std::string& path);

bool FileExists(const std::string& path);      // an existing non-directory
bool DirectoryExists(const std::string& path); // an existing directory
bool PathExists(const std::string& path);
// A plain file the system would run as a program.
bool IsExecutableFile(const std::string& path);

// Copies source to destination, replacing an existing destination. The copy is made under
// a temporary name and renamed into place, so the destination is either whole or untouched.
bool CopyFileReplacing(const std::string& source, const std::string& destination);
bool DeleteFileAt(const std::string& path);
// Gives a file another name, replacing a file of that name at once (never a directory).
bool MoveFileReplacing(const std::string& from, const std::string& to);
// Replaces the whole text of a file, or makes the file. The file the path names, through any
// symbolic links, keeps its place, owner and mode; one that exists but may not be written is
// refused, not replaced. The text is written under a temporary name beside the file and
// renamed into place, so the file is never left half-written. False when it cannot be done.
bool ReplaceFileText(const std::string& path, const std::string& text);
// The whole content of a file, read as it is. False when it cannot be read.
bool ReadFileText(const std::string& path, std::string& text);
// A file's permission bits (the mode without the file type); -1 when there is no such file.
int FileMode(const std::string& path);
bool SetFileMode(const std::string& path, int mode);
bool CreateDirectoryAt(const std::string& path);
// Removes a directory that holds nothing; false otherwise.
bool RemoveEmptyDirectory(const std::string& path);

// One version of a file: which file it is (device and inode), its size, and the times of its
// last modification and last change. The change time moves with every write even where the
// modification time is coarse (FAT, some network shares) or was set back. Two stamps are
// equal only when both are valid and all of these agree.
struct FileStamp {
    bool valid = false;
    uint64_t device = 0;
    uint64_t inode = 0;
    int64_t size = 0;
    int64_t modifiedNs = 0; // nanoseconds since the epoch
    int64_t changedNs = 0;
    bool operator==(const FileStamp& o) const {
        return valid && o.valid && device == o.device && inode == o.inode && size == o.size &&
               modifiedNs == o.modifiedNs && changedNs == o.changedNs;
    }
};
FileStamp StampOf(const std::string& path);
// Nanoseconds since the epoch, the clock file modification times are given in.
int64_t WallClockNs();

// The directory of the running executable, with its trailing separator.
std::string ProgramDirectory();
// Tests point the program directory somewhere else; an empty text restores the real one.
void SetProgramDirectoryForTesting(const std::string& directory);

// The directory part of a path up to and including the last separator (or ":").
std::string ExtractFilePath(const std::string& path);

// The user's home directory, without a trailing separator.
std::string HomeDirectory();
// The home directory programs keep their per-user files in (the game engines among them),
// without a trailing separator: $HOME when it is an absolute path, else HomeDirectory().
std::string UserHomeDirectory();

// The base folder of the user's configuration files, without a trailing separator:
// $XDG_CONFIG_HOME when it is an absolute path, else $HOME/.config (the home directory of
// the account when HOME is unset).
std::string UserConfigHome();
// The same for the user's state files (logs): $XDG_STATE_HOME, else $HOME/.local/state.
std::string UserStateHome();
// The user's videos folder as xdg-user-dir names it, without a trailing separator:
// XDG_VIDEOS_DIR in UserConfigHome()'s user-dirs.dirs, its "$HOME" standing for
// UserHomeDirectory(). Empty when the file names no absolute folder; whether the folder
// exists is not tested.
std::string UserVideosDirectory();

// An existing directory this process may create files in.
bool IsWritableDirectory(const std::string& path);

// Creates a directory and every missing parent. True when the directory exists afterwards.
bool CreateDirectoryPath(const std::string& path);

// The path with "." and ".." components and doubled separators taken out, as text.
std::string NormalizePath(const std::string& path);

} // namespace vexo::platform
