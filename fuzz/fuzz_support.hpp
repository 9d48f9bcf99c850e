// fuzz_support.hpp - what the fuzz targets share: in-memory files with a path, and a loud check
#pragma once

#include <sys/mman.h>
#include <unistd.h>

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <sys/stat.h>
#include <vector>

namespace qivfuzz {

// Stops the run with a message that libFuzzer reports as a crash, together
// with the input that caused it.
[[noreturn]] inline void fail(const char* what, const std::string& detail = {}) {
    std::fprintf(stderr, "invariant broken: %s%s%s\n", what, detail.empty() ? "" : ": ", detail.c_str());
    std::abort();
}

inline void check(bool ok, const char* what, const std::string& detail = {}) {
    if (!ok) fail(what, detail);
}

// A file that lives in memory only, reachable by path as /proc/self/fd/N so
// that code which opens files by name can be given it. Closed on destruction.
class MemFile {
public:
    MemFile() : fd_(::memfd_create("qivfuzz", MFD_CLOEXEC)) { check(fd_ >= 0, "memfd_create"); }
    MemFile(const MemFile&) = delete;
    MemFile& operator=(const MemFile&) = delete;
    ~MemFile() { ::close(fd_); }

    std::string path() const { return "/proc/self/fd/" + std::to_string(fd_); }

    // Makes the file exactly `size` bytes long, all zero.
    void resize(std::uint64_t size) { check(::ftruncate(fd_, static_cast<off_t>(size)) == 0, "ftruncate"); }

    void write_at(std::uint64_t offset, const std::uint8_t* data, std::size_t len) {
        while (len > 0) {
            const ssize_t put = ::pwrite(fd_, data, len, static_cast<off_t>(offset));
            check(put > 0, "pwrite");
            data += put;
            len -= static_cast<std::size_t>(put);
            offset += static_cast<std::uint64_t>(put);
        }
    }

    std::vector<std::uint8_t> contents() const {
        struct stat st{};
        check(::fstat(fd_, &st) == 0, "fstat");
        std::vector<std::uint8_t> bytes(static_cast<std::size_t>(st.st_size));
        std::size_t done = 0;
        while (done < bytes.size()) {
            const ssize_t got = ::pread(fd_, bytes.data() + done, bytes.size() - done, static_cast<off_t>(done));
            check(got > 0, "pread");
            done += static_cast<std::size_t>(got);
        }
        return bytes;
    }

private:
    int fd_;
};

inline bool ends_with(const std::string& text, const std::string& tail) {
    return text.size() >= tail.size() && text.compare(text.size() - tail.size(), tail.size(), tail) == 0;
}

}  // namespace qivfuzz
