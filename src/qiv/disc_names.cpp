// disc_names.cpp - file names Windows refuses, and symlink targets that climb out of a folder
#include "qiv/disc_names.hpp"

#include <algorithm>
#include <cctype>
#include <string>

namespace qiv {

bool windows_cannot_hold(std::string_view name) {
    if (name.empty() || name.back() == '.' || name.back() == ' ') return true;
    const bool bad_byte = std::any_of(name.begin(), name.end(), [](char c) {
        return (c > 0 && c < 0x20) || std::string_view("<>:\"|?*\\").find(c) != std::string_view::npos;
    });
    if (bad_byte) return true;
    // Windows reads the part before the first dot, spaces at its end dropped, as the device.
    std::string_view base = name.substr(0, name.find('.'));
    while (!base.empty() && base.back() == ' ') base.remove_suffix(1);
    std::string upper(base);
    for (char& c : upper) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
    if (upper == "CON" || upper == "PRN" || upper == "AUX" || upper == "NUL") return true;
    return upper.size() == 4 && (upper.starts_with("COM") || upper.starts_with("LPT")) && upper[3] >= '1' &&
           upper[3] <= '9';
}

bool symlink_leaves(std::size_t depth, std::string_view target) {
    if (target.starts_with('/')) return true;
    bool named = false;  // a name has come before
    for (std::size_t at = 0; at <= target.size();) {
        const std::size_t end = std::min(target.find('/', at), target.size());
        const std::string_view part = target.substr(at, end - at);
        if (part == "..") {
            // A ".." after a name climbs back out of whatever that name is, and the name may be another
            // symlink of the disc ("l" -> ".." makes "l/.." the folder above): only the ".." before every
            // name are read lexically, through the real folders that hold the symlink.
            if (depth == 0 || named) return true;
            --depth;
        } else if (!part.empty() && part != ".") {
            named = true;
        }
        at = end + 1;
    }
    return false;
}

}  // namespace qiv
