// worker_count.cpp - how many workers a run uses: QIVPAK_THREADS, else the CPUs available
#include "io/cpu_count.hpp"
#include "pipeline/ordered_pipeline.hpp"

#include <cstdlib>

namespace qivpak {

unsigned worker_count() {
    if (const char* text = std::getenv("QIVPAK_THREADS")) {
        char* end = nullptr;
        const long value = std::strtol(text, &end, 10);
        if (end != text && *end == '\0' && value >= 1 && value <= 1024) return static_cast<unsigned>(value);
    }
    return available_cpus();
}

}  // namespace qivpak
