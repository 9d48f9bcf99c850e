// args.hpp - the command line as UTF-8 strings
#pragma once

#include <string>
#include <vector>

namespace qivpak {

// The arguments the process was started with, the program name excluded, in
// UTF-8: argv as it is on POSIX; on Windows the system's UTF-16 command line
// (argc and argv, in the code page of the moment, are not used there).
std::vector<std::string> command_line_args(int argc, char** argv);

// The arguments with each file-name pattern (see is_file_pattern in
// io/wildcard.hpp) replaced by the names it matches in its folder, sorted
// byte by byte, the folder part kept as written: on Windows, whose shells
// hand patterns on as they are. A pattern that matches nothing, and every
// word after "--" or starting with "-", stays as given. POSIX: `args`, the
// shell has expanded them.
std::vector<std::string> with_wildcards_expanded(std::vector<std::string> args);

}  // namespace qivpak
