// process.hpp - runs a program to its end and captures what it prints (one implementation per platform)
#pragma once

#include <string>
#include <utility>
#include <vector>

namespace qivtest {

struct ProcessResult {
    std::string out, err;  // every byte written to standard output and to standard error
    int status = -1;       // exit status 0..255; 1000 + signal number when killed; -1 when it could not start
};

struct ProcessOptions {
    std::string cwd;                                       // working folder; empty: the caller's
    std::vector<std::pair<std::string, std::string>> env;  // variables set for the program, the rest inherited
    int timeout_s = 300;                                   // the program is killed after this many seconds
};

// Runs the program at path argv[0] with the arguments argv[1..] and standard input from the null device.
ProcessResult run_process(const std::vector<std::string>& argv, const ProcessOptions& options = {});

}  // namespace qivtest
