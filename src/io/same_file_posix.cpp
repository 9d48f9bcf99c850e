// same_file_posix.cpp - same-file tests by device and inode, and by resolved path
#include "io/same_file.hpp"

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

std::string path_identity(const std::string& path) {
    std::error_code error;
    const std::filesystem::path absolute = std::filesystem::absolute(path, error);
    if (error) return path;
    const std::filesystem::path resolved = std::filesystem::weakly_canonical(absolute, error);
    return (error ? absolute.lexically_normal() : resolved).string();
}

}  // namespace qivpak
