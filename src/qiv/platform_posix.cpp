// platform_posix.cpp - qiv's system services on POSIX: terminals by isatty, files by their descriptors
#include "qiv/platform.hpp"

#include <cerrno>
#include <csignal>
#include <cstring>
#include <fcntl.h>
#include <stdio.h>  // renameat2 and RENAME_NOREPLACE, where the C library has them
#include <sys/ioctl.h>
#include <unistd.h>

namespace qiv {

namespace {

// The outcome of a call that just failed, from errno.
FileOutcome failed() {
    const int error = errno;
    return {false, error == EEXIST, std::strerror(error)};
}

// Opens `path` as open(2) does, again when a signal interrupts the call.
int open_retrying(const char* path, int flags, mode_t mode = 0) {
    int fd;
    do {
        fd = ::open(path, flags | O_CLOEXEC, mode);
    } while (fd < 0 && errno == EINTR);
    return fd;
}

// Flushes the folder that holds `path`, so that a rename inside it is on the device. The output is
// complete and in place by then, so a folder that cannot be flushed changes nothing the caller can act on.
void flush_folder_of(const std::string& path) {
    const std::size_t slash = path.rfind('/');
    const std::string folder = slash == std::string::npos ? "." : slash == 0 ? "/" : path.substr(0, slash);
    const int fd = open_retrying(folder.c_str(), O_RDONLY | O_DIRECTORY);
    if (fd < 0) return;
    ::fsync(fd);
    ::close(fd);
}

// Renames without replacing: renameat2's RENAME_NOREPLACE where the system and the file system have
// it, else a second name made by link(2), which never replaces either, and the first one removed.
FileOutcome rename_no_replace(const std::string& from, const std::string& to) {
#ifdef RENAME_NOREPLACE
    if (::renameat2(AT_FDCWD, from.c_str(), AT_FDCWD, to.c_str(), RENAME_NOREPLACE) == 0) return {};
    if (errno != EINVAL && errno != ENOSYS && errno != ENOTSUP) return failed();
#endif
    if (::link(from.c_str(), to.c_str()) != 0) return failed();
    ::unlink(from.c_str());
    return {};
}

}  // namespace

bool is_terminal(std::FILE* stream) { return ::isatty(::fileno(stream)) == 1; }

void set_binary(std::FILE*) {}

void keep_running_when_a_pipe_closes() { std::signal(SIGPIPE, SIG_IGN); }

int terminal_columns(std::FILE* stream) {
    winsize size{};
    if (!is_terminal(stream) || ::ioctl(::fileno(stream), TIOCGWINSZ, &size) != 0) return 0;
    return size.ws_col;
}

FileOutcome create_new_file(const std::string& path) {
    const int fd = open_retrying(path.c_str(), O_WRONLY | O_CREAT | O_EXCL, 0666);
    if (fd < 0) return failed();
    ::close(fd);
    return {};
}

FileOutcome flush_to_device(const std::string& path) {
    const int fd = open_retrying(path.c_str(), O_WRONLY);
    if (fd < 0) return failed();
    int result;
    do {
        result = ::fsync(fd);
    } while (result != 0 && errno == EINTR);
    const FileOutcome outcome = result == 0 ? FileOutcome{} : failed();
    if (::close(fd) != 0 && outcome.ok) return failed();
    return outcome;
}

FileOutcome rename_into_place(const std::string& from, const std::string& to, bool replace) {
    const FileOutcome renamed = !replace                                  ? rename_no_replace(from, to)
                                : ::rename(from.c_str(), to.c_str()) == 0 ? FileOutcome{}
                                                                          : failed();
    if (renamed.ok) flush_folder_of(to);
    return renamed;
}

}  // namespace qiv
