// terminal_and_signal_test.cpp - the progress line on a real pseudo-terminal, and a run stopped by a signal
#include "support/support.hpp"

#include <gtest/gtest.h>
#include <fcntl.h>
#include <pty.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

namespace {

using namespace qivtest;

// In a child: runs the tool in `dir` with `args`, its standard output going to `out` unless that is -1.
[[noreturn]] void exec_tool(const TempDir& dir, std::vector<std::string> args, int out = -1) {
    args.insert(args.begin(), QIVPAK_BINARY);
    std::vector<char*> argv;
    for (auto& a : args) argv.push_back(a.data());
    argv.push_back(nullptr);
    if ((out < 0 || dup2(out, 1) == 1) && chdir(dir.path.c_str()) == 0) execv(argv[0], argv.data());
    _exit(127);
}

TEST(Terminal, ProgressOverwritesTheAnnouncementLineInPlace) {
    TempDir dir;
    write_file(dir / "in", "");
    fs::resize_file(dir / "in", 1300 * kFrame);  // the analysis shows 76%, the pack 46% and 92%
    int terminal = -1;
    const pid_t pid = forkpty(&terminal, nullptr, nullptr, nullptr);
    ASSERT_GE(pid, 0);
    if (pid == 0) exec_tool(dir, {"-a", "in", "out"});
    std::string bytes;
    char buf[4096];
    for (ssize_t got; (got = read(terminal, buf, sizeof buf)) > 0;) bytes.append(buf, static_cast<std::size_t>(got));
    close(terminal);  // the read above ends when the tool has closed its side
    int status = -1;
    ASSERT_EQ(waitpid(pid, &status, 0), pid);
    EXPECT_EQ(status, 0) << bytes;
    // The screen: printable bytes, CR, LF and the cursor moves ESC[nA (up), ESC[nB (down) and ESC[nG (to a column).
    std::vector<std::string> rows(30);
    std::size_t row = 0, col = 0, n = 0;
    for (std::size_t i = 0; i < bytes.size() && row < rows.size(); ++i) {
        const char c = bytes[i];
        if (c == '\x1b' && bytes.compare(i + 1, 1, "[") == 0) {
            for (i += 2, n = 0; i < bytes.size() && std::isdigit(static_cast<unsigned char>(bytes[i])); ++i)
                n = n * 10 + static_cast<std::size_t>(bytes[i] - '0');
            ASSERT_TRUE(i < bytes.size() && std::string_view("ABG").find(bytes[i]) != std::string_view::npos);
            row = bytes[i] == 'A' ? row - std::min(row, n) : bytes[i] == 'B' ? row + n : row;
            col = bytes[i] == 'G' ? std::max<std::size_t>(n, 1) - 1 : col;
        } else if (c == '\r' || c == '\n') {
            col = 0;
            row += c == '\n';
        } else {
            rows[row].resize(std::max(rows[row].size(), col + 1), ' ');
            rows[row][col++] = c;
        }
    }
    EXPECT_EQ(rows[2], "Analyzing file... 100%");
    EXPECT_EQ(rows[4], "N of frames: 1300");
    EXPECT_EQ(rows[5], "Compressing... 100%");
    EXPECT_EQ(rows[6], "Total frames written: 1300");
    for (const char* shown : {"\x1b[20G76%", "\x1b[17G46%"}) EXPECT_NE(bytes.find(shown), std::string::npos) << bytes;
}

TEST(Signal, RemovesTheUnfinishedOutputAndEndsTheRunByTheSignal) {
    TempDir dir;
    write_file(dir / "in", make_image("n", 4 << 20, 1));
    ASSERT_EQ(run_tool(dir, {"in", "in.qiv"}).status, 0);
    const std::pair<std::vector<std::string>, int> rows[] = {
        {{"in", "out"}, SIGINT}, {{"-a", "in", "out", "info"}, SIGTERM}, {{"-d", "in.qiv", "out"}, SIGHUP}};
    for (const auto& [args, signal] : rows) {
        SCOPED_TRACE(testing::PrintToString(args));
        // The output is a pipe that this test reads: the tool waits on it until the signal has come.
        ASSERT_EQ(mkfifo((dir / "out").c_str(), 0600), 0);
        const pid_t pid = fork();
        if (pid == 0) exec_tool(dir, args, open("/dev/null", O_WRONLY));
        const int fifo = open((dir / "out").c_str(), O_RDONLY);  // opens once the tool opens its side
        char buf[65536];
        EXPECT_GT(read(fifo, buf, sizeof buf), 0);
        kill(pid, signal);
        while (read(fifo, buf, sizeof buf) > 0) {
        }
        close(fifo);
        int status = 0;
        ASSERT_EQ(waitpid(pid, &status, 0), pid);
        EXPECT_TRUE(WIFSIGNALED(status) && WTERMSIG(status) == signal) << "status " << status;
        EXPECT_FALSE(fs::exists(fs::symlink_status(dir / "out")));
        fs::remove(dir / "info");  // written before the output was opened: finished work, left in place
    }
}

}  // namespace
