// process_posix.cpp - run_process with fork and exec, stdout and stderr through pipes
#include "support/process.hpp"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstring>

extern char** environ;

namespace qivtest {

namespace {

// The parent's environment with opt.env set over it, as "NAME=value" strings.
std::vector<std::string> child_environment(const ProcessOptions& opt) {
    std::vector<std::string> vars;
    for (char** e = environ; *e != nullptr; ++e) {
        const std::string var = *e;
        const std::string name = var.substr(0, var.find('='));
        bool replaced = false;
        for (const auto& [set_name, value] : opt.env) replaced = replaced || set_name == name;
        if (!replaced) vars.push_back(var);
    }
    for (const auto& [name, value] : opt.env) vars.push_back(name + "=" + value);
    return vars;
}

}  // namespace

bool file_size_limits_supported() { return true; }

ProcessResult run_process(const std::vector<std::string>& argv, const ProcessOptions& opt) {
    ProcessResult result;
    std::vector<char*> cargv;
    for (const auto& a : argv) cargv.push_back(const_cast<char*>(a.c_str()));
    cargv.push_back(nullptr);
    const std::vector<std::string> env = child_environment(opt);
    std::vector<char*> cenv;
    for (const auto& v : env) cenv.push_back(const_cast<char*>(v.c_str()));
    cenv.push_back(nullptr);

    int out_pipe[2];
    int err_pipe[2];
    if (pipe2(out_pipe, O_CLOEXEC) != 0) return result;
    if (pipe2(err_pipe, O_CLOEXEC) != 0) {
        close(out_pipe[0]);
        close(out_pipe[1]);
        return result;
    }
    const pid_t pid = fork();
    if (pid == 0) {
        // Child: only async-signal-safe calls from here to exec.
        const int null_fd = open("/dev/null", O_RDONLY);
        if (null_fd < 0 || dup2(null_fd, 0) < 0 || dup2(out_pipe[1], 1) < 0 || dup2(err_pipe[1], 2) < 0) _exit(126);
        if (!opt.cwd.empty() && chdir(opt.cwd.c_str()) != 0) _exit(126);
        if (opt.file_size_limit != kNoFileSizeLimit) {
            const rlimit lim{opt.file_size_limit, opt.file_size_limit};
            signal(SIGXFSZ, SIG_IGN);
            if (setrlimit(RLIMIT_FSIZE, &lim) != 0) _exit(126);
        }
        execve(cargv[0], cargv.data(), cenv.data());
        _exit(127);
    }
    close(out_pipe[1]);
    close(err_pipe[1]);
    if (pid < 0) {
        close(out_pipe[0]);
        close(err_pipe[0]);
        return result;
    }

    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(opt.timeout_s);
    pollfd fds[2] = {{out_pipe[0], POLLIN, 0}, {err_pipe[0], POLLIN, 0}};
    std::string* sinks[2] = {&result.out, &result.err};
    int open_count = 2;
    bool killed = false;
    bool interrupted = opt.interrupt_when.empty();
    while (open_count > 0) {
        const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - std::chrono::steady_clock::now());
        if (left.count() <= 0 && !killed) {
            kill(pid, SIGKILL);
            killed = true;
        }
        const int ready = poll(fds, 2, killed ? 1000 : static_cast<int>(left.count()));
        if ((ready < 0 && errno != EINTR) || (ready == 0 && killed)) break;
        for (int k = 0; k < 2; ++k) {
            if (fds[k].fd < 0 || fds[k].revents == 0) continue;
            char buf[65536];
            const ssize_t got = read(fds[k].fd, buf, sizeof buf);
            if (got > 0) {
                sinks[k]->append(buf, static_cast<std::size_t>(got));
            } else if (got == 0 || errno != EINTR) {
                close(fds[k].fd);
                fds[k].fd = -1;
                --open_count;
            }
        }
        if (!interrupted && result.out.find(opt.interrupt_when) != std::string::npos) {
            kill(pid, opt.interrupt_signal);
            interrupted = true;
        }
    }
    for (const auto& f : fds)
        if (f.fd >= 0) close(f.fd);

    int wstatus = 0;
    while (waitpid(pid, &wstatus, 0) < 0 && errno == EINTR) {
    }
    if (WIFEXITED(wstatus))
        result.status = WEXITSTATUS(wstatus);
    else if (WIFSIGNALED(wstatus))
        result.status = 1000 + WTERMSIG(wstatus);
    return result;
}

}  // namespace qivtest
