// iso_search_test.cpp - the directory search in memory: its filter criteria, and the bound on its work
#include "support/iso_image.hpp"

#include <gtest/gtest.h>

#include <cstdio>
#include <cstring>

namespace {

using namespace qivpak;
using Names = std::vector<std::string>;
using qivtest::IsoImage;

Names search(ByteSource& image, const IsoFilter* filter, std::size_t capacity = 128) {
    std::vector<IsoDirRecord> results(capacity);
    const int count = iso_find_files(image, results, filter);
    Names names;
    for (int i = 0; i < count; ++i) names.emplace_back(results[static_cast<std::size_t>(i)].name());
    return names;
}

TEST(IsoSearch, FilterCriteriaSelectRecords) {
    // Root (sector 20): MOVIE, SONG, SUB (sector 21: DEEP), TAIL, whose data are the image's last 2 bytes, and
    // GONE, a directory in the first sector past the image's end.
    IsoImage image(30);
    image.bytes.resize(image.bytes.size() + 2);
    image.root(20);
    std::uint64_t at = image.dir(20, 20);
    at = image.put(at, "MOVIE.PMF;1", 22, 100);
    at = image.put(at, "SONG.WAV;1", 23, 5000);
    at = image.put(at, "SUB", 21, SECTOR_SIZE, true);
    image.put(image.put(at, "TAIL.BIN;1", 30, 2), "GONE", 31, 100, true);
    image.put(image.dir(21, 20), "DEEP.PMF;1", 24, 100);
    for (auto [sector, text] : {std::pair{22u, "PSMF"}, {23u, "RIFF"}, {24u, "PSMF"}, {30u, "PS"}})
        std::copy_n(text, std::strlen(text), image.bytes.begin() + std::ptrdiff_t{sector} * SECTOR_SIZE);

    auto filter = [](std::int32_t criteria, std::string_view text, std::int32_t mode, std::uint32_t ref = 0) {
        IsoFilter f;
        f.criteria = criteria;
        f.name_part = f.magic = text;
        f.dir_mode = f.length_mode = f.magic_len = mode;
        f.ref_length = ref;
        return f;
    };
    const Names all = {"MOVIE.PMF;1", "SONG.WAV;1", "DEEP.PMF;1", "SUB", "TAIL.BIN;1", "GONE"};
    const struct {
        IsoFilter filter;
        Names expected;
    } rows[] = {
        {filter(0, "", 0), all},
        {filter(ISO_MATCH_NAME, ".PMF", 0), {"MOVIE.PMF;1", "DEEP.PMF;1"}},
        {filter(ISO_MATCH_NAME, "pmf", 0), {}},  // case-sensitive
        {filter(ISO_MATCH_DIR, "", 0), {"MOVIE.PMF;1", "SONG.WAV;1", "DEEP.PMF;1", "TAIL.BIN;1"}},
        {filter(ISO_MATCH_DIR, "", 2), {"SUB", "GONE"}},
        {filter(ISO_MATCH_DIR, "", 1), all},
        {filter(ISO_MATCH_SIZE, "", 0, 100), {"MOVIE.PMF;1", "DEEP.PMF;1", "GONE"}},
        {filter(ISO_MATCH_SIZE, "", 1, 100), {"SONG.WAV;1", "SUB"}},
        {filter(ISO_MATCH_SIZE, "", 2, 100), {"TAIL.BIN;1"}},
        {filter(ISO_MATCH_MAGIC, "PSMF", 4), {"MOVIE.PMF;1", "DEEP.PMF;1"}},
        {filter(ISO_MATCH_MAGIC, "PSMF", 2), {"MOVIE.PMF;1", "DEEP.PMF;1", "TAIL.BIN;1"}},
        {filter(ISO_MATCH_MAGIC, std::string_view("PSMF\0", 5), 5), {"MOVIE.PMF;1", "DEEP.PMF;1"}},  // past 4 kept
        {filter(ISO_MATCH_MAGIC, std::string_view("PS\0\0", 4), 4), {}},  // the image ends first
        {filter(ISO_MATCH_MAGIC, "PS", 3), {}},                             // longer than the magic
        {filter(ISO_MATCH_MAGIC, "RIFF", 0), all},
        {filter(ISO_MATCH_MAGIC | ISO_MATCH_SIZE, "RIFF", 0, 100), {"MOVIE.PMF;1", "DEEP.PMF;1", "GONE"}},
    };
    for (const auto& row : rows) EXPECT_EQ(search(image, &row.filter), row.expected) << row.filter.criteria;
    EXPECT_EQ(search(image, nullptr), all);
    EXPECT_EQ(search(image, nullptr, 2), (Names{"MOVIE.PMF;1", "SONG.WAV;1"}));
}

// 512 sectors; the root lists `dirs` subdirectories D100.., subdirectory i at
// sector 100 + i; sectors 100 to the end are full of file records named
// "SSS.RRR" (sector, record), 50 of 40 bytes and one of 48, so no directory
// ends before the image does and every walk reads on to the end.
IsoImage crafted(std::uint32_t dirs) {
    IsoImage image(512);
    image.root(20);
    std::uint64_t at = image.dir(20, 20);
    for (std::uint32_t i = 0; i < dirs; ++i) at = image.put(at, "D" + std::to_string(100 + i), 100 + i, SECTOR_SIZE, true);
    for (std::uint32_t s = 100; s < 512; ++s) {
        at = std::uint64_t{s} * SECTOR_SIZE;
        for (int i = 0; i <= 50; ++i) {
            char name[8];
            std::snprintf(name, sizeof name, "%03u.%03d", s, i);
            at = image.put(at, name, 22, 1, false, static_cast<std::uint8_t>(i < 50 ? 40 : 48));
        }
    }
    return image;
}

TEST(IsoSearch, WorkIsBoundedBySizeOfImage) {
    const struct {
        std::uint32_t dirs;
        std::string_view name_part;
        std::size_t count;
        std::string last;
    } rows[] = {
        {20, "331.", 73, "331.021"},  // 64 x 512 records examined: the search stops in the second walk
        {20, "D1", 1, "D100"},        // D101 was still open
        {1, "511.050", 1, "511.050"},  // one walk stays within the bound
    };
    for (const auto& row : rows) {
        IsoImage image = crafted(row.dirs);
        IsoFilter f;
        f.criteria = ISO_MATCH_NAME;
        f.name_part = row.name_part;
        const Names found = search(image, &f);
        EXPECT_EQ(found.size(), row.count) << row.dirs << " " << row.name_part;
        EXPECT_EQ(found.empty() ? "" : found.back(), row.last) << row.dirs << " " << row.name_part;
    }
}

}  // namespace
