// qivpak_main.hpp - one whole run of the tool, callable in-process
#pragma once

#include "cli/console.hpp"

#include <cstdio>
#include <string>
#include <vector>

namespace qivpak {

// Runs the tool on args (the program name excluded): banner, options, one
// pack or unpack. Returns the process exit status: 0 after a finished pack or
// unpack, 255 for every error and for the usage text, 128 + the signal's
// number when an interrupting signal arrived (the output being written is
// then removed, unless it was finished). `key_input` is where -w reads its
// key from; `threads_setting` is the value of QIVPAK_THREADS, or nullptr.
int run_qivpak(const std::vector<std::string>& args, Console& console, std::FILE* key_input,
               const char* threads_setting);

}  // namespace qivpak
