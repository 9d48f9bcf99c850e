// disc_test.cpp - qiv ls and qiv cat PATH on discs from xorriso: literal output, xorriso's own listing, refusals
#include "support/disc_fixtures.hpp"
#include "support/iso_image.hpp"

#include <gtest/gtest.h>

namespace {

using namespace qivtest;

struct Discs {
    TempDir dir;
    std::string made;  // "" or what failed
    Discs() {
        if (!have_xorriso()) return;
        made = make_discs(dir);
        write_file(dir / "zeros.iso", Bytes(40000, 0));
        // A file whose name holds an escape, then a folder that is the root again.
        HandDisc loop;
        loop.put(loop.put(loop.dir(20, 20), "E\x1b;1", 22, 0), "A\x1b", 20, SECTOR_SIZE, true);
        write_file(dir / "loop.iso", loop.bytes);
        for (const char* image : {"zeros", "loop"})
            if (made.empty() && run_tool(dir, {std::string(image) + ".iso", std::string(image) + ".qiv"}).status != 0)
                made = std::string("qivpak failed on ") + image;
    }
    ProcessResult qiv(std::vector<std::string> args) const {
        args.insert(args.begin(), QIV_BINARY);
        return run_process(args, {dir.path.string(), {}, 60, {}});
    }
};

struct Row {
    std::vector<std::string> args;
    std::string out, err;
    int status;
};

TEST(QivDisc, LsAndCatPrintTheirLiteralOutputAndStatus) {
    if (!have_xorriso()) GTEST_SKIP() << "xorriso is not installed: no disc to list";
    const Discs discs;
    ASSERT_EQ(discs.made, "");
    const Bytes data = deep_data();
    const Row rows[] = {
        {{"ls", "rr.qiv"},
         "Docs/\nDocs/Deep/\nDocs/Deep/data.bin\nDocs/readme.txt\nempty.bin\nlink\nprivate.txt\n", "", 0},
        {{"ls", "--long", "rr.qiv"},
         "drwxr-xr-x  2048 2023-01-02 03:04 Docs/\n"
         "drwxr-xr-x  2048 2023-01-02 03:04 Docs/Deep/\n"
         "-rw-r--r-- 20000 2023-01-02 03:04 Docs/Deep/data.bin\n"
         "-rw-r--r--     6 2024-03-05 06:07 Docs/readme.txt\n"
         "-rw-r--r--     0 2023-01-02 03:04 empty.bin\n"
         "lrwxrwxrwx     0 2023-01-02 03:04 link -> Docs/readme.txt\n"
         "-rw-r-----     6 2023-01-02 03:04 private.txt\n",
         "", 0},
        {{"ls", "--json", "rr.qiv", "Docs/readme.txt", "nope", "/link"},
         "[\n"
         "  {\"path\": \"Docs/readme.txt\", \"type\": \"file\", \"size\": 6, \"mtime\": \"2024-03-05T06:07:08Z\", \"mode\": \"0644\"},\n"
         "  {\"path\": \"link\", \"type\": \"symlink\", \"size\": 0, \"mtime\": \"2023-01-02T03:04:05Z\", \"mode\": \"0777\", "
         "\"target\": \"Docs/readme.txt\"}\n"
         "]\n",
         "qiv: rr.qiv: nope: no such file or folder\n", 1},
        {{"ls", "-l", "l1.qiv", "DOCS"},
         "dr-xr-xr-x  2048 2023-01-02 03:04 DOCS/\n"
         "dr-xr-xr-x  2048 2023-01-02 03:04 DOCS/DEEP/\n"
         "-r--r--r-- 20000 2023-01-02 03:04 DOCS/DEEP/DATA.BIN\n"
         "-r--r--r--     6 2024-03-05 06:07 DOCS/README.TXT\n",
         "", 0},
        {{"ls", "j.qiv"}, "café.txt\nÜnï/\nÜnï/note.txt\n日本語.txt\n", "", 0},
        {{"ls", "zeros.qiv"}, "", "qiv: zeros.qiv: not an ISO 9660 disc\n", 1},
        {{"ls", "loop.qiv"}, "E\\u001b\nA\\u001b/\n", "qiv: loop.qiv: directory loop at /A\\u001b\n", 1},
        {{"ls", "missing.qiv"}, "", "qiv: missing.qiv: Cannot open input file missing.qiv\n", 1},
        {{"cat", "rr.qiv", "Docs/readme.txt"}, "hello\n", "", 0},
        {{"cat", "j.qiv", "/Ünï/note.txt"}, "ccc", "", 0},
        {{"cat", "rr.qiv", "Docs/Deep/data.bin", "--offset", "8190", "--length", "5"},
         std::string(data.begin() + 8190, data.begin() + 8195), "", 0},
        {{"cat", "rr.qiv", "empty.bin"}, "", "", 0},
        {{"cat", "rr.qiv", "private.txt", "--offset", "2", "--length", "5"}, "",
         "qiv: rr.qiv: private.txt: the range passes the end of the file (6 bytes)\n", 1},
        {{"cat", "rr.qiv", "Docs"}, "", "qiv: rr.qiv: Docs: is a folder\n", 1},
        {{"cat", "rr.qiv", "nope"}, "", "qiv: rr.qiv: nope: no such file or folder\n", 1},
        {{"cat", "zeros.qiv", "x"}, "", "qiv: zeros.qiv: not an ISO 9660 disc\n", 1},
    };
    for (const Row& row : rows) {
        const ProcessResult run = discs.qiv(row.args);
        std::string line;
        for (const std::string& arg : row.args) line += " " + arg;
        EXPECT_EQ(run.status, row.status) << line;
        EXPECT_EQ(run.err, row.err) << line;
        EXPECT_EQ(run.out, row.out) << line;
    }
}

// qiv ls --long against xorriso's reading of the plain image: the same paths, modes, sizes and targets.
TEST(QivDisc, LsLongAgreesWithXorriso) {
    if (!have_xorriso()) GTEST_SKIP() << "xorriso is not installed: no disc to list";
    const Discs discs;
    ASSERT_EQ(discs.made, "");
    for (const std::string disc : {"rr", "l1", "j"}) {
        const ProcessResult run = discs.qiv({"ls", "--long", disc + ".qiv"});
        ASSERT_EQ(run.status, 0) << disc << ": " << run.err;
        std::map<std::string, XorrisoEntry> listed;
        std::istringstream lines(run.out);
        for (std::string text; std::getline(lines, text);) {
            std::istringstream fields(text);
            std::string mode, date, time, path, arrow, target;
            std::uint64_t size = 0;
            fields >> mode >> size >> date >> time >> path >> arrow >> target;
            listed[path] = {mode, mode[0] == 'd' ? 0 : size, target};
        }
        const auto expected = xorriso_listing(discs.dir / (disc + ".iso"));
        ASSERT_EQ(listed.size(), expected.size()) << disc;
        for (const auto& [path, e] : expected) {
            ASSERT_TRUE(listed.count(path)) << disc << ": " << path;
            // Without Rock Ridge xorriso shows files as executable; qiv shows them as plain read-only files.
            if (disc == "rr") {
                EXPECT_EQ(listed[path].mode, e.mode) << disc << ": " << path;
            }
            EXPECT_EQ(listed[path].size, e.size) << disc << ": " << path;
            EXPECT_EQ(listed[path].target, e.target) << disc << ": " << path;
        }
    }
}

}  // namespace
