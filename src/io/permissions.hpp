// permissions.hpp - who may read a file the system writes for the user
#pragma once

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

}  // namespace qivpak
