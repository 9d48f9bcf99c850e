// file_test.cpp - the file wrapper: text modes, long formatted lines, concurrent positional reads, temporaries
#include "io/file.hpp"
#include "support/temp_dir.hpp"
#include "support/test_data.hpp"

#include <gtest/gtest.h>

#include <string>
#include <thread>
#include <vector>

namespace {

using qivpak::File;
using qivtest::TempDir;

#ifdef _WIN32
const std::string kTextLineEnd = "\r\n";
#else
const std::string kTextLineEnd = "\n";
#endif

TEST(File, WritesWhatEachModeSays) {
    const std::string long_line(3000, 'x');
    struct Row {
        File::Mode mode;
        std::string before;    // the file's bytes before the run
        std::string expected;  // after writing "a\nb", then the long line and "\n" by file_printf
    };
    const std::vector<Row> rows = {
        {File::Mode::truncate, "old", "a\nb" + long_line + "\n"},
        {File::Mode::append, "old", "olda\nb" + long_line + "\n"},
        {File::Mode::truncate_text, "old", "a" + kTextLineEnd + "b" + long_line + kTextLineEnd},
        {File::Mode::append_text, "old", "olda" + kTextLineEnd + "b" + long_line + kTextLineEnd},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(static_cast<int>(row.mode));
        TempDir dir;
        qivtest::write_text(dir / "f", row.before);
        auto file = File::open(dir.file("f"), row.mode);
        ASSERT_TRUE(file.has_value());
        ASSERT_TRUE(file->write_all("a\nb", 3));
        ASSERT_TRUE(qivpak::file_printf(*file, "%s\n", long_line.c_str()));
        ASSERT_TRUE(file->close());
        EXPECT_EQ(qivtest::read_text(dir / "f"), row.expected);
    }
}

TEST(File, PositionalReadsFromManyThreadsAtOnce) {
    TempDir dir;
    const auto data = qivtest::random_bytes(1 << 20, 3);
    qivtest::write_file(dir / "f", data);
    auto file = File::open(dir.file("f"), File::Mode::read);
    ASSERT_TRUE(file.has_value());
    ASSERT_EQ(file->size(), data.size());
    std::vector<int> wrong(8, 0);
    std::vector<std::thread> readers;
    for (std::size_t t = 0; t < wrong.size(); ++t)
        readers.emplace_back([&, t] {
            std::vector<std::uint8_t> chunk(4099);
            for (std::size_t at = t * 997; at < data.size(); at += 8 * 997) {
                const std::size_t got = file->read_at(at, chunk.data(), chunk.size());
                const std::size_t want = std::min(chunk.size(), data.size() - at);
                if (got != want || !std::equal(chunk.begin(), chunk.begin() + static_cast<std::ptrdiff_t>(got),
                                               data.begin() + static_cast<std::ptrdiff_t>(at)))
                    ++wrong[t];
            }
        });
    for (auto& r : readers) r.join();
    EXPECT_EQ(wrong, std::vector<int>(8, 0));
    // read_full goes on from where it was, whatever read_at did.
    std::vector<std::uint8_t> head(10);
    ASSERT_EQ(file->read_full(head.data(), head.size()), head.size());
    EXPECT_TRUE(std::equal(head.begin(), head.end(), data.begin()));
    EXPECT_EQ(file->read_at(data.size() - 2, head.data(), head.size()), 2u);
}

TEST(File, NamesAreUtf8) {
    TempDir dir;
    // "dïr €.txt", joined as bytes: a narrow std::filesystem::path is not UTF-8 everywhere.
    const std::string name = dir.path().string() + "/d\xC3\xAFr \xE2\x82\xAC.txt";
    const std::filesystem::path wide = dir.path() / std::filesystem::path(u8"d\u00EFr \u20AC.txt");
    auto file = File::open(name, File::Mode::truncate);
    ASSERT_TRUE(file.has_value());
    ASSERT_TRUE(file->close());
    EXPECT_TRUE(std::filesystem::exists(wide));
    EXPECT_TRUE(qivpak::remove_file(name));
    EXPECT_FALSE(std::filesystem::exists(wide));
    EXPECT_FALSE(qivpak::remove_file(name));
}

TEST(File, DirectoryOfAPath) {
    struct Row {
        const char* path;
        const char* directory;
    };
    const std::vector<Row> rows = {
        {"out.qiv", "."},
        {"d\xC3\xAFr/out.qiv", "d\xC3\xAFr"},
        {"/out.qiv", "/"},
        {"a/b/out.qiv", "a/b"},
#ifdef _WIN32
        {"a\\b\\out.qiv", "a\\b"},
        {"C:out.qiv", "C:"},
        {"C:\\out.qiv", "C:\\"},
        {"\\out.qiv", "\\"},
#else
        {"a\\b\\out.qiv", "."},
#endif
    };
    for (const Row& row : rows) EXPECT_EQ(qivpak::directory_of(row.path), row.directory) << row.path;
}

TEST(File, TemporaryReadsBackAndLeavesNothingBehind) {
    TempDir dir;
    {
        auto temp = File::temporary_in(dir.path().string());
        ASSERT_TRUE(temp.has_value());
        ASSERT_TRUE(temp->write_all("frames", 6));
        ASSERT_TRUE(temp->seek(0));
        char back[6] = {};
        ASSERT_EQ(temp->read_full(back, sizeof back), sizeof back);
        EXPECT_EQ(std::string(back, sizeof back), "frames");
    }
    EXPECT_TRUE(dir.files().empty());
    EXPECT_FALSE(File::temporary_in((dir / "missing").string()).has_value());
}

}  // namespace
