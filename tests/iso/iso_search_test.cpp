// iso_search_test.cpp - the directory walk and its filters on hand-laid images: what real tools never write
#include "iso/iso_search.hpp"
#include "iso/iso_test_support.hpp"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <string>
#include <vector>

namespace qivpak::test {
namespace {

using Names = std::vector<std::string>;

Names search(ByteSource& image, std::size_t capacity, const IsoFilter* filter) {
    std::vector<IsoDirRecord> results(capacity);
    int count = iso_find_files(image, results, filter);
    return names_of(results, count);
}

// Root (block 20): MOVIE, SONG, TEXT, SUB (block 21: DEEP), TAIL, whose data are
// the image's last two bytes "PS".
HandImage filter_image() {
    HandImage image(30 * SECTOR_SIZE + 2);
    image.set_root(20);
    image.put_dir(20, 20,
                  {{"MOVIE.PMF;1", 22, 100}, {"SONG.WAV;1", 23, 5000}, {"TEXT.TXT;1", 26, 100},
                   {"SUB", 21, SECTOR_SIZE, true}, {"TAIL.BIN;1", 30, 2}});
    image.put_dir(21, 20, {{"DEEP.PMF;1", 27, 10000}});
    image.put_bytes(22 * SECTOR_SIZE, "PSMF movie");
    image.put_bytes(23 * SECTOR_SIZE, "RIFF\x10\0\0\0WAVE");
    image.put_bytes(26 * SECTOR_SIZE, "hello");
    image.put_bytes(27 * SECTOR_SIZE, "PSMF deep");
    image.put_bytes(30 * SECTOR_SIZE, "PS");
    return image;
}

IsoFilter make_filter(std::int32_t criteria) {
    IsoFilter f;
    f.criteria = criteria;
    return f;
}

TEST(IsoSearch, FilterTestsSelectRecords) {
    struct Row {
        const char* what;
        IsoFilter filter;
        Names expected;
    };
    auto name = [](std::string_view part) {
        IsoFilter f = make_filter(ISO_MATCH_NAME);
        f.name_part = part;
        return f;
    };
    auto dir = [](int mode) {
        IsoFilter f = make_filter(ISO_MATCH_DIR);
        f.dir_mode = mode;
        return f;
    };
    auto size = [](int mode, std::uint32_t ref) {
        IsoFilter f = make_filter(ISO_MATCH_SIZE);
        f.length_mode = mode;
        f.ref_length = ref;
        return f;
    };
    auto magic = [](std::string_view bytes, int len, std::int32_t extra = 0) {
        IsoFilter f = make_filter(ISO_MATCH_MAGIC | extra);
        f.magic = bytes;
        f.magic_len = len;
        return f;
    };
    const Names all = {"MOVIE.PMF;1", "SONG.WAV;1", "TEXT.TXT;1", "DEEP.PMF;1", "SUB", "TAIL.BIN;1"};
    const Row rows[] = {
        {"no test selected", make_filter(0), all},
        {"empty name part", name(""), all},
        {"name part", name(".PMF"), {"MOVIE.PMF;1", "DEEP.PMF;1"}},
        {"name is case-sensitive", name("pmf"), {}},
        {"name with version", name("T;1"), {"TEXT.TXT;1"}},
        {"files only", dir(0), {"MOVIE.PMF;1", "SONG.WAV;1", "TEXT.TXT;1", "DEEP.PMF;1", "TAIL.BIN;1"}},
        {"directories only", dir(2), {"SUB"}},
        {"other dir_mode", dir(1), all},
        {"size equal", size(0, 100), {"MOVIE.PMF;1", "TEXT.TXT;1"}},
        {"size greater", size(1, 100), {"SONG.WAV;1", "DEEP.PMF;1", "SUB"}},
        {"size less", size(2, 100), {"TAIL.BIN;1"}},
        {"greater fails on equal", size(1, 10000), {}},
        {"less fails on equal", size(2, 2), {}},
        {"other length_mode", size(5, 100), all},
        {"magic", magic("PSMF", 4), {"MOVIE.PMF;1", "DEEP.PMF;1"}},
        {"magic_len below magic's size", magic("PSMF", 2), {"MOVIE.PMF;1", "DEEP.PMF;1", "TAIL.BIN;1"}},
        // Zero bytes in place of those past the end would match; a short read fails instead.
        {"magic read cut short by image end", magic(std::string_view("PS\0\0", 4), 4), {}},
        {"magic of other files", magic("RIFF", 4), {"SONG.WAV;1"}},
        {"magic_len 0", magic("PSMF", 0), all},
        {"magic_len beyond magic", magic("PS", 3), {}},
        {"name and magic", [&] {
             IsoFilter f = magic("PSMF", 4, ISO_MATCH_NAME);
             f.name_part = "DEEP";
             return f;
         }(), {"DEEP.PMF;1"}},
        {"size and magic make the size test only", [&] {
             IsoFilter f = magic("RIFF", 4, ISO_MATCH_SIZE);
             f.ref_length = 100;
             return f;
         }(), {"MOVIE.PMF;1", "TEXT.TXT;1"}},
    };
    for (const Row& row : rows) {
        HandImage image = filter_image();
        EXPECT_EQ(search(image, 16, &row.filter), row.expected) << row.what;
    }
    HandImage image = filter_image();
    EXPECT_EQ(search(image, 16, nullptr), all);
}

TEST(IsoSearch, SizeAndMagicReadsNoFileData) {
    const std::vector<std::uint64_t> file_data = {22 * SECTOR_SIZE, 23 * SECTOR_SIZE, 26 * SECTOR_SIZE,
                                                  27 * SECTOR_SIZE, 30 * SECTOR_SIZE};
    auto reads_file_data = [&](std::int32_t criteria) {
        HandImage image = filter_image();
        IsoFilter f = make_filter(criteria);
        f.magic = "PSMF";
        f.magic_len = 4;
        search(image, 16, &f);
        return std::count_if(file_data.begin(), file_data.end(), [&](std::uint64_t at) {
            return std::find(image.reads.begin(), image.reads.end(), at) != image.reads.end();
        });
    };
    EXPECT_EQ(reads_file_data(ISO_MATCH_MAGIC), 5);
    EXPECT_EQ(reads_file_data(ISO_MATCH_MAGIC | ISO_MATCH_SIZE), 0);
}

// Root: A, SUB (B, C), D.
TEST(IsoSearch, StopsWhenResultsAreFull) {
    HandImage image(24 * SECTOR_SIZE);
    image.set_root(20);
    image.put_dir(20, 20, {{"A", 22, 1}, {"SUB", 21, SECTOR_SIZE, true}, {"D", 23, 1}});
    image.put_dir(21, 20, {{"B", 22, 1}, {"C", 22, 1}});
    const struct {
        std::size_t capacity;
        Names expected;
    } rows[] = {
        {0, {}},
        {1, {"A"}},
        {2, {"A", "B"}},
        {3, {"A", "B", "C"}},  // full after C: SUB, though it passes, is not stored
        {4, {"A", "B", "C", "SUB"}},
        {5, {"A", "B", "C", "SUB", "D"}},
        {9, {"A", "B", "C", "SUB", "D"}},
    };
    for (const auto& row : rows) EXPECT_EQ(search(image, row.capacity, nullptr), row.expected) << row.capacity;
}

// A record "F" that takes up to 200 of the `room` bytes left, and leaves room for another.
RecordSpec filler(std::uint64_t room) {
    std::uint64_t len = room <= 200 ? room : std::min<std::uint64_t>(200, room - 34);
    return {"F", 22, 1, false, static_cast<std::uint8_t>(len)};
}

// A 40-byte record X ends `left` bytes before the end of its sector; the next
// sector begins with the 48-byte record NEXT.
TEST(IsoSearch, ZeroLengthByteEndsDirectoryOrMovesToNextSector) {
    const struct {
        std::uint64_t left;
        bool reaches_next;
    } rows[] = {{44, false}, {41, false}, {40, true}, {30, true}, {0, true}};
    for (const auto& row : rows) {
        HandImage image(23 * SECTOR_SIZE);
        image.set_root(20);
        std::uint64_t at = image.put_dir(20, 20, {});
        const std::uint64_t x_at = 21 * SECTOR_SIZE - row.left - 40;
        while (at < x_at) at = image.put_record(at, filler(x_at - at));
        ASSERT_EQ(at, x_at);
        image.put_record(x_at, {"X", 22, 1, false, 40});
        image.put_record(21 * SECTOR_SIZE, {"NEXT", 22, 1, false, 48});
        Names found = search(image, 64, nullptr);
        ASSERT_FALSE(found.empty());
        EXPECT_EQ(found.back(), row.reaches_next ? "NEXT" : "X") << row.left;
    }
}

TEST(IsoSearch, DirectoryEndingOnSectorBoundaryIsFollowedIntoNextBytes) {
    HandImage image(23 * SECTOR_SIZE);
    image.set_root(20);
    std::uint64_t at = image.put_dir(20, 20, {});
    while (at < 21 * SECTOR_SIZE) at = image.put_record(at, filler(21 * SECTOR_SIZE - at));
    ASSERT_EQ(at, 21 * SECTOR_SIZE);
    image.put_record(at, {"AFTER", 22, 1});
    EXPECT_EQ(search(image, 64, nullptr).back(), "AFTER");
}

TEST(IsoSearch, DirectoriesLeadingBackToAncestorsAreWalkedOnce) {
    HandImage image(24 * SECTOR_SIZE);
    image.set_root(20);
    image.put_dir(20, 20, {{"SUB", 21, SECTOR_SIZE, true}, {"LOOP", 20, SECTOR_SIZE, true}});
    image.put_dir(21, 20,
                  {{"BACK", 20, SECTOR_SIZE, true}, {"SELF", 21, SECTOR_SIZE, true},
                   {"INNER", 22, SECTOR_SIZE, true}, {"FILE", 23, 5}});
    image.put_dir(22, 21, {{"UP", 21, SECTOR_SIZE, true}, {"TOP", 20, SECTOR_SIZE, true}});
    EXPECT_EQ(search(image, 64, nullptr),
              (Names{"BACK", "SELF", "UP", "TOP", "INNER", "FILE", "SUB", "LOOP"}));
    // Each directory extent is read from its start once.
    for (std::uint64_t dir : {20, 21, 22})
        EXPECT_EQ(std::count(image.reads.begin(), image.reads.end(), dir * SECTOR_SIZE), 1) << dir;
}

// 1 MiB whose root lists `dirs` subdirectories, subdirectory i at sector 100 + i,
// and whose sectors from 100 on are filled to the last byte with 51 file records
// named "SSS.NNN" (sector, index), so that every subdirectory runs on to the
// image's end.
HandImage run_on_image(std::uint32_t dirs) {
    HandImage image(512 * SECTOR_SIZE);
    image.set_root(20);
    std::vector<RecordSpec> subdirs;
    for (std::uint32_t i = 0; i < dirs; ++i)
        subdirs.push_back({"D" + std::to_string(100 + i), 100 + i, SECTOR_SIZE, true});
    image.put_dir(20, 20, subdirs);
    for (std::uint32_t s = 100; s < 512; ++s) {
        std::uint64_t at = std::uint64_t{s} * SECTOR_SIZE;
        for (int i = 0; i <= 50; ++i) {
            char name[8];
            std::snprintf(name, sizeof name, "%03u.%03d", s, i);
            at = image.put_record(at, {name, 22, 1, false, static_cast<std::uint8_t>(i < 50 ? 40 : 48)});
        }
    }
    return image;
}

// One search examines at most 64 records per sector of the image, here 32768.
// With 20 subdirectories: the root's first 3 records, D100's 21012, D101 and the
// first 11752 of D101's walk (sector 331 up to record 21) stay within it.
TEST(IsoSearch, WorkIsBoundedBySizeOfImage) {
    const struct {
        std::uint32_t dirs;
        std::string_view name_part;
        std::size_t count;
        std::string last;
    } rows[] = {
        {20, "331.", 73, "331.021"},
        {20, "D1", 1, "D100"},  // D101 was still open
        {1, "331.", 51, "331.050"},
        {1, "511.050", 1, "511.050"},
    };
    for (const auto& row : rows) {
        HandImage image = run_on_image(row.dirs);
        IsoFilter f = make_filter(ISO_MATCH_NAME);
        f.name_part = row.name_part;
        Names found = search(image, 128, &f);
        EXPECT_EQ(found.size(), row.count) << row.dirs << " " << row.name_part;
        EXPECT_EQ(found.empty() ? "" : found.back(), row.last) << row.dirs << " " << row.name_part;
    }
}

// Directories nested as deep as the image has sectors, made up as they are read.
class ChainImage : public ByteSource {
public:
    static constexpr std::uint32_t FIRST = 20;
    static constexpr std::uint32_t DEPTH = 1'000'000;

