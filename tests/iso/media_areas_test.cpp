// media_areas_test.cpp - media file areas: frame arithmetic, table entries and console text on hand-laid images
#include "iso/media_areas.hpp"
#include "iso/iso_test_support.hpp"

#include "cli/console.hpp"
#include "cli/run_context.hpp"

#include <gtest/gtest.h>

#include <fstream>
#include <string>
#include <vector>

namespace qivpak::test {
namespace {

constexpr NcArea UNTOUCHED{77, 7};

// Runs the scan over `image` saved to a file and keeps what it printed and wrote.
struct Scan {
    std::string out;
    NcAreaTable table;
    int count = -1;
    bool closed = false;
};

Scan scan_path(const std::string& path, bool want_video, bool want_audio) {
    Scan scan;
    Console console(scan.out, false);
    RunContext ctx(console);
    ctx.nc_areas.fill(UNTOUCHED);
    scan.count = find_media_areas(ctx, path, want_video, want_audio);
    scan.table = ctx.nc_areas;
    scan.closed = !ctx.image_file.has_value();
    return scan;
}

Scan scan_image(const HandImage& image, bool want_video, bool want_audio) {
    TempDir dir;
    write_file(dir.file("image.iso"), image.bytes);
    return scan_path(dir.file("image.iso"), want_video, want_audio);
}

TEST(MediaArea, FramesOfAFile) {
    const struct {
        std::uint32_t extent, data_length;
        std::uint64_t image_size;
        NcArea expected;
    } rows[] = {
        {8, 8292, 24676, {2, 1}},              // reaches into the short last frame, which stays out
        {8, 8292, 32768, {2, 2}},              // whole frames only: nothing taken off
        {3, 4096, 24676, {0, 1}},              // bytes 6144..10239: frame 1 is not in the area
        {4, 16384, 24576, {1, 2}},             // ends on the image's last whole frame
        {8, 0, 24676, {2, 0}},                 // zero length: an area of no frames
        {40, 0, 24676, {10, 0}},               // past the image, zero length: no frames, not below 0
        {4, 100000, 40960, {1, 4}},            // reaches past the image: limited to its whole frames
        {12, 100, 24676, {3, 0}},              // wholly in the short last frame
        {0xFFFFFFFFu, 8192, 0xFFFFFFFFu, {0x3FFFFFFF, 0}},      // extent × 2048 beyond 32 bits
        {0x1FFFE0, 0xFFFF, 0xFFFFFFFFu, {524280, 7}},            // the largest image's short last frame
    };
    for (const auto& row : rows)
        EXPECT_EQ(media_area(row.extent, row.data_length, row.image_size), row.expected)
            << row.extent << " " << row.data_length << " " << row.image_size;
}

TEST(MediaArea, PrintableName) {
    EXPECT_EQ(printable_name("CLIP.PMF;1"), "CLIP.PMF;1");
    EXPECT_EQ(printable_name(std::string_view("A\x1b[2J\x07\x7f\xff\x80~ \0Z", 13)), "A?[2J????~ ?Z");
}

// Root (block 20): CLIP.PMF (PSMF, 4096 bytes from block 3), SONG.WAV (RIFF),
// NOTE.TXT (neither), SUB (block 21): EMPTY.PMF (PSMF, Data Length 0).
HandImage media_image() {
    HandImage image(40 * SECTOR_SIZE);
    image.set_root(20);
    image.put_dir(20, 20,
                  {{"CLIP.PMF;1", 3, 4096}, {"SONG.WAV;1", 24, 20000}, {"NOTE.TXT;1", 30, 10},
                   {"SUB", 21, SECTOR_SIZE, true}});
    image.put_dir(21, 20, {{"EMPTY.PMF;1", 32, 0}});
    image.put_bytes(3 * SECTOR_SIZE, "PSMF");
    image.put_bytes(24 * SECTOR_SIZE, "RIFF");
    image.put_bytes(30 * SECTOR_SIZE, "PSMX");
    image.put_bytes(32 * SECTOR_SIZE, "PSMF");
    return image;
}

TEST(FindMediaAreas, MovieFilesFirstThenAudio) {
    const std::string clip = "Media file found: CLIP.PMF;1 (offset=00001800,size=4KB)\n";
    const std::string empty = "Media file found: EMPTY.PMF;1 (offset=00010000,size=0KB)\n";
    const std::string song = "Media file found: SONG.WAV;1 (offset=0000C000,size=19KB)\n";
    const NcArea clip_area{0, 1}, empty_area{8, 0}, song_area{6, 3};
    const struct {
        bool video, audio;
        std::string lines;
        std::vector<NcArea> areas;
    } rows[] = {
        {true, true, clip + empty + song, {clip_area, empty_area, song_area}},
        {true, false, clip + empty, {clip_area, empty_area}},
        {false, true, song, {song_area}},
        {false, false, "", {}},
    };
    HandImage image = media_image();
    for (const auto& row : rows) {
        Scan scan = scan_image(image, row.video, row.audio);
        const int n = static_cast<int>(row.areas.size());
        EXPECT_EQ(scan.out, "Scanning media files...\n" + row.lines + std::to_string(n) +
                                " media files found and forced to be NC areas.\n");
        EXPECT_EQ(scan.count, n);
        for (std::size_t i = 0; i < scan.table.size(); ++i)
            EXPECT_EQ(scan.table[i], i < row.areas.size() ? row.areas[i] : UNTOUCHED) << i;
        EXPECT_TRUE(scan.closed);
    }
}

TEST(FindMediaAreas, AtMost192Files) {
    HandImage image(40 * SECTOR_SIZE);
    image.set_root(20);
    std::vector<RecordSpec> records;
    for (int i = 0; i < 200; ++i) {
        char name[16];
        std::snprintf(name, sizeof name, "M%03d.PMF;1", i);
        records.push_back({name, 30, 10});
    }
    records.push_back({"SONG.WAV;1", 31, 10});
    ASSERT_GT(image.put_dir(20, 20, records), 23 * SECTOR_SIZE);  // the directory spans several sectors
    image.put_bytes(30 * SECTOR_SIZE, "PSMF");
    image.put_bytes(31 * SECTOR_SIZE, "RIFF");

    Scan both = scan_image(image, true, true);
    std::string expected = "Scanning media files...\n";
    for (int i = 0; i < MAX_NC_AREAS; ++i) {
        char line[80];
        std::snprintf(line, sizeof line, "Media file found: M%03d.PMF;1 (offset=0000F000,size=0KB)\n", i);
        expected += line;
    }
    expected += "192 media files found and forced to be NC areas.\n";
    EXPECT_EQ(both.out, expected);
    EXPECT_EQ(both.count, 192);
    for (const NcArea& area : both.table) EXPECT_EQ(area, (NcArea{7, 1}));

    Scan audio = scan_image(image, false, true);
    EXPECT_EQ(audio.count, 1);
    EXPECT_EQ(audio.table[0], (NcArea{7, 1}));
    EXPECT_EQ(audio.table[1], UNTOUCHED);
}

// 82020 bytes: ten whole frames and 100 bytes. FAR's extent lies 4 GiB past
// LONG's, so beyond the image: it is not read as LONG's data.
TEST(FindMediaAreas, AreasStayWithinWholeFrames) {
    HandImage image(40 * SECTOR_SIZE + 100);
    image.set_root(20);
    image.put_dir(20, 20, {{"LONG.PMF;1", 36, 100000}, {"FAR.PMF;1", 0x200000 + 36, 4}, {"END.PMF;1", 40, 100}});
    image.put_bytes(36 * SECTOR_SIZE, "PSMF");
    image.put_bytes(40 * SECTOR_SIZE, "PSMF");
    Scan scan = scan_image(image, true, false);
    EXPECT_EQ(scan.out,
              "Scanning media files...\n"
              "Media file found: LONG.PMF;1 (offset=00012000,size=97KB)\n"
              "Media file found: END.PMF;1 (offset=00014000,size=0KB)\n"
              "2 media files found and forced to be NC areas.\n");
    EXPECT_EQ(scan.table[0], (NcArea{9, 1}));
    EXPECT_EQ(scan.table[1], (NcArea{10, 0}));
}

TEST(FindMediaAreas, NamesAreShownWithoutControlBytes) {
    HandImage image(40 * SECTOR_SIZE);
    image.set_root(20);
    image.put_dir(20, 20, {{"\x1b]0;X\x07\xff.PMF;1", 30, 10}});
    image.put_bytes(30 * SECTOR_SIZE, "PSMF");
    Scan scan = scan_image(image, true, true);
    EXPECT_EQ(scan.out,
              "Scanning media files...\n"
              "Media file found: ?]0;X??.PMF;1 (offset=0000F000,size=0KB)\n"
              "1 media files found and forced to be NC areas.\n");
}

// 4294967295 bytes, sparse: the directory and the file lie above 2^31.
TEST(FindMediaAreas, LargestImage) {
    TempDir dir;
    const auto path = dir.path() / "large.iso";
    auto write_at = [&](std::uint64_t offset, const HandImage& piece) {
        std::fstream f(path, std::ios::in | std::ios::out | std::ios::binary);
        f.seekp(static_cast<std::streamoff>(offset));
        f.write(reinterpret_cast<const char*>(piece.bytes.data()), static_cast<std::streamsize>(piece.bytes.size()));
        ASSERT_TRUE(f.good());
    };
    write_file(path, "");
    std::filesystem::resize_file(path, 0xFFFFFFFFull);
    HandImage pvd(SECTOR_SIZE);
    pvd.put_record(156, {std::string(1, '\0'), 0x1FFFD0, SECTOR_SIZE, true});
    write_at(16 * SECTOR_SIZE, pvd);
    HandImage directory(SECTOR_SIZE);
    directory.put_record(0, {"HIGH.PMF;1", 0x1FFFE0, 0xFFFF});
    write_at(0x1FFFD0ull * SECTOR_SIZE, directory);
    HandImage data(4);
    data.put_bytes(0, "PSMF");
    write_at(0x1FFFE0ull * SECTOR_SIZE, data);

    Scan scan = scan_path(path.string(), true, false);
    EXPECT_EQ(scan.out,
              "Scanning media files...\n"
              "Media file found: HIGH.PMF;1 (offset=FFFF0000,size=63KB)\n"
              "1 media files found and forced to be NC areas.\n");
    EXPECT_EQ(scan.table[0], (NcArea{524280, 7}));
}

TEST(FindMediaAreas, UnopenableInputEndsTheRun) {
    TempDir dir;
    const std::string path = dir.file("missing.iso");
    std::string out;
    Console console(out, false);
    RunContext ctx(console);
    ctx.nc_areas.fill(UNTOUCHED);
    try {
        find_media_areas(ctx, path, true, true);
        FAIL() << "no QuitRequest";
    } catch (const QuitRequest& quit) {
        EXPECT_EQ(quit.code, -1);
    }
    EXPECT_EQ(out, "Error: cannot open input file " + path + "\n");
    for (const NcArea& area : ctx.nc_areas) EXPECT_EQ(area, UNTOUCHED);
}

}  // namespace
}  // namespace qivpak::test
