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

// The variable that names the folder of qiv's hash cache, set to `folder` (absolute).
inline std::pair<std::string, std::string> cache_home(const std::string& folder) {
#ifdef _WIN32
    return {"LOCALAPPDATA", folder};
#else
    return {"XDG_CACHE_HOME", folder};
#endif
}

// `env` with the variables of qiv's hash cache folder that it does not set set empty (XDG_CACHE_HOME
// and HOME; LOCALAPPDATA on Windows): a program run by a test has no hash cache unless the test gives
// it one, and never touches the cache of the person running the tests.
inline std::vector<std::pair<std::string, std::string>> without_user_cache(
    std::vector<std::pair<std::string, std::string>> env) {
#ifdef _WIN32
    const char* names[] = {"LOCALAPPDATA"};
#else
    const char* names[] = {"XDG_CACHE_HOME", "HOME"};
#endif
    for (const char* name : names) {
        bool named = false;
        for (const auto& variable : env) named = named || variable.first == name;
        if (!named) env.insert(env.begin(), {name, ""});
    }
    return env;
}

// Runs the program at path argv[0] (the environment as without_user_cache(options.env) makes it) with the arguments argv[1..] and standard input from the null device.
ProcessResult run_process(const std::vector<std::string>& argv, const ProcessOptions& options = {});

}  // namespace qivtest
