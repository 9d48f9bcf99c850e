// file_posix.cpp - the POSIX half of the file wrapper: descriptors, pread, nameless temporary files, renames
#include "io/file.hpp"

#include "io/interrupt.hpp"

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <stdio.h>  // renameat2 and RENAME_NOREPLACE, where the C library has them
#include <sys/file.h>  // flock
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <unistd.h>
#ifdef __linux__
#include <linux/fs.h>  // BLKGETSIZE64
#endif
#include <utility>

namespace qivpak {

namespace {

int fd_of(std::intptr_t native) { return static_cast<int>(native); }

// Opens `path` as open(2) does, never inherited by a program started later,
// again when a signal interrupts the call, unless it was an interruption
// (SIGINT, SIGTERM, SIGHUP): then the open fails, so that a run blocked on a
// pipe or a slow device ends at once. Every retry loop below does the same.
int open_retrying(const char* path, int flags, mode_t mode = 0) {
    int fd;
    do {
        if (pending_interrupt() != 0) {  // arrived before the call: it could block for good
            errno = EINTR;
            return -1;
        }
        fd = ::open(path, flags | O_CLOEXEC, mode);
    } while (fd < 0 && errno == EINTR);
    return fd;
}

// The failure of the call that just failed, from errno.
IoStatus last_failure() {
    const int error = errno;
    return IoStatus::failed(std::strerror(error), error == EEXIST);
}

}  // namespace

std::optional<File> File::open(const std::string& path, Mode mode) {
    // Text and binary files are the same here: lines end in "\n" either way.
    int flags = 0;
    switch (mode) {
    case Mode::read: flags |= O_RDONLY; break;
    case Mode::truncate:
    case Mode::truncate_text: flags |= O_WRONLY | O_CREAT | O_TRUNC; break;
    case Mode::append_text: flags |= O_WRONLY | O_CREAT | O_APPEND; break;
    }
    const int fd = open_retrying(path.c_str(), flags, 0666);
    if (fd < 0) return std::nullopt;
    File file(fd, mode != Mode::read, false);
    struct stat st{};
    file.regular_ = ::fstat(fd, &st) == 0 && S_ISREG(st.st_mode);
    return file;
}

std::optional<File> File::temporary_in(const std::string& directory) {
    const std::string dir = directory.empty() ? "." : directory;
    int fd = open_retrying(dir.c_str(), O_TMPFILE | O_RDWR, 0600);
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
        if (got < 0 && errno == EINTR && pending_interrupt() == 0) continue;
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
        if (got < 0 && errno == EINTR && pending_interrupt() == 0) continue;
        if (got <= 0) break;
        done += static_cast<std::size_t>(got);
    }
    return done;
}

bool File::write_direct(const unsigned char* data, std::size_t len) {
    while (len > 0) {
        ssize_t put = ::write(fd_of(native_), data, len);
        if (put < 0 && errno == EINTR && pending_interrupt() == 0) continue;
        if (put <= 0) {
            note_failure(put < 0 ? errno : EIO);
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
        if (put < 0 && errno == EINTR && pending_interrupt() == 0) continue;
        if (put <= 0) {
            note_failure(put < 0 ? errno : EIO);
            return false;
        }
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
    } while (rc != 0 && errno == EINTR && pending_interrupt() == 0);
    return rc == 0;
}

std::string File::reason_of(int code) { return std::strerror(code); }

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
    if (S_ISBLK(st.st_mode)) {  // its stat size is 0: the medium's size comes from the driver
#ifdef BLKGETSIZE64
        std::uint64_t bytes = 0;
        if (::ioctl(fd_of(native_), BLKGETSIZE64, &bytes) == 0) return bytes;
#endif
        return std::nullopt;
    }
    return static_cast<std::uint64_t>(st.st_size);
}

InputKind input_kind(const std::string& path) {
    struct stat st{};
    if (::stat(path.c_str(), &st) != 0) return InputKind::unknown;
    if (S_ISREG(st.st_mode)) return InputKind::regular;
    return S_ISBLK(st.st_mode) ? InputKind::block_device : InputKind::other;
}

bool remove_file(const std::string& path) { return ::unlink(path.c_str()) == 0; }

std::string directory_of(const std::string& path) {
    const std::size_t cut = path.rfind('/');
    if (cut == std::string::npos) return ".";
    return path.substr(0, cut == 0 ? 1 : cut);
}

