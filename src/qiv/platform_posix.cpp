// platform_posix.cpp - qiv's system services on POSIX: terminals by isatty, files by their descriptors
#include "qiv/platform.hpp"

#include <unistd.h>

namespace qiv {

bool is_terminal(std::FILE* stream) { return ::isatty(::fileno(stream)) == 1; }

void set_binary(std::FILE*) {}

}  // namespace qiv
