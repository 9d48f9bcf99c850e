// process.hpp - runs a program to its end and captures what it prints (one implementation per platform)
#pragma once

#include <string>
#include <utility>
#include <vector>

namespace qivtest {

struct ProcessResult {
    // Every byte written to standard output and to standard error. On Windows as a text-mode
    // reader sees it: "\r\n" becomes "\n", and a "\n" without its "\r" becomes BARE_NEWLINE,
    // so comparisons with expected text also check the line ends.
    std::string out, err;
    int status = -1;       // exit status 0..255; 1000 + signal number when killed; -1 when it could not start
};

struct ProcessOptions {
    std::string cwd;                                       // working folder; empty: the caller's
    std::vector<std::pair<std::string, std::string>> env;  // variables set for the program, the rest inherited
    int timeout_s = 100;                                   // the program is killed after this many seconds
    // Once stdout holds this text: SIGINT to the program (POSIX), Ctrl-C to its own console (Windows).
    std::string interrupt_when = {};
};

// What a "\n" without "\r" turns into in ProcessResult on Windows.
inline constexpr const char* BARE_NEWLINE = "<LF without CR>\n";

// Text written on Windows as a text-mode reader sees it, with a bare "\n" made visible.
inline std::string text_mode(const std::string& raw) {
    std::string text;
    for (std::size_t i = 0; i < raw.size(); ++i) {
        if (raw[i] == '\n') text += i > 0 && raw[i - 1] == '\r' ? "\n" : BARE_NEWLINE;
        else if (raw[i] != '\r' || raw.compare(i + 1, 1, "\n") != 0) text += raw[i];
    }
    return text;
}

// Runs the program at path argv[0] with the arguments argv[1..] and standard input from the null device.
ProcessResult run_process(const std::vector<std::string>& argv, const ProcessOptions& options = {});

}  // namespace qivtest
