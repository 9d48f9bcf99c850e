// cpu_count_posix.cpp - CPUs of the process's affinity, by sched_getaffinity
#include "io/cpu_count.hpp"

#include <sched.h>
#include <thread>

namespace qivpak {

unsigned available_cpus() {
    cpu_set_t set;
    CPU_ZERO(&set);
    if (sched_getaffinity(0, sizeof set, &set) == 0 && CPU_COUNT(&set) > 0)
        return static_cast<unsigned>(CPU_COUNT(&set));
    const unsigned hw = std::thread::hardware_concurrency();
    return hw > 0 ? hw : 1;
}

}  // namespace qivpak
