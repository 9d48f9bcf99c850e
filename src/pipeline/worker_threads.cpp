// worker_threads.cpp - how many workers a pipeline starts
#include "pipeline/ordered_pipeline.hpp"

#include "io/cpu_count.hpp"

#include <algorithm>

namespace qivpak {

unsigned worker_threads(unsigned requested, std::uint32_t frames) {
    unsigned n = std::min(requested == 0 ? available_cpus() : requested, MAX_WORKERS);
    if (frames < n) n = frames;
    return std::max(n, 1u);
}

}  // namespace qivpak
