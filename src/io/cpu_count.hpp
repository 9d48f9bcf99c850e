// cpu_count.hpp - how many CPUs this process may run on
#pragma once

namespace qivpak {

// The CPUs in the process's affinity, at least 1.
unsigned available_cpus();

}  // namespace qivpak
