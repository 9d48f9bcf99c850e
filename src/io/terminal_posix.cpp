// terminal_posix.cpp - terminals by isatty and their width by ioctl; SIGPIPE ignored
#include "io/terminal.hpp"

#include <csignal>
#include <sys/ioctl.h>
#include <unistd.h>

namespace qivpak {

bool is_terminal(std::FILE* stream) { return ::isatty(::fileno(stream)) == 1; }

void set_binary(std::FILE*) {}

void keep_running_when_a_pipe_closes() { std::signal(SIGPIPE, SIG_IGN); }

int terminal_columns(std::FILE* stream) {
    winsize size{};
    if (!is_terminal(stream) || ::ioctl(::fileno(stream), TIOCGWINSZ, &size) != 0) return 0;
    return size.ws_col;
}

}  // namespace qivpak
