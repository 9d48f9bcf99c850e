// platform_win.cpp - qiv's system services on Windows: consoles, binary mode, files by their handles
#include "qiv/platform.hpp"

#include <fcntl.h>
#include <io.h>
#include <windows.h>

#include <algorithm>
#include <bit>
#include <thread>

namespace qiv {

bool is_terminal(std::FILE* stream) {
    DWORD mode = 0;
    return ::GetConsoleMode(reinterpret_cast<HANDLE>(::_get_osfhandle(::_fileno(stream))), &mode) != 0;
}

void set_binary(std::FILE* stream) { ::_setmode(::_fileno(stream), _O_BINARY); }

// The affinity mask covers the process's processor group (up to 64 CPUs).
unsigned usable_cpus() {
    DWORD_PTR process_mask = 0, system_mask = 0;
    if (::GetProcessAffinityMask(::GetCurrentProcess(), &process_mask, &system_mask) && process_mask != 0)
        return static_cast<unsigned>(std::popcount(static_cast<unsigned long long>(process_mask)));
    return std::max(std::thread::hardware_concurrency(), 1u);
}

}  // namespace qiv
