// process_posix.cpp - run_process with posix_spawn, the program's output going to two unnamed temporary files
#include "support/process.hpp"

#include <fcntl.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <thread>

extern char** environ;

namespace qivtest {

namespace {

// Whether what the program has written to `file` so far holds `text`.
bool has_written(std::FILE* file, const std::string& text) {
    std::string written;
    char buf[4096];
    for (ssize_t got; (got = pread(fileno(file), buf, sizeof buf, static_cast<off_t>(written.size()))) > 0;)
        written.append(buf, static_cast<std::size_t>(got));
    return written.find(text) != std::string::npos;
}

}  // namespace

ProcessResult run_process(const std::vector<std::string>& argv, const ProcessOptions& options) {
    std::vector<std::string> args{"/usr/bin/env"};  // variables to set go through env(1), which then runs the program
    for (const auto& [name, value] : without_user_cache(options.env)) args.push_back(name + "=" + value);
    args.insert(args.end(), argv.begin(), argv.end());
    std::vector<char*> cargv;
    for (const auto& a : args) cargv.push_back(const_cast<char*>(a.c_str()));
    cargv.push_back(nullptr);

    ProcessResult result;
    std::FILE* outputs[2] = {std::tmpfile(), std::tmpfile()};
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, 0, "/dev/null", O_RDONLY, 0);
    for (int k = 0; k < 2; ++k)
        if (outputs[k] != nullptr) posix_spawn_file_actions_adddup2(&actions, fileno(outputs[k]), k + 1);
    if (!options.cwd.empty()) posix_spawn_file_actions_addchdir_np(&actions, options.cwd.c_str());
    pid_t pid = -1;
    if (outputs[0] != nullptr && outputs[1] != nullptr &&
        posix_spawn(&pid, cargv[0], &actions, nullptr, cargv.data(), environ) == 0) {
        const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(options.timeout_s);
        int wstatus = 0;
        bool interrupted = options.interrupt_when.empty();
        while (waitpid(pid, &wstatus, WNOHANG) == 0) {
            if (std::chrono::steady_clock::now() > deadline) kill(pid, SIGKILL);
            if (!interrupted && has_written(outputs[0], options.interrupt_when)) interrupted = kill(pid, SIGINT) == 0;
            std::this_thread::sleep_for(std::chrono::milliseconds(1));
        }
        result.status = WIFEXITED(wstatus) ? WEXITSTATUS(wstatus) : 1000 + WTERMSIG(wstatus);
    }
    posix_spawn_file_actions_destroy(&actions);
    for (int k = 0; k < 2; ++k) {
        std::string& text = k == 0 ? result.out : result.err;
        if (outputs[k] == nullptr) continue;
        std::rewind(outputs[k]);
        for (int c; (c = std::fgetc(outputs[k])) != EOF;) text += static_cast<char>(c);
        std::fclose(outputs[k]);
    }
    return result;
}

}  // namespace qivtest
