// terminal_win.hpp - the Windows handle behind a C stream, for the console calls that take one
#pragma once

#include <cstdio>
#include <windows.h>

namespace qivpak {

// The system's handle that `stream` writes to: the process's standard output
// handle for stdout, else the one behind the stream's descriptor;
// INVALID_HANDLE_VALUE when there is none.
HANDLE stream_handle(std::FILE* stream);

}  // namespace qivpak
