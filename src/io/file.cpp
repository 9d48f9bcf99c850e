// file.cpp - POSIX implementation of the buffered, 64-bit file wrapper
#include "io/file.hpp"

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <cstdlib>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>
#include <utility>

namespace qivpak {

std::optional<File> File::open(const std::string& path, Mode mode) {
    int flags = O_CLOEXEC;
    switch (mode) {
    case Mode::read: flags |= O_RDONLY; break;
    case Mode::truncate:
    case Mode::truncate_text: flags |= O_WRONLY | O_CREAT | O_TRUNC; break;
    case Mode::append:
    case Mode::append_text: flags |= O_WRONLY | O_CREAT | O_APPEND; break;
    }
    int fd;
    do {
        fd = ::open(path.c_str(), flags, 0666);
    } while (fd < 0 && errno == EINTR);
    if (fd < 0) return std::nullopt;
    return File(fd, mode != Mode::read);
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
    return File(fd, true);
}

File::File(int fd, bool writable) : fd_(fd) {
    if (writable) pending_.reserve(kBufferSize);
}

File::File(File&& other) noexcept
    : fd_(std::exchange(other.fd_, -1)),
      failed_(other.failed_),
      pending_(std::move(other.pending_)) {}

File& File::operator=(File&& other) noexcept {
    if (this != &other) {
        close();
        fd_ = std::exchange(other.fd_, -1);
        failed_ = other.failed_;
        pending_ = std::move(other.pending_);
    }
    return *this;
}

File::~File() { close(); }

std::size_t File::read_full(void* buf, std::size_t len) {
    auto* out = static_cast<unsigned char*>(buf);
    std::size_t done = 0;
    while (done < len) {
        ssize_t got = ::read(fd_, out + done, len - done);
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
        ssize_t got = ::pread(fd_, out + done, len - done, static_cast<off_t>(offset + done));
        if (got < 0 && errno == EINTR) continue;
        if (got <= 0) break;
        done += static_cast<std::size_t>(got);
    }
    return done;
}

bool File::write_direct(const unsigned char* data, std::size_t len) {
    while (len > 0) {
        ssize_t put = ::write(fd_, data, len);
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

bool File::write_all(const void* buf, std::size_t len) {
    if (failed_ || fd_ < 0) return false;
    const auto* data = static_cast<const unsigned char*>(buf);
    if (pending_.size() + len > kBufferSize) {
        if (!flush()) return false;
        if (len >= kBufferSize) return write_direct(data, len);
    }
    pending_.insert(pending_.end(), data, data + len);
    return true;
}

bool File::flush() {
    if (fd_ < 0) return !failed_;
    if (!failed_ && !pending_.empty()) write_direct(pending_.data(), pending_.size());
    pending_.clear();
    return !failed_;
}

bool File::close() {
    if (fd_ < 0) return !failed_;
    bool ok = flush();
    if (::close(std::exchange(fd_, -1)) != 0 && errno != EINTR) ok = false;
    if (!ok) failed_ = true;
    return ok;
}

bool File::seek(std::uint64_t position) {
    if (!flush()) return false;
    off_t target = static_cast<off_t>(position);
    if (target < 0) return false;
    return ::lseek(fd_, target, SEEK_SET) == target;
}

std::uint64_t File::size() const {
    struct stat st{};
    if (fd_ < 0 || ::fstat(fd_, &st) != 0 || st.st_size < 0) return 0;
    return static_cast<std::uint64_t>(st.st_size) + pending_.size();
}

}  // namespace qivpak
