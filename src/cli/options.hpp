// options.hpp - the command line: options, file names and the usage text
#pragma once

#include "cli/run_context.hpp"

#include <optional>
#include <string>
#include <vector>

namespace qivpak {

struct Options {
    bool decompress = false;  // -d
    int level = 0;            // -l: zlib level, -1 (zlib's default) or 1..9 after defaults
    int threshold = 0;        // -a: compressed size from which a frame counts as incompressible
    bool nc_search = false;   // -a, -s, -v: run the NC area analysis
    bool want_video = false;  // -v: movie files become NC areas
    bool want_audio = false;  // -s: audio files become NC areas
    std::string input;
    std::string output;
    std::optional<std::string> info;  // only when packing
};

// Reads args (the program name excluded). Prints a warning for each unknown
// option; sets ctx.wait_for_key as soon as -w is read. Ends the run through
// print_usage when the command line is malformed.
Options parse_options(RunContext& ctx, const std::vector<std::string>& args);

// Prints the usage text, then ctx.quit(-1).
[[noreturn]] void print_usage(RunContext& ctx);

}  // namespace qivpak
