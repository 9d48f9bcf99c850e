// platform.hpp - what qiv asks of the system beyond the library: terminals, binary output, finishing outputs
#pragma once

#include <cstdio>
#include <string>

namespace qiv {

// Whether `stream` is a terminal (a tty; on Windows a console).
bool is_terminal(std::FILE* stream);

// Switches `stream` to binary output (on Windows no "\n" becomes "\r\n"; elsewhere nothing changes).
void set_binary(std::FILE* stream);

// CPUs the process may run on (its affinity), at least 1.
unsigned usable_cpus();

}  // namespace qiv
