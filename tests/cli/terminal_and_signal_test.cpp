// terminal_and_signal_test.cpp - the progress line on a pseudo-terminal, and runs stopped by a signal early or late
#include "io/interrupt.hpp"
#include "cli/qivpak_main.hpp"
#include "support/container.hpp"

#include <gtest/gtest.h>
#include <fcntl.h>
#include <pty.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <csignal>

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
    fs::resize_file(dir / "in", 1200 * kFrame);  // the analysis shows 0% and 83%, the pack 50% and 100% in its loop
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
    EXPECT_EQ(status, 0);
    // The terminal turns "\n" into "\r\n"; ESC[nA moves the cursor n rows up, ESC[nG to column n.
    const std::string expected = "QIV Creator 0.3 (by Brenlo)\r\n\r\nAnalyzing file...\r\n\x1b[1A\x1b[20G0%\x1b[20G83%"
                                 "\x1b[19G100%\r\nNumbers of NC Areas: 0\r\nN of frames: 1200\r\nCompressing...\r\n"
                                 "\x1b[1A\x1b[17G50%\x1b[16G100%\x1b[16G100%\r\nTotal frames written: 1200\r\n"
                                 "Writing tables...\r\nTable size: 4800+2400=7200\r\nFinished.\r\n\r\nReport: ";
    EXPECT_EQ(bytes.substr(0, expected.size()), expected);
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
        while (read(fifo, buf, sizeof buf) > 0) continue;
        close(fifo);
        int status = 0;
        ASSERT_EQ(waitpid(pid, &status, 0), pid);
        EXPECT_TRUE(WIFSIGNALED(status) && WTERMSIG(status) == signal) << "status " << status;
        EXPECT_FALSE(fs::exists(fs::symlink_status(dir / "out")));
        fs::remove(dir / "info");  // written before the output was opened: finished work, left in place
    }
}

// In-process, so that SIGINT comes at an exact point: when the run prints `trigger` (nullptr: never),
// and when -w reads its key.
const char* trigger = nullptr;
ssize_t raise_on_trigger(void*, const char* buf, size_t size) {
    if (trigger != nullptr && std::string_view(buf, size).find(trigger) != std::string_view::npos) std::raise(SIGINT);
    return static_cast<ssize_t>(size);
}
ssize_t interrupted_key(void*, char*, size_t) { return std::raise(SIGINT), 0; }

TEST(LateSignal, BeforeFinishedRemovesTheOutputAndAfterItKeepsIt) {
    // SIGINT once the run prints this, or (nullptr) at the -w prompt after the run has finished.
    const char* const rows[] = {"Writing tables...",  // the index is not written yet
                                "Table size:",        // the container is not closed yet
                                nullptr};
    TempDir dir;
    const Bytes image(50000, 'q');
    write_file(dir / "image", image);
    for (const char* print : rows) {
        SCOPED_TRACE(print != nullptr ? print : "key prompt");
        const bool output_stays = print == nullptr;
        const auto run = [&] {
            trigger = print;
            qivpak::Console console(fopencookie(nullptr, "w", {nullptr, raise_on_trigger, nullptr, nullptr}), false);
            std::FILE* key = fopencookie(nullptr, "r", {interrupted_key, nullptr, nullptr, nullptr});
            qivpak::install_interrupt_handlers();
            std::vector<std::string> args = {(dir / "image").string(), (dir / "image.qiv").string()};
            if (print == nullptr) args.insert(args.begin(), "-w");
            std::exit(qivpak::run_qivpak(args, console, key, "2"));
        };
        EXPECT_EXIT(run(), ::testing::ExitedWithCode(128 + SIGINT), "");
        EXPECT_EQ(fs::exists(dir / "image.qiv"), output_stays);
        if (!output_stays) continue;
        Parsed parsed;  // the output kept is the whole container
        ASSERT_EQ(parse_container(read_file(dir / "image.qiv"), -1, parsed), "");
        EXPECT_TRUE(parsed.image == image);
    }
}

}  // namespace

namespace {

// A run blocked in a call (opening a pipe nobody writes) ends within a second of a signal, however
// early the signal comes, with no output left behind; a pipe or /dev/zero to pack is refused at once.
TEST(Signal, EndsARunBlockedInACallAndRefusesWhatHasNoSize) {
    TempDir dir;
    ASSERT_EQ(mkfifo((dir / "fifo").c_str(), 0600), 0);
    const std::string not_a_file = " is not a regular file or a disc drive\n";
    for (const char* input : {"fifo", "/dev/zero"}) {
        const ProcessResult r = run_tool(dir, {input, "out"});
        EXPECT_EQ(r.out, kBanner + "Error: input file " + input + not_a_file) << input;
        EXPECT_EQ(r.status, 255);
    }
    const std::pair<std::vector<std::string>, bool> rows[] = {
        {{QIVPAK_BINARY, "-d", "fifo", "out"}, false},
        {{QIV_TEST_BINARY, "unpack", "fifo"}, true},  // its temporary output is removed too
    };
    for (const auto& [args, is_qiv] : rows) {
        SCOPED_TRACE(args[1]);
        if (args[0].empty()) continue;  // qiv is not built
        const pid_t pid = fork();
        ASSERT_GE(pid, 0);
        if (pid == 0) {
            std::vector<char*> argv;
            for (const std::string& a : args) argv.push_back(const_cast<char*>(a.c_str()));
            argv.push_back(nullptr);
            const int null = open("/dev/null", O_WRONLY);
            if (null >= 0 && dup2(null, 1) == 1 && dup2(null, 2) == 2 && chdir(dir.path.c_str()) == 0)
                execv(argv[0], argv.data());
            _exit(127);
        }
        // SIGINT every 50 ms from the start: whether it finds the open under way or not yet begun.
        int status = -1;
        int waited_ms = 0;
        for (; waitpid(pid, &status, WNOHANG) == 0 && waited_ms < 5000; waited_ms += 50) {
            kill(pid, SIGINT);
            usleep(50000);
        }
        if (waited_ms >= 5000) kill(pid, SIGKILL), waitpid(pid, &status, 0);
        EXPECT_LT(waited_ms, 1000);
        EXPECT_TRUE(WIFSIGNALED(status) && WTERMSIG(status) == SIGINT) << status;
        EXPECT_EQ(dir.files(), (std::set<std::string>{"fifo"})) << (is_qiv ? "qiv" : "qivpak");
    }
}

}  // namespace
