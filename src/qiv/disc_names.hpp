// disc_names.hpp - which names and symlinks of an untrusted disc qiv extract may write under its folder
#pragma once

#include <cstddef>
#include <string_view>

namespace qiv {

// Whether Windows cannot hold `name` (one UTF-8 file name) as a file name: it
// holds one of <>:"|?*\ or a control character 0x01-0x1F, ends in a dot or a
// space, or is a device name (CON, PRN, AUX, NUL, COM1-COM9, LPT1-LPT9, in any
// case, with any extension: "con.txt", "Lpt1.tar.gz").
bool windows_cannot_hold(std::string_view name);

// Whether a symlink `depth` folders below the extraction's folder (0: in it)
// to `target` may lead outside that folder: an absolute target, one whose
// leading ".." climb above it ("../x" in the top folder), or one with a ".."
// after a name ("a/../b"), since that name may be another symlink.
bool symlink_leaves(std::size_t depth, std::string_view target);

}  // namespace qiv
