// late_signal_test.cpp - a signal while the tables are written, or at the key prompt, in-process
#include "cli/console.hpp"
#include "cli/interrupt.hpp"
#include "cli/qivpak_main.hpp"

#include <gtest/gtest.h>

#include <csignal>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <string>

namespace {

namespace fs = std::filesystem;

// A stdout that raises SIGINT when the run prints `trigger`.
const char* trigger = nullptr;
ssize_t raise_on_trigger(void*, const char* buf, size_t size) {
    if (trigger != nullptr && std::string(buf, size).find(trigger) != std::string::npos) std::raise(SIGINT);
    return static_cast<ssize_t>(size);
}
// A key input that is interrupted while the run waits on it.
ssize_t interrupted_key(void*, char*, size_t) {
    std::raise(SIGINT);
    return 0;
}

int run_with(const std::string& dir, const char* print_trigger, bool wait) {
    trigger = print_trigger;
    std::FILE* out = fopencookie(nullptr, "w", {nullptr, raise_on_trigger, nullptr, nullptr});
    std::FILE* key = fopencookie(nullptr, "r", {interrupted_key, nullptr, nullptr, nullptr});
    qivpak::Console console(out, false);
    qivpak::install_interrupt_handlers();
    std::vector<std::string> args = {dir + "/image", dir + "/image.qiv"};
    if (wait) args.insert(args.begin(), "-w");
    return qivpak::run_qivpak(args, console, key, 2);
}

TEST(LateSignal, BeforeFinishedRemovesTheOutputAndAfterItKeepsIt) {
    struct Row {
        const char* trigger;
        bool wait;
        bool output_stays;
    };
    const Row rows[] = {
        {"Writing tables...", false, false},  // the index is not written yet
        {"Table size:", false, false},        // the container is not closed yet
        {nullptr, true, true},                // finished; interrupted at the key prompt
    };
    const fs::path dir = fs::temp_directory_path() / "qivpak-late-signal";
    for (const Row& row : rows) {
        SCOPED_TRACE(row.trigger != nullptr ? row.trigger : "key prompt");
        fs::remove_all(dir);
        fs::create_directories(dir);
        std::ofstream(dir / "image") << std::string(50000, 'q');
        EXPECT_EXIT(std::exit(run_with(dir.string(), row.trigger, row.wait)), ::testing::ExitedWithCode(128 + SIGINT),
                    "");
        EXPECT_EQ(fs::exists(dir / "image.qiv"), row.output_stays);
        if (row.output_stays) {
            // Finished: the index is written, so frame 0 is found right after it (32 + 6 x 7 frames).
            std::ifstream qiv(dir / "image.qiv", std::ios::binary);
            std::string head(36, '\0');
            qiv.read(head.data(), 36);
            EXPECT_EQ(head.substr(32), std::string("\x4a\0\0\0", 4));
        }
    }
    fs::remove_all(dir);
}

}  // namespace
