// options.hpp - the command line: options, file names and the usage text
#pragma once

#include "cli/console.hpp"

#include <optional>
#include <string>
#include <vector>

namespace qivpak {

struct Options {
    bool decompress = false;  // -d
    int level = 0;            // -l: zlib level 0..9 (0: zlib's default, as PackOptions takes it)
    int threshold = 0;        // -a: compressed size from which a frame counts as incompressible (0: 8192)
    bool nc_search = false;   // -a, -s, -v: run the NC area analysis
    bool want_video = false;  // -v: movie files become NC areas
    bool want_audio = false;  // -s: audio files become NC areas
    std::string input;
    std::string output;
    std::optional<std::string> info;  // only when packing
    bool wait_for_key = false;        // -w: wait for a key before the process ends
};

// The command line is malformed: the usage text has been printed.
struct UsageError {};

// Reads args (the program name excluded) into `opt`. Prints a warning for each
// unknown option; sets opt.wait_for_key as soon as -w is read, so a later
// error still waits. When the command line is malformed, prints the usage
// text and throws UsageError.
void parse_options(const std::vector<std::string>& args, Options& opt, Console& console);

// The workers QIVPAK_THREADS asks for: `setting` is its value (nullptr when
// unset), a number from 1 to MAX_REQUESTED_THREADS; 0 (every CPU) when unset,
// and after one warning when it is anything else.
unsigned threads_from_setting(const char* setting, Console& console);

// Prints the usage text and throws UsageError.
[[noreturn]] void print_usage(Console& console);

}  // namespace qivpak
