// same_file.hpp - whether two names lead to one file, so a run never overwrites its own input
#pragma once

#include <string>

namespace qivpak {

// True when both paths (UTF-8) name one existing file: the same device and
// inode (POSIX), or the same volume serial number and file index (Windows).
bool same_existing_file(const std::string& a, const std::string& b);

// The one name that every spelling of a path shares, whether the file exists
// yet or not: absolute, with "." and ".." resolved, and on POSIX the links
// resolved as far as the path exists; on Windows letter case does not count,
// as in its file systems. Two paths with the same identity are one file.
std::string path_identity(const std::string& path);

// True when both paths are the same file: the same existing file, or the same
// path_identity (which also covers a file not yet made).
inline bool same_file_or_path(const std::string& a, const std::string& b) {
    return same_existing_file(a, b) || path_identity(a) == path_identity(b);
}

}  // namespace qivpak
