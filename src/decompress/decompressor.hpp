// decompressor.hpp - restores the plain image from a QIV container
#pragma once

#include "cli/run_context.hpp"

#include <string>

namespace qivpak {

// Checks the container `input`, loads its index and NC area table, and writes
// every frame in order to `output`. Refuses a damaged container with a message
// before the first frame whose bytes are wrong, so the output then holds only
// whole, correct frames. Ends the run: ctx.quit(0) or ctx.quit(-1).
[[noreturn]] void decompress_file(RunContext& ctx, const std::string& input, const std::string& output);

}  // namespace qivpak