    std::size_t read_at(std::uint64_t offset, void* buf, std::size_t len) override {
        std::size_t done = 0;
        while (done < len && offset + done < size()) {
            std::uint64_t at = offset + done;
            HandImage sector(SECTOR_SIZE);
            std::uint64_t block = at / SECTOR_SIZE;
            if (block == 16) {
                sector.put_record(156, {std::string(1, '\0'), FIRST, SECTOR_SIZE, true});
            } else if (block >= FIRST && block < FIRST + DEPTH) {
                auto next = static_cast<std::uint32_t>(block + 1);
                sector.put_record(0, {block + 1 < FIRST + DEPTH ? "D" : "END", next, SECTOR_SIZE,
                                      block + 1 < FIRST + DEPTH});
            }
            std::size_t n = std::min<std::uint64_t>(len - done, SECTOR_SIZE - at % SECTOR_SIZE);
            std::copy_n(sector.bytes.begin() + static_cast<std::ptrdiff_t>(at % SECTOR_SIZE), n,
                        static_cast<std::uint8_t*>(buf) + done);
            done += n;
        }
        return done;
    }
    std::uint64_t size() const override { return std::uint64_t{FIRST + DEPTH + 1} * SECTOR_SIZE; }
};

TEST(IsoSearch, DeepNestingDoesNotExhaustTheStack) {
    ChainImage image;
    IsoFilter f = make_filter(ISO_MATCH_NAME);
    f.name_part = "END";
    EXPECT_EQ(search(image, 1, &f), Names{"END"});
}

TEST(IsoSearch, ImageTooShortForRootExtentGivesNothing) {
    for (std::size_t size : {ISO_ROOT_RECORD_OFFSET + 5, ISO_ROOT_RECORD_OFFSET + 6}) {
        HandImage image(size);
        image.bytes[ISO_ROOT_RECORD_OFFSET] = 34;
        image.bytes[ISO_ROOT_RECORD_OFFSET + 2] = 15;  // Location of Extent 15, inside both images
        image.put_dir(15, 15, {{"FILE", 15, 1}});
        bool whole_extent = size == ISO_ROOT_RECORD_OFFSET + 6;
        EXPECT_EQ(search(image, 4, nullptr), whole_extent ? Names{"FILE"} : Names{}) << size;
        if (!whole_extent) {
            EXPECT_TRUE(image.reads.empty());
        }
    }
}

// The directory's first record is its self record, 80 bytes long, so that its
// extent begins with "PSMF".
TEST(IsoSearch, DirectoryIsStoredAfterWhatLiesBeneathIt) {
    HandImage image(26 * SECTOR_SIZE);
    image.set_root(20);
    image.put_dir(20, 20, {{"PSMFDIR", 21, SECTOR_SIZE, true}, {"LAST.PMF;1", 25, 4}});
    std::uint64_t at = image.put_record(21 * SECTOR_SIZE, {std::string(1, '\0'), 21, SECTOR_SIZE, true, 'P'});
    image.put_bytes(21 * SECTOR_SIZE + 1, "SMF");
    at = image.put_record(at, {std::string(1, '\1'), 20, SECTOR_SIZE, true});
    image.put_record(at, {"IN.PMF;1", 25, 4});
    image.put_bytes(25 * SECTOR_SIZE, "PSMF");

    IsoFilter any_kind = make_filter(ISO_MATCH_MAGIC);
    any_kind.magic = "PSMF";
    any_kind.magic_len = 4;
    EXPECT_EQ(search(image, 8, &any_kind), (Names{"IN.PMF;1", "PSMFDIR", "LAST.PMF;1"}));
    IsoFilter files_only = any_kind;
    files_only.criteria |= ISO_MATCH_DIR;
    EXPECT_EQ(search(image, 8, &files_only), (Names{"IN.PMF;1", "LAST.PMF;1"}));
}

TEST(IsoSearch, WalkStartsAtAnyOffset) {
    HandImage image = filter_image();
    std::vector<IsoDirRecord> results(4);
    IsoSearch search_state{image, results, nullptr, {}};
    std::size_t found = iso_walk_dir(search_state, 21 * SECTOR_SIZE, 1);
    EXPECT_EQ(found, 2u);
    EXPECT_EQ(results[1].name(), "DEEP.PMF;1");
    EXPECT_EQ(results[1].extent(), 27u);
    EXPECT_EQ(results[1].data_length(), 10000u);
    EXPECT_FALSE(results[1].is_directory());
}

}  // namespace
}  // namespace qivpak::test
