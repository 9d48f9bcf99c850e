// platform_posix.cpp - qiv's system services on POSIX: terminals by isatty, files by their descriptors
#include "qiv/platform.hpp"

#include <sched.h>
#include <unistd.h>

#include <algorithm>
#include <thread>

namespace qiv {

bool is_terminal(std::FILE* stream) { return ::isatty(::fileno(stream)) == 1; }

void set_binary(std::FILE*) {}

unsigned usable_cpus() {
    cpu_set_t set;
    CPU_ZERO(&set);
    if (::sched_getaffinity(0, sizeof set, &set) == 0 && CPU_COUNT(&set) > 0) return static_cast<unsigned>(CPU_COUNT(&set));
    return std::max(std::thread::hardware_concurrency(), 1u);
}

}  // namespace qiv
