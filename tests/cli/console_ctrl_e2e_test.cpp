// console_ctrl_e2e_test.cpp - Ctrl-C in the middle of a pack or an unpack on Windows
//
// The tool runs in a console of its own; the test sends Ctrl-C to that
// console once the tool has announced the stage, on one thread at level 9 so
// that most frames are still to go when it arrives.
#include "support/process.hpp"
#include "support/temp_dir.hpp"
#include "support/test_data.hpp"

#include <gtest/gtest.h>

namespace {

using qivtest::TempDir;

constexpr int kCtrlCExit = static_cast<int>(0xC000013A);  // STATUS_CONTROL_C_EXIT

TEST(ConsoleCtrl, CtrlCRemovesThePartialOutputAndEndsAsWindowsEndsIt) {
    TempDir dir;
    qivtest::write_file(dir / "img", qivtest::text_bytes(32 << 20, 7));
    ASSERT_EQ(qivtest::run_process({QIVPAK_BINARY, dir.file("img"), dir.file("packed")}).status, 0);

    struct Row {
        const char* what;
        std::vector<std::string> args;  // the output is always dir/"out"
        const char* stage;              // Ctrl-C once this has been printed
    };
    const Row rows[] = {
        {"pack", {"-l9", dir.file("img"), dir.file("out")}, "Compressing...\n"},
        {"pack with analysis", {"-a", "-l9", dir.file("img"), dir.file("out"), dir.file("info")}, "Compressing...\n"},
        {"unpack", {"-d", dir.file("packed"), dir.file("out")}, "Decompressing...\n"},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.what);
        std::vector<std::string> argv = {QIVPAK_BINARY};
        argv.insert(argv.end(), row.args.begin(), row.args.end());
        qivtest::ProcessOptions opt;
        opt.env = {{"QIVPAK_THREADS", "1"}};
        opt.interrupt_when = row.stage;
        const auto r = qivtest::run_process(argv, opt);
        EXPECT_EQ(r.status, kCtrlCExit) << r.out;
        EXPECT_NE(r.out.find(row.stage), std::string::npos) << r.out;
        EXPECT_EQ(r.out.find("Finished."), std::string::npos) << "the run went on to the end";
        EXPECT_EQ(r.err, "");
        // The output and the analysis's temporary file are gone; the info
        // file (written before the output was opened) stays.
        std::set<std::string> expected = {"img", "packed"};
        if (row.args.size() == 5) expected.insert("info");
        EXPECT_EQ(dir.files(), expected);
        std::filesystem::remove(dir / "info");
    }
}

}  // namespace
