// console_ctrl_test.cpp - Ctrl-C in the middle of a pack or an unpack on Windows
//
// The tool runs in a console of its own; the test sends Ctrl-C to that
// console once the tool has announced the stage, on one thread at level 9 so
// that most frames are still to go when it arrives.
#include "support/support.hpp"

#include <gtest/gtest.h>

namespace {

using namespace qivtest;

constexpr int CTRL_C_EXIT = static_cast<int>(0xC000013A);  // STATUS_CONTROL_C_EXIT

TEST(ConsoleCtrl, CtrlCRemovesThePartialOutputAndEndsAsWindowsEndsIt) {
    TempDir dir;
    write_file(dir / "img", make_image("t", 32 << 20, 7));
    ASSERT_EQ(run_tool(dir, {"img", "packed"}).status, 0);
    const struct {
        std::vector<std::string> args;  // the output is always "out"
        const char* stage;              // Ctrl-C once this has been printed
    } rows[] = {
        {{"-l9", "img", "out"}, "Compressing...\n"},
        {{"-a", "-l9", "img", "out", "info"}, "Compressing...\n"},
        {{"-d", "packed", "out"}, "Decompressing...\n"},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.stage);
        std::vector<std::string> argv = {QIVPAK_BINARY};
        argv.insert(argv.end(), row.args.begin(), row.args.end());
        ProcessOptions options{dir.path.string(), {{"QIVPAK_THREADS", "1"}}, 60, row.stage};
        const ProcessResult r = run_process(argv, options);
        EXPECT_EQ(r.status, CTRL_C_EXIT) << r.out;
        EXPECT_EQ(r.out.find("Finished."), std::string::npos) << "the run went on to the end";
        // The output and the analysis's temporary file are gone; the info file stays.
        std::set<std::string> expected = {"img", "packed"};
        if (row.args.size() == 5) expected.insert("info");
        EXPECT_EQ(dir.files(), expected);
        fs::remove(dir / "info");
    }
}

}  // namespace
