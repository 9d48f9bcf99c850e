// file_stamp.hpp - what tells a file's contents apart without reading them, and the per-user cache folder
#pragma once

#include <cstdint>
#include <optional>
#include <string>

namespace qivpak {

// A regular file as the system describes it: its size, its modification time
// and its identity (device and inode on POSIX; volume serial number and file
// index on Windows). Writing the file changes its time; replacing it by
// another file changes its identity.
struct FileStamp {
    std::uint64_t size = 0;
    std::int64_t mtime_ns = 0;  // nanoseconds since 1970 (Windows: to 100 ns)
    std::uint64_t device = 0;
    std::uint64_t file_id = 0;
    bool operator==(const FileStamp&) const = default;
};

// The stamp of the regular file `path` (UTF-8), links followed; std::nullopt
// for anything else (a folder, a device) or a file that cannot be looked at.
std::optional<FileStamp> file_stamp(const std::string& path);

// The folder where this user's caches go (UTF-8): $XDG_CACHE_HOME, else
// $HOME/.cache (POSIX; a relative $XDG_CACHE_HOME is ignored, as the base
// directory rules say); %LOCALAPPDATA% (Windows). Empty when none is set.
std::string user_cache_folder();

}  // namespace qivpak
