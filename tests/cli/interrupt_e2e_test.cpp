// interrupt_e2e_test.cpp - SIGINT, SIGTERM and SIGHUP in the middle of a pack or an unpack
//
// The output is a FIFO that the test reads: the tool blocks on it while the
// test holds back, so the signal always arrives with most frames still to go.
#include "support/process.hpp"
#include "support/temp_dir.hpp"
#include "support/test_data.hpp"

#include <gtest/gtest.h>

#include <csignal>
#include <fcntl.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

namespace {

using qivtest::TempDir;

// Starts the tool with stdout discarded; returns its pid.
pid_t spawn_tool(const std::vector<std::string>& args) {
    std::vector<std::string> argv = {QIVPAK_BINARY};
    argv.insert(argv.end(), args.begin(), args.end());
    const pid_t pid = fork();
    if (pid == 0) {
        const int null_fd = open("/dev/null", O_RDWR);
        dup2(null_fd, STDIN_FILENO);
        dup2(null_fd, STDOUT_FILENO);
        std::vector<char*> cargv;
        for (auto& a : argv) cargv.push_back(a.data());
        cargv.push_back(nullptr);
        execv(cargv[0], cargv.data());
        _exit(127);
    }
    return pid;
}

// Reads `limit` bytes (or to the end) from fd; returns how many came.
std::size_t drain_fd(int fd, std::size_t limit) {
    char buf[65536];
    std::size_t total = 0;
    while (total < limit) {
        const ssize_t got = read(fd, buf, std::min(sizeof buf, limit - total));
        if (got <= 0) break;
        total += static_cast<std::size_t>(got);
    }
    return total;
}

TEST(Interrupt, RemovesThePartialOutputAndDiesByTheSignal) {
    TempDir dir;
    qivtest::write_file(dir / "img", qivtest::random_bytes(4 << 20, 7));
    ASSERT_EQ(qivtest::run_process({QIVPAK_BINARY, dir.file("img"), dir.file("packed")}).status, 0);

    struct Row {
        const char* what;
        std::vector<std::string> args;  // the output is always dir/"out"
        int signal;
    };
    const Row rows[] = {
        {"pack, SIGINT", {dir.file("img"), dir.file("out")}, SIGINT},
        {"pack with analysis, SIGTERM", {"-a", dir.file("img"), dir.file("out"), dir.file("info")}, SIGTERM},
        {"unpack, SIGHUP", {"-d", dir.file("packed"), dir.file("out")}, SIGHUP},
        {"unpack, SIGINT", {"-d", dir.file("packed"), dir.file("out")}, SIGINT},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.what);
        ASSERT_EQ(mkfifo(dir.file("out").c_str(), 0600), 0);
        const pid_t pid = spawn_tool(row.args);
        const int fifo = open(dir.file("out").c_str(), O_RDONLY);  // waits until the tool opens it
        ASSERT_GE(fifo, 0);
        EXPECT_EQ(drain_fd(fifo, 100000), 100000u);
        kill(pid, row.signal);
        const std::size_t rest = drain_fd(fifo, SIZE_MAX);
        close(fifo);
        int status = 0;
        ASSERT_EQ(waitpid(pid, &status, 0), pid);
        ASSERT_TRUE(WIFSIGNALED(status)) << "exit status " << WEXITSTATUS(status);
        EXPECT_EQ(WTERMSIG(status), row.signal);
        EXPECT_LT(100000 + rest, std::size_t{4} << 20) << "the run went on to the end";
        // The output is gone, the info file (written before the output was opened) stays.
        EXPECT_FALSE(std::filesystem::exists(std::filesystem::symlink_status(dir / "out")));
        std::set<std::string> expected = {"img", "packed"};
        if (row.args.size() == 4) expected.insert("info");
        EXPECT_EQ(dir.files(), expected);
        std::filesystem::remove(dir / "info");
    }
}

}  // namespace
