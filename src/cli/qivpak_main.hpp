// qivpak_main.hpp - one whole run of the tool, callable in-process
#pragma once

#include "cli/console.hpp"

#include <cstdio>
#include <string>
#include <vector>

namespace qivpak {

// Runs the tool on args (the program name excluded): banner, options, one
// chain of drivers. Returns the process exit status: 0 after a finished
// compression or decompression, 255 for every error and for the usage text,
// 128 + the signal's number after SIGINT, SIGTERM or SIGHUP (the output being
// written is then removed).
// `key_input` is where -w reads its key from.
int run_qivpak(const std::vector<std::string>& args, Console& console, std::FILE* key_input);

}  // namespace qivpak
