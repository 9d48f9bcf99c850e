// pty_test.cpp - runs qivpak on a pseudo-terminal and replays its output on a small screen model
#include <gtest/gtest.h>
#include <poll.h>
#include <pty.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <string>
#include <vector>

#include "support/temp_dir.hpp"
#include "support/test_data.hpp"

namespace {

using namespace qivtest;

struct PtyRun {
    std::string raw;  // bytes as the terminal received them (newlines arrive as "\r\n")
    int status = -1;
};

PtyRun run_on_pty(const TempDir& dir, const std::vector<std::string>& args) {
    std::vector<std::string> argv = {QIVPAK_BINARY};
    argv.insert(argv.end(), args.begin(), args.end());
    std::vector<char*> cargv;
    for (auto& a : argv) cargv.push_back(a.data());
    cargv.push_back(nullptr);
    const std::string cwd = dir.path().string();

    PtyRun run;
    winsize size{};
    size.ws_row = 24;
    size.ws_col = 80;
    int master = -1;
    const pid_t pid = forkpty(&master, nullptr, nullptr, &size);
    if (pid < 0) return run;
    if (pid == 0) {
        if (chdir(cwd.c_str()) != 0) _exit(126);
        execv(cargv[0], cargv.data());
        _exit(127);
    }
    for (;;) {
        pollfd p{master, POLLIN, 0};
        if (poll(&p, 1, 120000) <= 0) {
            kill(pid, SIGKILL);
            break;
        }
        char buf[4096];
        const ssize_t got = read(master, buf, sizeof buf);
        if (got > 0)
            run.raw.append(buf, static_cast<std::size_t>(got));
        else if (got == 0 || errno != EINTR)
            break;  // EIO once the child has closed the terminal
    }
    close(master);
    int wstatus = 0;
    while (waitpid(pid, &wstatus, 0) < 0 && errno == EINTR) {
    }
    run.status = WIFEXITED(wstatus) ? WEXITSTATUS(wstatus) : 1000 + WTERMSIG(wstatus);
    return run;
}

// Plays terminal output onto rows of characters: printable bytes, CR, LF,
// backspace and the CSI cursor moves A, B, C, D, G and erase K. Records the
// cursor's row each time a '%' is printed.
class Screen {
public:
    explicit Screen(const std::string& bytes) {
        for (std::size_t i = 0; i < bytes.size(); ++i) {
            const char ch = bytes[i];
            if (ch == '\x1b' && i + 1 < bytes.size() && bytes[i + 1] == '[') {
                std::size_t end = i + 2;
                while (end < bytes.size() && (bytes[end] < 0x40 || bytes[end] > 0x7e)) ++end;
                if (end == bytes.size()) break;
                csi(bytes.substr(i + 2, end - i - 2), bytes[end]);
                i = end;
            } else if (ch == '\r') {
                col_ = 0;
            } else if (ch == '\n') {
                move_to(row_ + 1, col_);
            } else if (ch == '\b') {
                if (col_ > 0) --col_;
            } else if (ch == '\x1b') {
                unknown.push_back(std::string(1, ch));
            } else {
                put(ch);
            }
        }
    }

    // The rows with trailing blanks removed, trailing empty rows dropped.
    std::vector<std::string> lines() const {
        std::vector<std::string> out;
        for (auto r : rows_) {
            r.erase(r.find_last_not_of(' ') + 1);
            out.push_back(r);
        }
        while (!out.empty() && out.back().empty()) out.pop_back();
        return out;
    }

    // The row as it stood after each '%' printed on a row that begins with `announcement`.
    std::vector<std::string> progress_rows(const std::string& announcement) const {
        std::vector<std::string> out;
        for (const auto& r : percent_rows_)
            if (r.starts_with(announcement)) out.push_back(r);
        return out;
    }

