// cpu_count.hpp - how many CPUs this process may run on
#pragma once

namespace qivpak {

// The CPUs of this process's affinity (what the system lets it run on), at
// least 1. Falls back to the hardware's count when the affinity cannot be read.
unsigned available_cpus();

}  // namespace qivpak
