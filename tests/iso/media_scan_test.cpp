// media_scan_test.cpp - -v and -s on disc images made by xorriso, and on hand-laid ones no tool would write
#include "support/container.hpp"

#include <gtest/gtest.h>

#include <map>
#include <sstream>

namespace {

using namespace qivtest;

struct Extent {
    std::uint32_t lba, size;  // first 2048-byte block and length in bytes
};

const std::string kXorriso = "/usr/bin/xorriso";

// Makes `dir`/image.iso of the files given by path and content, with plain ISO 9660 names (upper case,
// files ending in ";1"); returns xorriso's own listing of their extents, by name.
std::map<std::string, Extent> make_iso(const TempDir& dir, const std::vector<std::pair<std::string, Bytes>>& files) {
    for (const auto& [path, data] : files) {
        fs::create_directories((dir / "tree" / path).parent_path());
        write_file(dir / "tree" / path, data);
    }
    const std::string image = (dir / "image.iso").string(), tree = (dir / "tree").string();
    EXPECT_EQ(run_process({kXorriso, "-as", "mkisofs", "--norock", "-quiet", "-o", image, tree}).status, 0);
    std::istringstream lines(run_process({kXorriso, "-ecma119_map", "unmapped", "-indev", image, "-find", "/", "-exec",
                                          "report_lba", "--"}).out);
    std::map<std::string, Extent> extents;
    for (std::string line; std::getline(lines, line);) {  // File data lba: 0 , LBA , BLOCKS , SIZE , '/PATH'
        unsigned lba = 0, size = 0;
        if (std::sscanf(line.c_str(), "File data lba: %*u , %u , %*u , %u", &lba, &size) == 2)
            extents[line.substr(line.rfind('/') + 1, line.size() - line.rfind('/') - 2)] = {lba, size};
    }
    return extents;
}

Bytes media(const char* magic, std::size_t size, std::uint32_t seed) {
    Bytes data = make_image("t", size, seed);  // compressible: only the scan can make it an area
    std::copy_n(magic, 4, data.begin());
    return data;
}

TEST(XorrisoImage, MoviesThenAudioInWalkOrderBecomeTheAreas) {
#ifdef _WIN32
    GTEST_SKIP() << "xorriso cannot be started from a Windows program";
#endif
    if (!fs::exists(kXorriso)) GTEST_SKIP() << "xorriso is not installed";
    TempDir dir;
    const auto extents = make_iso(dir, {{"MOVIES/A.PMF", media("PSMF", 20000, 1)},
                                        {"MOVIES/DEEP/B.PMF", media("PSMF", 100, 2)},
                                        {"X.DAT", media("PSMF", 9000, 3)},  // a movie by its bytes, whatever its name
                                        {"MUSIC/C.WAV", media("RIFF", 3000, 4)},
                                        {"SOUND.WAV", media("RIFF", 30000, 5)},
                                        {"FAKE.WAV", media("RIFX", 5000, 6)},
                                        {"README.TXT", make_image("t", 40000, 7)}});
    ASSERT_EQ(extents.size(), 7u);
    struct Row {
        std::vector<std::string> options;
        std::vector<std::string> found;  // in the order of the lines and the areas
    };
    const Row rows[] = {{{"-v"}, {"A.PMF;1", "B.PMF;1", "X.DAT;1"}},
                        {{"-s"}, {"C.WAV;1", "SOUND.WAV;1"}},
                        {{"-s", "-v"}, {"A.PMF;1", "B.PMF;1", "X.DAT;1", "C.WAV;1", "SOUND.WAV;1"}}};
    for (const Row& row : rows) {
        SCOPED_TRACE(testing::PrintToString(row.options));
        std::string expected = kBanner + "Scanning media files...\n";
        for (const std::string& name : row.found) {
            char line[128];
            std::snprintf(line, sizeof line, "Media file found: %s (offset=%08X,size=%uKB)\n", name.c_str(),
                          extents.at(name).lba * 2048, extents.at(name).size / 1024);
            expected += line;
        }
        const std::string count = std::to_string(row.found.size());
        expected += count + " media files found and forced to be NC areas.\nAnalyzing file...\n0%100%\n" +
                    "Numbers of NC Areas: " + count + "\nN of frames: ";
        std::vector<std::string> args = row.options;
        args.insert(args.end(), {"image.iso", "out"});
        const ProcessResult r = run_tool(dir, args);
        EXPECT_EQ(r.status, 0);
        EXPECT_EQ(r.out.substr(0, expected.size()), expected);
        Parsed parsed;
        ASSERT_EQ(parse_container(read_file(dir / "out"), -1, parsed), "");
        EXPECT_TRUE(parsed.image == read_file(dir / "image.iso"));
        ASSERT_EQ(parsed.areas.size(), row.found.size());
        for (std::size_t i = 0; i < row.found.size(); ++i) {
            // From the frame that holds the file's first byte, as many frames as its length needs.
            const auto [first, frames] = parsed.areas[i];
            const Extent e = extents.at(row.found[i]);
            EXPECT_TRUE(first * kFrame <= e.lba * 2048u && e.lba * 2048u < (first + 1) * kFrame) << row.found[i];
            EXPECT_TRUE(frames * kFrame >= e.size && (frames - 1) * kFrame < e.size) << row.found[i];
        }
    }
}

// Lays a directory record at `at`; returns its length.
std::size_t put_record(Bytes& image, std::size_t at, std::string_view name, std::uint32_t extent, std::uint32_t size,
                       bool directory, std::size_t length = 0) {
    length = length != 0 ? length : 34 + name.size() - name.size() % 2;
    image[at] = static_cast<std::uint8_t>(length);
    for (std::size_t k = 0; k < 4; ++k) {
        image[at + 2 + k] = static_cast<std::uint8_t>(extent >> (8 * k));
        image[at + 10 + k] = static_cast<std::uint8_t>(size >> (8 * k));
    }
    image[at + 25] = directory ? 2 : 0;
    image[at + 32] = static_cast<std::uint8_t>(name.size());
    std::copy(name.begin(), name.end(), image.begin() + static_cast<std::ptrdiff_t>(at + 33));
    return length;
}

TEST(HandLaidImage, LoopsAreWalkedOnceAndRecordsAreFollowedAcrossSectorEnds) {
    Bytes image(32 * 2048);
    put_record(image, 16 * 2048 + 156, std::string_view("\0", 1), 18, 2048, true);  // the root, named by the volume
    // The root: a movie with a control byte in its name, the root again, and fillers up to where the room
    // left in the sector is as long as the last record; SUB opens the next sector.
    std::size_t at = 18 * 2048;
    at += put_record(image, at, std::string_view("\0", 1), 18, 2048, true);
    at += put_record(image, at, "\1", 18, 2048, true);
    at += put_record(image, at, "A\a.PMF;1", 24, 100, false);
    at += put_record(image, at, "LOOP", 18, 2048, true);
    for (const std::size_t length : {250, 250, 250, 250, 250, 250, 200})
        at += put_record(image, at, "F", 0, 0, false, length);
    ASSERT_EQ(at, 19 * 2048 - 200);
    put_record(image, 19 * 2048, "SUB", 20, 2048, true);
    // SUB: back to the root, fillers, then a movie whose record crosses into the next sector.
    at = 20 * 2048;
    at += put_record(image, at, std::string_view("\0", 1), 20, 2048, true);
    at += put_record(image, at, "\1", 18, 2048, true);
    at += put_record(image, at, "BACK", 18, 2048, true);
    for (int k = 0; k < 8; ++k) at += put_record(image, at, "F", 0, 0, false, 240);
    ASSERT_EQ(at + 40, 21 * 2048 + 18);
    put_record(image, at, "B.PMF;1", 25, 9000, false);
    std::copy_n("PSMF", 4, image.begin() + 24 * 2048);
    std::copy_n("PSMF", 4, image.begin() + 25 * 2048);
    TempDir dir;
    write_file(dir / "in", image);
    const ProcessResult r = run_tool(dir, {"-v", "in", "out"});
    EXPECT_EQ(r.out, kBanner +
                         "Scanning media files...\n"
                         "Media file found: A?.PMF;1 (offset=0000C000,size=0KB)\n"
                         "Media file found: B.PMF;1 (offset=0000C800,size=8KB)\n"
                         "2 media files found and forced to be NC areas.\n"
                         "Analyzing file...\n0%100%\nNumbers of NC Areas: 2\n"
                         "N of frames: 8\nCompressing...\n100%\nTotal frames written: 8\nWriting tables...\n"
                         "Table size: 32+16=48\nFinished.\n\nReport: 64 KB -> 17 KB (26%)\n\n");
    EXPECT_EQ(r.status, 0);
    Parsed parsed;
    ASSERT_EQ(parse_container(read_file(dir / "out"), -1, parsed), "");
    EXPECT_EQ(parsed.areas, (Areas{{6, 1}, {6, 2}}));
    EXPECT_TRUE(parsed.image == image);
}

}  // namespace
