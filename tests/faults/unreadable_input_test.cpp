// unreadable_input_test.cpp - inputs that open but cannot be read, cannot be opened, or deliver less than their size
#include <gtest/gtest.h>

#include <sys/stat.h>
#include <unistd.h>

#include <cstdint>
#include <filesystem>
#include <fstream>
#include <optional>
#include <string>
#include <vector>

#include "faults/faults_support.hpp"
#include "support/test_data.hpp"

namespace {

using namespace qivfaults;
namespace fs = std::filesystem;

std::uint64_t stat_size(const std::string& path) {
    struct stat st{};
    return ::stat(path.c_str(), &st) == 0 ? static_cast<std::uint64_t>(st.st_size) : 0;
}

// Console text of a pack that ends when frame 0 of an image of `size` bytes cannot be read.
std::string unreadable_pack_text(std::uint64_t size, const std::string& path) {
    const std::uint64_t n = (size + kFrame - 1) / kFrame;
    return kBanner + "N of frames: " + std::to_string(n) + "\nCompressing...\nError: cannot read input file " + path +
           "\n";
}

TEST(UnreadableInput, DirectoryGivenAsInput) {
    TempDir dir;
    fs::create_directory(dir / "d");
    write_text(dir / "d" / "entry", "x");
    struct Row {
        std::vector<std::string> args;
        std::string text;
    };
#ifdef _WIN32
    // A directory does not open as a file.
    const std::vector<Row> rows = {
        {{"d", "out"}, kBanner + "Error: cannot open input file d\n"},
        {{"-d", "d", "out"}, kBanner + "Cannot open input file d\n"},
    };
#else
    // A directory opens for reading like a file, but every read fails. An entry
    // in it gives it a size above 0 on every common file system.
    const std::uint64_t size = stat_size(dir.file("d"));
    ASSERT_GT(size, 0u);
    ASSERT_LT(size, std::uint64_t{1} << 32);
    const std::vector<Row> rows = {
        {{"d", "out"}, unreadable_pack_text(size, "d")},
        {{"-d", "d", "out"}, kBanner + kNotQiv},
    };
#endif
    for (const auto& row : rows) {
        SCOPED_TRACE(row.args.front());
        fs::remove(dir / "out");
        const auto r = qivpak(dir, row.args);
        EXPECT_EQ(r.status, kQuitFailure);
        EXPECT_EQ(r.out, row.text);
        EXPECT_EQ(r.err, "");
    }
}

TEST(UnreadableInput, FileWithoutReadPermission) {
#ifdef _WIN32
    GTEST_SKIP() << "Windows has no permission bits that stop reading";
#else
    if (::geteuid() == 0) GTEST_SKIP() << "permission bits do not stop root from reading";
#endif
    TempDir dir;
    write_file(dir / "img", text_bytes(3 * kFrame, 81));
    write_file(dir / "c.qiv", Bytes{'Q', 'I', 'V', 0});
    fs::permissions(dir / "img", fs::perms::none);
    fs::permissions(dir / "c.qiv", fs::perms::none);
    struct Row {
        std::vector<std::string> args;
        std::string text;
    };
    const std::vector<Row> rows = {
        {{"img", "out"}, kBanner + "Error: cannot open input file img\n"},
        {{"-a", "img", "out"}, kBanner + "Error: cannot open input file img\n"},
        {{"-v", "img", "out"}, kBanner + "Error: cannot open input file img\n"},
        {{"-d", "c.qiv", "out"}, kBanner + "Cannot open input file c.qiv\n"},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.args.front());
        const auto r = qivpak(dir, row.args);
        EXPECT_EQ(r.status, kQuitFailure);
        EXPECT_EQ(r.out, row.text);
        EXPECT_EQ(r.err, "");
        EXPECT_FALSE(fs::exists(dir / "out"));
    }
}

// A kernel attribute file: its size says a page, a read gives a few bytes.
// It stands for an input that shrank after its size was taken, and behaves
// the same on every run.
std::optional<std::string> file_shorter_than_its_size() {
    for (const char* path : {"/sys/devices/system/cpu/online", "/sys/devices/system/cpu/possible",
                             "/sys/kernel/mm/transparent_hugepage/enabled"}) {
        std::ifstream in(path, std::ios::binary);
        if (!in) continue;
        const std::string text((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
        const std::uint64_t size = stat_size(path);
        if (size > text.size() && size < kFrame) return std::string(path);
    }
    return std::nullopt;
}

TEST(UnreadableInput, InputDeliversFewerBytesThanItsSize) {
    const auto path = file_shorter_than_its_size();
    if (!path) GTEST_SKIP() << "no file here delivers fewer bytes than its size";
    const std::uint64_t size = stat_size(*path);
    TempDir dir;
    // The analysis looks only at whole frames, of which there are none, so
    // both runs fail where the frame is read for packing.
    struct Row {
        std::vector<std::string> args;
        std::string before;
    };
    const std::vector<Row> rows = {
        {{*path, "out"}, ""},
        {{"-a", *path, "out"}, "Analyzing file...\n100%\nNumbers of NC Areas: 0\n"},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.args.front());
        const auto r = qivpak(dir, row.args);
        EXPECT_EQ(r.status, kQuitFailure);
        std::string expected = unreadable_pack_text(size, *path);
        expected.insert(kBanner.size(), row.before);
        EXPECT_EQ(r.out, expected);
        EXPECT_EQ(r.err, "");
    }
}

}  // namespace
