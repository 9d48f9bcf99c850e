// platform_win.cpp - qiv's system services on Windows: consoles, binary mode, files by their handles
#include "qiv/platform.hpp"

#include <fcntl.h>
#include <io.h>
#include <windows.h>

namespace qiv {

bool is_terminal(std::FILE* stream) {
    DWORD mode = 0;
    return ::GetConsoleMode(reinterpret_cast<HANDLE>(::_get_osfhandle(::_fileno(stream))), &mode) != 0;
}

void set_binary(std::FILE* stream) { ::_setmode(::_fileno(stream), _O_BINARY); }

}  // namespace qiv
