// process.hpp - runs a program to its end with stdin empty and captured stdout and stderr
#pragma once

#include <cstdint>
#include <string>
#include <utility>
#include <vector>

namespace qivtest {

struct ProcessResult {
    // Every byte the program wrote to stdout and stderr. On Windows, as a
    // text-mode reader sees it: each "\r\n" becomes "\n", and a "\n" that came
    // without its "\r" becomes kBareNewline, so that comparisons with expected
    // text also check the line ends.
    std::string out;
    std::string err;
    // POSIX: the exit status 0..255, or 1000 + signal number when killed by a
    // signal. Windows: the exit code (STATUS_CONTROL_C_EXIT reads as int(0xC000013A)).
    // -1 when the run could not be watched to its end.
    int status = -1;
};

// What a "\n" without "\r" turns into in ProcessResult on Windows.
inline constexpr const char* kBareNewline = "<LF without CR>\n";

inline constexpr std::uint64_t kNoFileSizeLimit = ~std::uint64_t{0};

struct ProcessOptions {
    std::string cwd;                                           // working directory; empty keeps the current one
    std::vector<std::pair<std::string, std::string>> env;      // variables set for the child, beside the inherited ones
    std::uint64_t file_size_limit = kNoFileSizeLimit;          // POSIX only: RLIMIT_FSIZE, SIGXFSZ then ignored
    int timeout_s = 120;                                       // the child is killed after this long
    // When not empty, the child is interrupted as soon as its stdout contains
    // this text: by interrupt_signal (POSIX), or by Ctrl-C to the console the
    // child runs in, one of its own without a window (Windows).
    std::string interrupt_when;
    int interrupt_signal = 2;                                  // SIGINT
};

// Whether run_process honours file_size_limit here.
bool file_size_limits_supported();

// Runs argv[0] (a path) with the arguments argv[1..]. Never throws; a program
// that cannot be started exits with status 127.
ProcessResult run_process(const std::vector<std::string>& argv, const ProcessOptions& opt = {});

}  // namespace qivtest