    std::vector<std::string> unknown;  // escape sequences this model does not know

private:
    void move_to(std::size_t row, std::size_t col) {
        row_ = row;
        col_ = col;
        if (rows_.size() <= row_) rows_.resize(row_ + 1);
    }
    void put(char ch) {
        std::string& r = rows_[row_];
        if (r.size() <= col_) r.resize(col_ + 1, ' ');
        r[col_++] = ch;
        if (ch == '%') percent_rows_.push_back(r);
    }
    void csi(const std::string& param, char final) {
        const bool plain = param.find_first_not_of("0123456789") == std::string::npos;
        const std::size_t n = plain && !param.empty() ? std::stoul(param) : 1;
        if (!plain) {
            unknown.push_back("ESC[" + param + final);
        } else if (final == 'A') {
            move_to(row_ >= n ? row_ - n : 0, col_);
        } else if (final == 'B') {
            move_to(row_ + n, col_);
        } else if (final == 'C') {
            col_ += n;
        } else if (final == 'D') {
            col_ = col_ >= n ? col_ - n : 0;
        } else if (final == 'G') {
            col_ = n - 1;
        } else if (final == 'K' && (param.empty() || param == "0")) {
            if (rows_[row_].size() > col_) rows_[row_].resize(col_);
        } else {
            unknown.push_back("ESC[" + param + final);
        }
    }

    std::vector<std::string> rows_{1};
    std::vector<std::string> percent_rows_;
    std::size_t row_ = 0;
    std::size_t col_ = 0;
};

TEST(E2eTerminal, ProgressOverwritesInPlace) {
    const Bytes image = text_bytes(std::size_t{1300} * 8192, 61);
    TempDir dir;
    write_file(dir / "img", image);

    const PtyRun pack = run_on_pty(dir, {"img", "c.qiv"});
    ASSERT_EQ(pack.status, 0) << pack.raw;
    const Screen packed(pack.raw);
    EXPECT_EQ(packed.unknown, std::vector<std::string>{});
    EXPECT_EQ(packed.progress_rows("Compressing..."),
              (std::vector<std::string>{"Compressing...  46%", "Compressing...  92%", "Compressing... 100%"}));
    const auto container_kb = std::filesystem::file_size(dir / "c.qiv") / 1024;
    EXPECT_EQ(packed.lines(), (std::vector<std::string>{
                                  "QIV Creator 0.3 (by Brenlo)", "", "N of frames: 1300", "Compressing... 100%",
                                  "Total frames written: 1300", "Writing tables...", "Table size: 5200+2600=7800",
                                  "Finished.", "",
                                  "Report: 10400 KB -> " + std::to_string(container_kb) + " KB (" +
                                      std::to_string(container_kb * 100 / 10400) + "%)"}));
    EXPECT_NE(pack.raw.find("\x1b[17G46%"), std::string::npos);
    EXPECT_NE(pack.raw.find("\x1b[17G92%"), std::string::npos);
    EXPECT_NE(pack.raw.find("\x1b[16G100%\r\n"), std::string::npos);

    const PtyRun unpack = run_on_pty(dir, {"-d", "c.qiv", "back"});
    ASSERT_EQ(unpack.status, 0) << unpack.raw;
    const Screen unpacked(unpack.raw);
    EXPECT_EQ(unpacked.unknown, std::vector<std::string>{});
    EXPECT_EQ(unpacked.progress_rows("Decompressing..."),
              (std::vector<std::string>{"Decompressing...  0%", "Decompressing...  46%", "Decompressing...  92%",
                                        "Decompressing... 100%"}));
    EXPECT_EQ(unpacked.lines(), (std::vector<std::string>{"QIV Creator 0.3 (by Brenlo)", "", "N of frames: 1300",
                                                          "Decompressing... 100%", "Finished."}));
    EXPECT_NE(unpack.raw.find("\x1b[19G0%"), std::string::npos);
    EXPECT_NE(unpack.raw.find("\x1b[18G100%\r\n"), std::string::npos);
    EXPECT_TRUE(read_file(dir / "back") == image);
}

}  // namespace