namespace {

// Flushes the directory that holds `path`, so that a rename inside it is on
// the device. The output is complete and in place by then, so a directory
// that cannot be flushed changes nothing the caller can act on.
void flush_directory_of(const std::string& path) {
    const int fd = open_retrying(directory_of(path).c_str(), O_RDONLY | O_DIRECTORY);
    if (fd < 0) return;
    ::fsync(fd);
    ::close(fd);
}

// Renames without replacing: renameat2's RENAME_NOREPLACE where the system and
// the file system have it, else a second name made by link(2), which never
// replaces either, and the first one removed.
IoStatus rename_no_replace(const std::string& from, const std::string& to) {
#ifdef RENAME_NOREPLACE
    if (::renameat2(AT_FDCWD, from.c_str(), AT_FDCWD, to.c_str(), RENAME_NOREPLACE) == 0) return {};
    if (errno != EINVAL && errno != ENOSYS && errno != ENOTSUP) return last_failure();
#endif
    if (::link(from.c_str(), to.c_str()) != 0) return last_failure();
    ::unlink(from.c_str());
    return {};
}

}  // namespace

std::optional<ClaimedFile> ClaimedFile::create(const std::string& path, IoStatus& status) {
    const int fd = open_retrying(path.c_str(), O_RDONLY | O_CREAT | O_EXCL, 0666);
    if (fd < 0) {
        status = last_failure();
        return std::nullopt;
    }
    if (::flock(fd, LOCK_EX | LOCK_NB) != 0) {
        status = last_failure();
        ::close(fd);
        ::unlink(path.c_str());
        return std::nullopt;
    }
    status = {};
    return ClaimedFile(fd);
}

ClaimedFile::~ClaimedFile() {
    if (native_ >= 0) ::close(fd_of(native_));  // the lock goes with the descriptor
}

std::optional<UnnamedFile> UnnamedFile::create_in(const std::string& folder) {
#ifdef O_TMPFILE
    const int fd = open_retrying(folder.empty() ? "." : folder.c_str(), O_TMPFILE | O_WRONLY, 0666);
    if (fd < 0) return std::nullopt;
    std::string path = "/proc/self/fd/" + std::to_string(fd);
    if (::access(path.c_str(), F_OK) != 0) {  // no /proc: no way to open or name it
        ::close(fd);
        return std::nullopt;
    }
    return UnnamedFile(fd, std::move(path));
#else
    (void)folder;
    return std::nullopt;
#endif
}

UnnamedFile::~UnnamedFile() {
    if (native_ >= 0) ::close(fd_of(native_));
}

IoStatus UnnamedFile::name_as(const std::string& to) const {
    // Through /proc, as AT_EMPTY_PATH would need a privilege; linkat never replaces.
    if (::linkat(AT_FDCWD, path_.c_str(), AT_FDCWD, to.c_str(), AT_SYMLINK_FOLLOW) != 0) return last_failure();
    flush_directory_of(to);
    return {};
}

bool is_abandoned(const std::string& path) {
    const int fd = open_retrying(path.c_str(), O_RDONLY | O_NOFOLLOW);
    if (fd < 0) return false;
    struct stat st{};
    const bool abandoned = ::fstat(fd, &st) == 0 && S_ISREG(st.st_mode) && ::flock(fd, LOCK_EX | LOCK_NB) == 0;
    ::close(fd);
    return abandoned;
}

IoStatus flush_to_device(const std::string& path) {
    const int fd = open_retrying(path.c_str(), O_WRONLY);
    if (fd < 0) return last_failure();
    int result;
    do {
        result = ::fsync(fd);
    } while (result != 0 && errno == EINTR && pending_interrupt() == 0);
    const IoStatus status = result == 0 ? IoStatus{} : last_failure();
    if (::close(fd) != 0 && status.ok()) return last_failure();
    return status;
}

IoStatus rename_into_place(const std::string& from, const std::string& to, bool replace) {
    const IoStatus renamed = !replace                                  ? rename_no_replace(from, to)
                             : ::rename(from.c_str(), to.c_str()) == 0 ? IoStatus{}
                                                                       : last_failure();
    if (renamed.ok()) flush_directory_of(to);
    return renamed;
}

std::optional<FileLock> FileLock::acquire(const std::string& path, IoStatus& status) {
    const int fd = ::open(path.c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0644);
    if (fd < 0) {
        status = IoStatus::failed(std::strerror(errno), false);
        return std::nullopt;
    }
    while (::flock(fd, LOCK_EX) != 0) {
        if (errno == EINTR) continue;
        status = IoStatus::failed(std::strerror(errno), false);
        ::close(fd);
        return std::nullopt;
    }
    return FileLock(fd);
}

FileLock::~FileLock() {
    if (native_ >= 0) ::close(static_cast<int>(native_));  // the lock goes with the descriptor
}

}  // namespace qivpak
