// media_scan_test.cpp - -v and -s on a disc image made by xorriso, and on a hand-laid one no tool would write
#include "support/container.hpp"
#include "support/iso_image.hpp"

#include <gtest/gtest.h>

#include <map>
#include <sstream>

namespace {

using namespace qivtest;

Bytes media(const char* magic, std::size_t size, std::uint32_t seed) {
    Bytes data = make_image("t", size, seed);  // compressible: only the scan can make it an area
    std::copy_n(magic, 4, data.begin());
    return data;
}

TEST(MediaScan, MoviesThenAudioInWalkOrderBecomeTheAreasWithLoopsWalkedOnce) {
    TempDir dir;
    // hand.iso. The root: itself, itself as the parent, a movie with a control byte in its name, itself again,
    // and fillers up to where the room left in the sector is as long as the last record; SUB opens the next.
    IsoImage hand(32);
    hand.root(18);
    std::uint64_t at = hand.put(hand.put(hand.dir(18, 18), "Y\a.PMF;1", 24, 100), "LOOP", 18, 2048, true);
    for (int k = 0; k < 6; ++k) at = hand.put(at, "F", 0, 0, false, 250);
    hand.put(at, "F", 0, 0, false, 200);
    hand.put(19 * 2048, "SUB", 20, 2048, true);
    // SUB: itself, the root as the parent and again, fillers, then a movie whose record crosses into sector 21.
    at = hand.put(hand.dir(20, 18), "BACK", 18, 2048, true);
    for (int k = 0; k < 8; ++k) at = hand.put(at, "F", 0, 0, false, 240);
    hand.put(at, "Z.PMF;1", 25, 9000);
    std::copy_n("PSMF", 4, hand.bytes.begin() + 24 * 2048);
    std::copy_n("PSMF", 4, hand.bytes.begin() + 25 * 2048);
    write_file(dir / "hand.iso", hand.bytes);
    // By name: byte offset and size of the file's data.
    std::map<std::string, std::pair<std::uint32_t, std::uint32_t>> extents = {{"Y?.PMF;1", {0xC000, 100}},
                                                                                {"Z.PMF;1", {0xC800, 9000}}};
#ifdef _WIN32
    const std::string xorriso = "";  // it cannot be started from a Windows program
#else
    const std::string xorriso = fs::exists("/usr/bin/xorriso") ? "/usr/bin/xorriso" : "";
#endif
    for (const auto& [path, data] : {std::pair{"MOVIES/A.PMF", media("PSMF", 20000, 1)},
                                     {"MOVIES/DEEP/B.PMF", media("PSMF", 100, 2)},
                                     {"X.DAT", media("PSMF", 9000, 3)},  // a movie by its bytes, whatever its name
                                     {"MUSIC/C.WAV", media("RIFF", 3000, 4)},
                                     {"SOUND.WAV", media("RIFF", 3 * kFrame, 5)},  // a whole number of frames
                                     {"FAKE.WAV", media("RIFX", 5000, 6)},
                                     {"README.TXT", make_image("t", 40000, 7)}}) {
        fs::create_directories((dir / "tree" / path).parent_path());
        write_file(dir / "tree" / path, data);
    }
    if (!xorriso.empty()) {  // plain ISO 9660 names (upper case, files ending in ";1"), and xorriso's own listing
        ASSERT_EQ(run_process({xorriso, "-as", "mkisofs", "--norock", "-quiet", "-o", (dir / "x.iso").string(),
                               (dir / "tree").string()}).status, 0);
        std::istringstream listing(run_process({xorriso, "-ecma119_map", "unmapped", "-indev", (dir / "x.iso").string(),
                                                "-find", "/", "-exec", "report_lba", "--"}).out);
        for (std::string line; std::getline(listing, line);) {  // File data lba: 0 , LBA , BLOCKS , SIZE , '/PATH'
            unsigned lba = 0, size = 0;
            if (std::sscanf(line.c_str(), "File data lba: %*u , %u , %*u , %u", &lba, &size) == 2)
                extents[line.substr(line.rfind('/') + 1, line.size() - line.rfind('/') - 2)] = {lba * 2048, size};
        }
        ASSERT_EQ(extents.size(), 9u);
    }
    const std::pair<std::vector<std::string>, std::vector<std::string>> rows[] = {  // options, the files found
        {{"-v", "hand.iso"}, {"Y?.PMF;1", "Z.PMF;1"}},
        {{"-v", "x.iso"}, {"A.PMF;1", "B.PMF;1", "X.DAT;1"}},
        {{"-s", "x.iso"}, {"C.WAV;1", "SOUND.WAV;1"}},
        {{"-s", "-v", "x.iso"}, {"A.PMF;1", "B.PMF;1", "X.DAT;1", "C.WAV;1", "SOUND.WAV;1"}}};
    for (auto [args, found] : rows) {
        SCOPED_TRACE(testing::PrintToString(args));
        if (args.back() == "x.iso" && xorriso.empty()) continue;
        args.push_back("out");
        const ProcessResult r = run_tool(dir, args);
        Parsed parsed;
        ASSERT_EQ(parse_container(read_file(dir / "out"), -1, parsed), "") << r.out;
        EXPECT_TRUE(parsed.image == read_file(dir / args[args.size() - 2]));
        ASSERT_EQ(parsed.areas.size(), found.size());
        std::string expected = kBanner + "Scanning media files...\n";
        for (std::size_t i = 0; i < found.size(); ++i) {
            const auto [offset, size] = extents.at(found[i]);
            char line[128];
            expected.append(line, std::snprintf(line, sizeof line, "Media file found: %s (offset=%08X,size=%uKB)\n",
                                                found[i].c_str(), offset, size / 1024));
            // Its area: from the frame that holds its first byte, as many frames as its length needs.
            const auto [first, frames] = parsed.areas[i];
            EXPECT_TRUE(first * kFrame <= offset && offset < (first + 1) * kFrame) << found[i];
            EXPECT_TRUE(frames * kFrame >= size && (frames - 1) * kFrame < size) << found[i];
        }
        const std::string count = std::to_string(found.size());
        expected += count + " media files found and forced to be NC areas.\nAnalyzing file...\n0%100%\n" +
                    "Numbers of NC Areas: " + count + "\nN of frames: ";
        EXPECT_EQ(r.out.substr(0, expected.size()), expected);
        EXPECT_EQ(r.status, 0);
    }
    if (xorriso.empty()) GTEST_SKIP() << "xorriso is not installed or cannot be started: only hand.iso was read";
}

}  // namespace
