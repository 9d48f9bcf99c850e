// permissions_posix.cpp - read permissions by stat and chmod
#include "io/permissions.hpp"

#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <sys/stat.h>

namespace qivpak {

void restrict_reading_to(const std::string& output, const std::string& input) {
    struct stat in{};
    struct stat out{};
    if (::stat(input.c_str(), &in) != 0 || ::stat(output.c_str(), &out) != 0) return;
    if (!S_ISREG(out.st_mode)) return;  // a device or a pipe keeps its own
    const mode_t kept = out.st_mode & 07777 & ~(0444 & ~in.st_mode);
    if (kept != (out.st_mode & 07777)) ::chmod(output.c_str(), kept);
}

bool copy_mode_and_time(const std::string& from, const std::string& to, std::string& why) {
    struct stat st{};
    if (::stat(from.c_str(), &st) != 0 || ::chmod(to.c_str(), st.st_mode & 07777) != 0) {
        why = std::strerror(errno);
        return false;
    }
    const timespec times[2] = {{0, UTIME_OMIT}, st.st_mtim};  // the access time as it is
    if (::utimensat(AT_FDCWD, to.c_str(), times, 0) != 0) {
        why = std::strerror(errno);
        return false;
    }
    return true;
}

namespace {

bool set_time(const std::string& path, std::int64_t mtime, int flags, std::string& why) {
    const timespec times[2] = {{0, UTIME_OMIT}, {static_cast<time_t>(mtime), 0}};
    if (::utimensat(AT_FDCWD, path.c_str(), times, flags) == 0) return true;
    why = std::strerror(errno);
    return false;
}

}  // namespace

bool set_mode_and_time(const std::string& path, std::optional<std::uint32_t> mode, std::int64_t mtime, std::string& why) {
    if (mode) {
        // Read by setting it, and put back at once: once a process, before it makes files on many threads.
        static const mode_t mask = [] {
            const mode_t was = ::umask(0);
            ::umask(was);
            return was;
        }();
        if (::chmod(path.c_str(), static_cast<mode_t>(*mode & 0777 & ~mask)) != 0) {
            why = std::strerror(errno);
            return false;
        }
    }
    return set_time(path, mtime, 0, why);
}

bool set_link_time(const std::string& path, std::int64_t mtime, std::string& why) {
    return set_time(path, mtime, AT_SYMLINK_NOFOLLOW, why);
}

bool windows_file_rules() { return false; }

}  // namespace qivpak
