// disc_tree_test.cpp - DiscTree on discs from xorriso (checked against xorriso's listing and the files written)
// and on hand-laid discs no tool would write (loops, areas and extents past the end, damaged records)
#include "support/disc_fixtures.hpp"
#include "support/iso_image.hpp"

#include <qivpak/disc.hpp>

#include <gtest/gtest.h>

#include <functional>
#include <thread>

namespace {

using namespace qivtest;
using qivpak::DiscTree;
using qivpak::EntryKind;

// Every entry below the root: path relative to it (folders ending in "/") to entry.
std::map<std::string, qivpak::DiscEntry> walked(const DiscTree& tree) {
    std::map<std::string, qivpak::DiscEntry> entries;
    tree.walk(tree.root(), [&](const qivpak::DiscEntry& e) {
        entries[e.path.substr(1) + (e.kind == EntryKind::folder ? "/" : "")] = e;
    });
    return entries;
}

Bytes whole(const DiscTree& tree, const qivpak::DiscEntry& file) {
    Bytes bytes(file.size + 10);
    bytes.resize(tree.read(file, 0, bytes.data(), bytes.size()));
    return bytes;
}

TEST(DiscTree, XorrisoDiscsHoldWhatXorrisoListsAndTheFilesWritten) {
    if (!have_xorriso()) GTEST_SKIP() << "xorriso is not installed: no disc to read";
    const TempDir dir;
    ASSERT_EQ(make_discs(dir), "");
    struct Row {
        const char* disc;
        qivpak::DiscNames names;
        std::vector<std::pair<std::string, std::string>> files;  // path on the disc, file written
    } rows[] = {
        {"rr", qivpak::DiscNames::rock_ridge,
         {{"Docs/readme.txt", "tree/Docs/readme.txt"}, {"Docs/Deep/data.bin", "tree/Docs/Deep/data.bin"},
          {"empty.bin", "tree/empty.bin"}, {"private.txt", "tree/private.txt"}}},
        {"l1", qivpak::DiscNames::primary,
         {{"DOCS/README.TXT", "tree/Docs/readme.txt"}, {"DOCS/DEEP/DATA.BIN", "tree/Docs/Deep/data.bin"},
          {"EMPTY.BIN", "tree/empty.bin"}, {"PRIVATE.TXT", "tree/private.txt"}}},
        {"j", qivpak::DiscNames::joliet,
         {{"café.txt", "jtree/café.txt"}, {"日本語.txt", "jtree/日本語.txt"}, {"Ünï/note.txt", "jtree/Ünï/note.txt"}}},
        // relocated folders shown where they belong (CL), their stand-ins and RR_MOVED not at all (RE)
        {"deep", qivpak::DiscNames::rock_ridge, {{"a/b/c/d/e/f/g/h/i/j/k.txt", "dtree/a/b/c/d/e/f/g/h/i/j/k.txt"}}},
    };
    for (const Row& row : rows) {
        const std::string disc = row.disc;
        const qivpak::QivReader reader((dir / (disc + ".qiv")).string());
        const DiscTree tree(reader);
        EXPECT_EQ(tree.names(), row.names) << disc;
        const auto entries = walked(tree);
        const auto expected = xorriso_listing(dir / (disc + ".iso"));
        ASSERT_FALSE(expected.empty()) << disc;
        std::vector<std::string> paths, expected_paths;
        for (const auto& [path, e] : entries) paths.push_back(path);
        for (const auto& [path, e] : expected) expected_paths.push_back(path);
        EXPECT_EQ(paths, expected_paths) << disc;
        for (const auto& [path, e] : expected) {
            if (e.mode[0] == 'd' || !entries.count(path)) continue;
            EXPECT_EQ(entries.at(path).size, e.size) << disc << " " << path;
            EXPECT_EQ(entries.at(path).target, e.target) << disc << " " << path;
        }
        for (const auto& [path, source] : row.files) {
            const qivpak::DiscEntry file = tree.lookup("/" + path);
            EXPECT_EQ(whole(tree, file), read_file(dir / source)) << disc << " " << path;
        }
    }
}

TEST(DiscTree, RockRidgeGivesModesTimesLinksAndRangesOfFiles) {
    if (!have_xorriso()) GTEST_SKIP() << "xorriso is not installed: no disc to read";
    const TempDir dir;
    ASSERT_EQ(make_discs(dir), "");
    const qivpak::QivReader reader((dir / "rr.qiv").string());
    const DiscTree tree(reader);
    struct Row {
        const char* path;
        EntryKind kind;
        std::uint32_t mode;
        std::int64_t mtime;  // from date -u -d ... +%s
        const char* target;
    } rows[] = {
        {"/private.txt", EntryKind::file, 0100640, 1672628645, ""},
        {"/Docs/readme.txt", EntryKind::file, 0100644, 1709618828, ""},
        {"Docs/Deep", EntryKind::folder, 040755, 1672628645, ""},
        {"/link", EntryKind::symlink, 0120777, 1672628645, "Docs/readme.txt"},
        {"//Docs//Deep/data.bin", EntryKind::file, 0100644, 1672628645, ""},
    };
    for (const Row& row : rows) {
        const qivpak::DiscEntry e = tree.lookup(row.path);
        EXPECT_EQ(e.kind, row.kind) << row.path;
        EXPECT_EQ(e.mode, row.mode) << row.path;
        EXPECT_EQ(e.mtime, row.mtime) << row.path;
        EXPECT_EQ(e.target, row.target) << row.path;
    }
    // Ranges across frames and past the end; a folder is not read.
    const qivpak::DiscEntry data = tree.lookup("/Docs/Deep/data.bin");
    const Bytes source = deep_data();
    Bytes part(300);
    ASSERT_EQ(tree.read(data, 8100, part.data(), part.size()), 300u);
    EXPECT_EQ(part, Bytes(source.begin() + 8100, source.begin() + 8400));
    ASSERT_EQ(tree.read(data, 19900, part.data(), part.size()), 100u);
    EXPECT_EQ(Bytes(part.begin(), part.begin() + 100), Bytes(source.begin() + 19900, source.end()));
    EXPECT_EQ(tree.read(data, 20000, part.data(), part.size()), 0u);
    // One tree, many threads: each looks up and reads on its own.
    std::vector<int> same(4, 0);
    std::vector<std::thread> threads;
    for (std::size_t t = 0; t < same.size(); ++t)
        threads.emplace_back([&, t] {
            for (int round = 0; round < 20; ++round)
                same[t] += whole(tree, tree.lookup("/Docs/Deep/data.bin")) == source &&
                           whole(tree, tree.lookup("/Docs/readme.txt")) == Bytes({'h', 'e', 'l', 'l', 'o', '\n'});
        });
    for (std::thread& thread : threads) thread.join();
    EXPECT_EQ(same, std::vector<int>(4, 20));
    EXPECT_EQ(tree.lookup("/").path, "/");
    EXPECT_FALSE(tree.find("/Docs/readme.txt/x"));
    const std::pair<std::function<void()>, std::string> refusals[] = {
        {[&] { tree.lookup("/nope"); }, "no such file: /nope"},
        {[&] { tree.lookup("Docs/README.TXT"); }, "no such file: /Docs/README.TXT"},
        {[&] { tree.read(tree.lookup("/Docs"), 0, part.data(), 1); }, "is a folder: /Docs"},
        {[&] { tree.list(data); }, "not a folder: /Docs/Deep/data.bin"},
    };
    for (const auto& [call, message] : refusals) {
        try {
            call();
            ADD_FAILURE() << "not refused: " << message;
        } catch (const qivpak::DiscError& error) {
            EXPECT_EQ(error.what(), message);
        }
    }
}

// The disc's tree walked whole after packing; "" or the DiscError's message.
std::string walk_packed(const TempDir& dir, const HandDisc& disc) {
    write_file(dir / "hand.iso", disc.bytes);
    fs::remove(dir / "hand.qiv");
    EXPECT_EQ(run_tool(dir, {"hand.iso", "hand.qiv"}).status, 0);
    try {
        const qivpak::QivReader reader((dir / "hand.qiv").string());
        const DiscTree tree(reader);
        walked(tree);
        return "";
    } catch (const qivpak::DiscError& error) {
        return error.what();
    }
}

TEST(DiscTree, HostileDiscsEndInTheirError) {
    const TempDir dir;
    const std::pair<std::function<void(HandDisc&)>, std::string> rows[] = {
        {[](HandDisc& d) { d.bytes[16 * SECTOR_SIZE + 1] = 'X'; }, "not an ISO 9660 disc"},
        {[](HandDisc& d) { d.bytes[16 * SECTOR_SIZE] = 2; }, "not an ISO 9660 disc"},  // no primary descriptor
        {[](HandDisc& d) { d.put(d.dir(20, 20), "A", 20, SECTOR_SIZE, true); }, "directory loop at /A"},
        {[](HandDisc& d) {
             d.put(d.dir(20, 20), "A", 21, SECTOR_SIZE, true);
             d.put(d.dir(21, 20), "B", 20, SECTOR_SIZE, true);
         },
         "directory loop at /A/B"},
        {[](HandDisc& d) {
             d.put(d.put(d.dir(20, 20), "A", 21, SECTOR_SIZE, true), "B", 21, SECTOR_SIZE, true);
             d.dir(21, 20);
         },
         "folder reached twice at /B"},
        {[](HandDisc& d) { d.put(d.dir(20, 20), "F", 1000, 10); }, "extent past the end of the image at /F"},
        {[](HandDisc& d) { d.put(d.dir(20, 20), "F", 31, 2049); }, "extent past the end of the image at /F"},
        {[](HandDisc& d) {  // the root claims a gigabyte
             d.root(20);
             qivpak::store_le32(&d.bytes[qivpak::ISO_ROOT_RECORD_OFFSET + 10], 1u << 30);
         },
         "extent past the end of the image at /"},
        {[](HandDisc& d) { d.put(d.dir(20, 20), "F", 22, 1, false, 20); }, "damaged folder record at /"},
        {[](HandDisc& d) { d.put_su(d.rock_ridge_root(), "F", 22, 1, false, continuation(5000, 0, 28)); },
         "continuation area past the end of the image at /F"},
        {[](HandDisc& d) { d.put_su(d.rock_ridge_root(), "F", 22, 1, false, continuation(22, 2000, 100)); },
         "continuation area past the end of the image at /F"},
        {[](HandDisc& d) {  // an area that continues in itself
             d.put_su(d.rock_ridge_root(), "F", 23, 1, false, continuation(22, 0, 28));
             const Bytes ce = continuation(22, 0, 28);
             std::copy(ce.begin(), ce.end(), d.bytes.begin() + 22 * SECTOR_SIZE);
         },
         "continuation loop at /F"},
    };
    for (const auto& [lay, message] : rows) {
        HandDisc disc;
        lay(disc);
        EXPECT_EQ(walk_packed(dir, disc), message) << message;
    }
    // Folders 300 deep, each the only thing in the one above: the 257th is refused.
    HandDisc deep(330);
    for (std::uint32_t level = 0; level < 300; ++level) deep.put(deep.dir(20 + level, 20), "D", 21 + level, SECTOR_SIZE, true);
    std::string too_deep = "folders nest too deep at ";
    for (int d = 0; d < 257; ++d) too_deep += "/D";
    EXPECT_EQ(walk_packed(dir, deep), too_deep);
}

TEST(DiscTree, MultiExtentFilesAreOneAndUnsafeNamesAreNeverLookedUp) {
    const TempDir dir;
    HandDisc disc;
    std::uint64_t at = disc.put(disc.dir(20, 20), "M;1", 22, SECTOR_SIZE);
    disc.bytes[20 * SECTOR_SIZE + 68 + 25] |= 0x80;  // "M;1" follows the 34-byte "." and ".." records
    at = disc.put(at, "M;1", 24, 5);
    at = disc.put(at, "A/B", 25, 0);
    disc.put(at, ".", 25, 0);
    std::fill_n(disc.bytes.begin() + 22 * SECTOR_SIZE, SECTOR_SIZE, 'a');
    std::fill_n(disc.bytes.begin() + 24 * SECTOR_SIZE, SECTOR_SIZE, 'b');
    ASSERT_EQ(walk_packed(dir, disc), "");
    const qivpak::QivReader reader((dir / "hand.qiv").string());
    const DiscTree tree(reader);
    const std::vector<qivpak::DiscEntry> root = tree.list(tree.root());
    ASSERT_EQ(root.size(), 3u);
    EXPECT_EQ(root[0].name, "M");
    EXPECT_EQ(root[0].size, 2053u);
    Bytes expected(SECTOR_SIZE, 'a');
    expected.insert(expected.end(), 5, 'b');
    EXPECT_EQ(whole(tree, root[0]), expected);
    Bytes tail(10);
    ASSERT_EQ(tree.read(root[0], 2046, tail.data(), tail.size()), 7u);
    EXPECT_EQ(std::string(tail.begin(), tail.begin() + 7), "aabbbbb");
    EXPECT_EQ(root[1].name, "A/B");
    EXPECT_TRUE(root[1].unsafe_name);
    EXPECT_EQ(root[2].name, ".");
    EXPECT_TRUE(root[2].unsafe_name);
    EXPECT_FALSE(root[0].unsafe_name);
    EXPECT_FALSE(tree.find("/A/B"));
    EXPECT_FALSE(tree.find("/A"));
}

// Joliet names are UTF-16 big-endian: a pair of surrogates is one character, a lone one U+FFFD.
TEST(DiscTree, JolietNamesBecomeUtf8) {
    const TempDir dir;
    HandDisc disc;
    const std::size_t svd = 17 * SECTOR_SIZE, end = 18 * SECTOR_SIZE;
    disc.bytes[end] = 255;
    std::copy_n(disc.bytes.begin() + static_cast<std::ptrdiff_t>(svd + 1), 6, disc.bytes.begin() + static_cast<std::ptrdiff_t>(end + 1));
    disc.bytes[svd] = 2;
    std::copy_n("%/@", 3, disc.bytes.begin() + static_cast<std::ptrdiff_t>(svd + 88));
    disc.put(svd + 156, std::string(1, '\0'), 21, SECTOR_SIZE, true);
    disc.put(disc.dir(20, 20), "E;1", 22, 3);
    const std::string utf16 = {'\0', '\xe9', '\xd8', '\x3d', '\xde', '\x00', '\xd8', '\x00', '\0', ';', '\0', '1'};
    disc.put(disc.dir(21, 21), utf16, 22, 3);
    std::copy_n("abc", 3, disc.bytes.begin() + 22 * SECTOR_SIZE);
    ASSERT_EQ(walk_packed(dir, disc), "");
    const qivpak::QivReader reader((dir / "hand.qiv").string());
    const DiscTree tree(reader);
    EXPECT_EQ(tree.names(), qivpak::DiscNames::joliet);
    const std::vector<qivpak::DiscEntry> root = tree.list(tree.root());
    ASSERT_EQ(root.size(), 1u);
    EXPECT_EQ(root[0].name, "\xc3\xa9\xf0\x9f\x98\x80\xef\xbf\xbd");  // U+00E9 U+1F600 U+FFFD
    EXPECT_EQ(whole(tree, tree.lookup(root[0].path)), Bytes({'a', 'b', 'c'}));
}

}  // namespace
