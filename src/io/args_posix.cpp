// args_posix.cpp - the command line is argv as it is
#include "io/args.hpp"

namespace qivpak {

std::vector<std::string> command_line_args(int argc, char** argv) {
    if (argc < 1) return {};
    return std::vector<std::string>(argv + 1, argv + argc);
}

std::vector<std::string> with_wildcards_expanded(std::vector<std::string> args) { return args; }

}  // namespace qivpak
