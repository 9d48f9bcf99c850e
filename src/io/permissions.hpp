// permissions.hpp - who may read a file the system writes for the user
#pragma once

#include <cstdint>
#include <optional>
#include <string>

namespace qivpak {

// Takes from `output` every read permission that `input` lacks, so that a
// file made from another is never readable by more users than it. Paths are
// UTF-8. POSIX only: Windows files carry no such bits, and there it does
// nothing. A file system that keeps no permissions (a FAT stick) is left as
// it is: its files are readable by whoever mounted it anyway.
void restrict_reading_to(const std::string& output, const std::string& input);

// Gives `to` the permission bits (POSIX) and the modification time of
// `from`, as a file made from another keeps them (qiv pack and unpack, as the
// usual compressors do). Paths are UTF-8. Returns false, with the system's
// reason in `why`, when either could not be set.
bool copy_mode_and_time(const std::string& from, const std::string& to, std::string& why);

// Gives the file or folder `path` (UTF-8) the permission bits of `mode`
// (POSIX, when given: its 0777 bits less the process's umask, never set-id or
// sticky bits, as an archiver sets them for an unprivileged user) and the
// modification time `mtime` (seconds since 1970-01-01 00:00 UTC). Windows: the
// time only. Returns false, with the system's reason in `why`, when either
// could not be set. The first call reads the umask by setting it and putting
// it back: no other thread may create files meanwhile.
bool set_mode_and_time(const std::string& path, std::optional<std::uint32_t> mode, std::int64_t mtime, std::string& why);

// Gives the symlink `path` itself the modification time `mtime`, never the
// file it points to. POSIX only: Windows symlinks are not made here.
bool set_link_time(const std::string& path, std::int64_t mtime, std::string& why);

// Whether files are named and linked as on Windows: names that Windows
// cannot hold are refused, and no symlinks are made. True on Windows only.
bool windows_file_rules();

}  // namespace qivpak
