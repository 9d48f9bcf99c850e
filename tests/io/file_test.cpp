// file_test.cpp - the file wrapper on each system: UTF-8 names, the folder of a path, finishing an output
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

// The steps that finish an output: a new name never takes the place of a file, a rename without
// replacing leaves both files as they were, one with replacing puts the new file in place, and a
// failure comes with the system's words for it.
TEST(File, FinishingAnOutputReplacesAFileOnlyWhenAskedTo) {
    TempDir dir;
    const std::string temp = (dir / "temp").string(), final_name = (dir / "final").string();
    write_file(dir / "final", "good\n");
    qivpak::IoStatus taken;
    EXPECT_FALSE(qivpak::ClaimedFile::create(final_name, taken));
    EXPECT_TRUE(!taken.ok() && taken.name_taken());
    qivpak::IoStatus created;
    EXPECT_TRUE(qivpak::ClaimedFile::create(temp, created));  // the claim ends here: only the file is needed
    ASSERT_TRUE(created.ok() && !created.name_taken() && created.reason().empty());
    write_file(dir / "temp", "new\n");
    EXPECT_TRUE(qivpak::flush_to_device(temp).ok());
    const qivpak::IoStatus refused = qivpak::rename_into_place(temp, final_name, false);
    EXPECT_TRUE(!refused.ok() && refused.name_taken());
    EXPECT_EQ(read_text(dir / "final"), "good\n");
    EXPECT_TRUE(qivpak::rename_into_place(temp, final_name, true).ok());
    EXPECT_EQ(dir.files(), std::set<std::string>{"final"});
    EXPECT_EQ(read_text(dir / "final"), "new\n");
    const qivpak::IoStatus gone = qivpak::flush_to_device(temp);
    EXPECT_TRUE(!gone.ok() && !gone.name_taken());
#ifdef _WIN32
    // The system's message (in the language of the system) without the line end it comes with.
    EXPECT_TRUE(!gone.reason().empty() && gone.reason().find_first_of("\r\n") == std::string::npos &&
                gone.reason().back() != ' ')
        << gone.reason();
#else
    EXPECT_EQ(gone.reason(), "No such file or directory");
#endif
}

}  // namespace
