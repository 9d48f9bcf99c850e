// args.hpp - the command line as UTF-8 strings
#pragma once

#include <string>
#include <vector>

namespace qivpak {

// The arguments the process was started with, the program name excluded, in
// UTF-8: argv as it is on POSIX; on Windows the system's UTF-16 command line
// (argc and argv, in the code page of the moment, are not used there).
std::vector<std::string> command_line_args(int argc, char** argv);

}  // namespace qivpak
