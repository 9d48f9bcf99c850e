// wildcard.hpp - file-name patterns with "*" and "?", matched as Windows matches them, on every system
#pragma once

#include <string_view>

namespace qivpak {

// Whether the file name `name` (UTF-8) matches `pattern`: "*" stands for any
// run of characters (none too), "?" for exactly one character (one UTF-8
// sequence), every other character for itself, letters A to Z without
// regard to case, as Windows compares file names. Never throws.
bool wildcard_matches(std::string_view pattern, std::string_view name);

// Whether `word` is a pattern to expand: a "*" or "?" in its file-name part
// (after its last "/", "\" or drive ":"), and no wildcard in its folder part.
bool is_file_pattern(std::string_view word);

}  // namespace qivpak
