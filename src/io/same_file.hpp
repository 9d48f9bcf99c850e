// same_file.hpp - whether two names lead to one file, so a run never overwrites its own input
#pragma once

#include <string>

namespace qivpak {

// True when both paths (UTF-8) name one existing file: the same device and
// inode (POSIX), or the same volume serial number and file index (Windows).
bool same_existing_file(const std::string& a, const std::string& b);

// True when both paths are the same file: the same existing file, or the same
// absolute, lexically normalised path (which also covers a file not yet made;
// on Windows letter case does not count, as in its file systems).
bool same_file_or_path(const std::string& a, const std::string& b);

}  // namespace qivpak
