// same_file_posix.cpp - same-file tests by device and inode, and by normalised path
#include "cli/same_file.hpp"

#include <filesystem>
#include <sys/stat.h>
#include <system_error>

namespace qivpak {

bool same_existing_file(const std::string& a, const std::string& b) {
    struct stat sa{};
    struct stat sb{};
    if (::stat(a.c_str(), &sa) != 0 || ::stat(b.c_str(), &sb) != 0) return false;
    return sa.st_dev == sb.st_dev && sa.st_ino == sb.st_ino;
}

bool same_file_or_path(const std::string& a, const std::string& b) {
    if (same_existing_file(a, b)) return true;
    std::error_code ec_a;
    std::error_code ec_b;
    const auto abs_a = std::filesystem::absolute(a, ec_a).lexically_normal();
    const auto abs_b = std::filesystem::absolute(b, ec_b).lexically_normal();
    return !ec_a && !ec_b && abs_a == abs_b;
}

}  // namespace qivpak
