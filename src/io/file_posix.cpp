// file_posix.cpp - the POSIX half of the file wrapper: descriptors, pread, nameless temporary files
#include "io/file.hpp"

#include <cerrno>
#include <cstdlib>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>
#include <utility>

namespace qivpak {

namespace {

int fd_of(std::intptr_t native) { return static_cast<int>(native); }

}  // namespace

std::optional<File> File::open(const std::string& path, Mode mode) {
    // Text and binary files are the same here: lines end in "\n" either way.
    int flags = O_CLOEXEC;
    switch (mode) {
    case Mode::read: flags |= O_RDONLY; break;
    case Mode::truncate:
    case Mode::truncate_text: flags |= O_WRONLY | O_CREAT | O_TRUNC; break;
    case Mode::append_text: flags |= O_WRONLY | O_CREAT | O_APPEND; break;
    }
    int fd;
    do {
        fd = ::open(path.c_str(), flags, 0666);
    } while (fd < 0 && errno == EINTR);
    if (fd < 0) return std::nullopt;
    File file(fd, mode != Mode::read, false);
    struct stat st{};
    file.regular_ = ::fstat(fd, &st) == 0 && S_ISREG(st.st_mode);
    return file;
}

std::optional<File> File::temporary_in(const std::string& directory) {
    const std::string dir = directory.empty() ? "." : directory;
    int fd = ::open(dir.c_str(), O_TMPFILE | O_RDWR | O_CLOEXEC, 0600);
    if (fd < 0) {
        // File systems without nameless files: make a named one and remove the name at once.
        std::string pattern = dir + "/.qivpak-XXXXXX";
        fd = ::mkostemp(pattern.data(), O_CLOEXEC);
        if (fd < 0) return std::nullopt;
        ::unlink(pattern.c_str());
    }
    return File(fd, true, false);
}

std::size_t File::read_full(void* buf, std::size_t len) {
    auto* out = static_cast<unsigned char*>(buf);
    std::size_t done = 0;
    while (done < len) {
        ssize_t got = ::read(fd_of(native_), out + done, len - done);
        if (got < 0 && errno == EINTR) continue;
        if (got <= 0) break;
        done += static_cast<std::size_t>(got);
    }
    return done;
}

std::size_t File::read_at(std::uint64_t offset, void* buf, std::size_t len) {
    auto* out = static_cast<unsigned char*>(buf);
    std::size_t done = 0;
    while (done < len) {
        ssize_t got = ::pread(fd_of(native_), out + done, len - done, static_cast<off_t>(offset + done));
        if (got < 0 && errno == EINTR) continue;
        if (got <= 0) break;
        done += static_cast<std::size_t>(got);
    }
    return done;
}

bool File::write_direct(const unsigned char* data, std::size_t len) {
    while (len > 0) {
        ssize_t put = ::write(fd_of(native_), data, len);
        if (put < 0 && errno == EINTR) continue;
        if (put <= 0) {
            failed_ = true;
            return false;
        }
        data += put;
        len -= static_cast<std::size_t>(put);
    }
    return true;
}

bool File::write_at(std::uint64_t offset, const void* buf, std::size_t len) {
    const auto* data = static_cast<const unsigned char*>(buf);
    while (len > 0) {
        const ssize_t put = ::pwrite(fd_of(native_), data, len, static_cast<off_t>(offset));
        if (put < 0 && errno == EINTR) continue;
        if (put <= 0) return false;
        data += put;
        offset += static_cast<std::uint64_t>(put);
        len -= static_cast<std::size_t>(put);
    }
    return true;
}

bool File::truncate(std::uint64_t size) {
    int rc;
    do {
        rc = ::ftruncate(fd_of(native_), static_cast<off_t>(size));
    } while (rc != 0 && errno == EINTR);
    return rc == 0;
}

bool File::close_native() {
    return ::close(fd_of(std::exchange(native_, NO_FILE))) == 0 || errno == EINTR;
}

bool File::seek(std::uint64_t position) {
    if (!flush()) return false;
    off_t target = static_cast<off_t>(position);
    if (target < 0) return false;
    return ::lseek(fd_of(native_), target, SEEK_SET) == target;
}

std::optional<std::uint64_t> File::stat_size() const {
    struct stat st{};
    if (native_ == NO_FILE || ::fstat(fd_of(native_), &st) != 0 || st.st_size < 0) return std::nullopt;
    return static_cast<std::uint64_t>(st.st_size);
}

bool remove_file(const std::string& path) { return ::unlink(path.c_str()) == 0; }

std::string directory_of(const std::string& path) {
    const std::size_t cut = path.rfind('/');
    if (cut == std::string::npos) return ".";
    return path.substr(0, cut == 0 ? 1 : cut);
}

}  // namespace qivpak
