// worker_count.cpp - how many workers a run uses: QIVPAK_THREADS, else the CPUs available
#include "pipeline/ordered_pipeline.hpp"

#include <cstdlib>
#include <sched.h>

namespace qivpak {

unsigned worker_count() {
    if (const char* text = std::getenv("QIVPAK_THREADS")) {
        char* end = nullptr;
        const long value = std::strtol(text, &end, 10);
        if (end != text && *end == '\0' && value >= 1 && value <= 1024) return static_cast<unsigned>(value);
    }
    cpu_set_t set;
    CPU_ZERO(&set);
    if (sched_getaffinity(0, sizeof set, &set) == 0 && CPU_COUNT(&set) > 0)
        return static_cast<unsigned>(CPU_COUNT(&set));
    const unsigned hw = std::thread::hardware_concurrency();
    return hw > 0 ? hw : 1;
}

}  // namespace qivpak
