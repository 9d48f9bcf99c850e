// cpu_count_win.cpp - CPUs of the process's affinity mask
#include "io/cpu_count.hpp"

#include <bit>
#include <thread>
#include <windows.h>

namespace qivpak {

// The mask covers the process's processor group (up to 64 CPUs), which is
// where its threads run unless they are placed in other groups on purpose.
unsigned available_cpus() {
    DWORD_PTR process_mask = 0;
    DWORD_PTR system_mask = 0;
    if (::GetProcessAffinityMask(::GetCurrentProcess(), &process_mask, &system_mask) && process_mask != 0)
        return static_cast<unsigned>(std::popcount(static_cast<unsigned long long>(process_mask)));
    const unsigned hw = std::thread::hardware_concurrency();
    return hw > 0 ? hw : 1;
}

}  // namespace qivpak
