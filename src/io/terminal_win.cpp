// terminal_win.cpp - terminals are consoles: their mode, their window's width; binary mode by _setmode
#include "io/terminal.hpp"

#include "io/terminal_win.hpp"

#include <fcntl.h>
#include <io.h>

namespace qivpak {

HANDLE stream_handle(std::FILE* stream) {
    if (stream == stdout) return ::GetStdHandle(STD_OUTPUT_HANDLE);
    return reinterpret_cast<HANDLE>(::_get_osfhandle(::_fileno(stream)));
}

bool is_terminal(std::FILE* stream) {
    DWORD mode = 0;
    return ::GetConsoleMode(stream_handle(stream), &mode) != 0;
}

void set_binary(std::FILE* stream) { ::_setmode(::_fileno(stream), _O_BINARY); }

void keep_running_when_a_pipe_closes() {}

int terminal_columns(std::FILE* stream) {
    CONSOLE_SCREEN_BUFFER_INFO info{};
    if (!::GetConsoleScreenBufferInfo(stream_handle(stream), &info)) return 0;
    return info.srWindow.Right - info.srWindow.Left + 1;
}

}  // namespace qivpak
