// file_test.cpp - the file wrapper on each system: UTF-8 names and the folder of a path
// (text modes and the temporary file are checked through the tool: the info file and -a runs)
#include "io/file.hpp"
#include "support/support.hpp"

#include <gtest/gtest.h>

namespace {

using qivpak::File;
using namespace qivtest;

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

}  // namespace
