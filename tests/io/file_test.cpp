// file_test.cpp - the file wrapper on each system: text modes, UTF-8 names, directories, the temporary file
#include "io/file.hpp"
#include "support/support.hpp"

#include <gtest/gtest.h>

namespace {

using qivpak::File;
using namespace qivtest;

#ifdef _WIN32
const std::string LINE_END = "\r\n";
#else
const std::string LINE_END = "\n";
#endif

TEST(File, WritesWhatEachModeSays) {
    const struct {
        File::Mode mode;
        std::string expected;  // after "old", then "a\nb\n" written
    } rows[] = {
        {File::Mode::truncate, "a\nb\n"},
        {File::Mode::append, "olda\nb\n"},
        {File::Mode::truncate_text, "a" + LINE_END + "b" + LINE_END},
        {File::Mode::append_text, "olda" + LINE_END + "b" + LINE_END},
    };
    for (const auto& row : rows) {
        TempDir dir;
        write_file(dir / "f", "old");
        auto file = File::open((dir / "f").string(), row.mode);
        ASSERT_TRUE(file.has_value());
        ASSERT_TRUE(file->write_all("a\nb\n", 4));
        ASSERT_TRUE(file->close());
        EXPECT_EQ(read_text(dir / "f"), row.expected) << static_cast<int>(row.mode);
    }
}

TEST(File, NamesAreUtf8) {
    TempDir dir;
    // "dïr €.txt", joined as bytes: a narrow std::filesystem::path is not UTF-8 everywhere.
    const std::string name = dir.path.string() + "/d\xC3\xAFr \xE2\x82\xAC.txt";
    const fs::path wide = dir.path / fs::path(u8"d\u00EFr \u20AC.txt");
    ASSERT_TRUE(File::open(name, File::Mode::truncate).has_value());
    EXPECT_TRUE(fs::exists(wide) && qivpak::remove_file(name) && !fs::exists(wide) && !qivpak::remove_file(name));
}

TEST(File, DirectoryOfAPath) {
    const std::pair<const char*, const char*> rows[] = {
        {"out.qiv", "."}, {"d\xC3\xAFr/out.qiv", "d\xC3\xAFr"}, {"/out.qiv", "/"}, {"a/b/out.qiv", "a/b"},
#ifdef _WIN32
        {"a\\b\\out.qiv", "a\\b"}, {"C:out.qiv", "C:"}, {"C:\\out.qiv", "C:\\"},
#else
        {"a\\b\\out.qiv", "."},
#endif
    };
    for (const auto& [path, directory] : rows) EXPECT_EQ(qivpak::directory_of(path), directory) << path;
}

TEST(File, TemporaryReadsBackAndLeavesNothingBehind) {
    TempDir dir;
    {
        auto temp = File::temporary_in(dir.path.string());
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
