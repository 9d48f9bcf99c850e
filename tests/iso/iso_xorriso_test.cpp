// iso_xorriso_test.cpp - the search and the media scan on real images made by xorriso, checked against its own listing
//
// Images are made with `xorriso -as mkisofs --norock`: plain ISO 9660 names
// (upper case, files with the version suffix ";1"), no Rock Ridge or Joliet
// names, so that the names the walk reads are the names xorriso lists with
// `-ecma119_map unmapped`. Data start on 2048-byte blocks, not on frames.
#include "iso/iso_search.hpp"
#include "iso/iso_test_support.hpp"
#include "iso/media_areas.hpp"

#include "cli/console.hpp"
#include "cli/run_context.hpp"

#include <gtest/gtest.h>

#include <algorithm>
#include <fstream>
#include <map>
#include <set>
#include <sstream>
#include <string>
#include <vector>

namespace qivpak::test {
namespace {

// A PCM WAV file: 8-bit mono at 8000 Hz, `samples` bytes of data.
std::string wav(std::uint32_t samples) {
    std::string out;
    auto u32 = [&](std::uint32_t v) {
        for (int i = 0; i < 4; ++i) out += static_cast<char>(v >> (8 * i));
    };
    auto u16 = [&](std::uint16_t v) {
        out += static_cast<char>(v);
        out += static_cast<char>(v >> 8);
    };
    out += "RIFF";
    u32(36 + samples);
    out += "WAVEfmt ";
    u32(16);
    u16(1);     // PCM
    u16(1);     // mono
    u32(8000);  // samples per second
    u32(8000);  // bytes per second
    u16(1);     // block align
    u16(8);     // bits per sample
    out += "data";
    u32(samples);
    for (std::uint32_t i = 0; i < samples; ++i) out += static_cast<char>(128 + (i % 64));
    return out;
}

std::string movie(std::size_t size) {
    std::string out = "PSMF0015";
    while (out.size() < size) out += static_cast<char>('a' + out.size() % 26);
    return out;
}

// The area of a file as the scan makes it: from the frame holding its first
// byte, as many frames as its length needs, less the image's short last frame
// when the file reaches into it.
NcArea expected_area(const Listing::Data& file, std::uint64_t image_size) {
    std::uint32_t first = file.lba / 4;
    std::uint32_t count = (file.size + FRAME_SIZE - 1) / FRAME_SIZE;
    if (image_size % FRAME_SIZE != 0 && first + count >= image_size / FRAME_SIZE + 1) --count;
    return {first, count};
}

class XorrisoImage : public ::testing::Test {
protected:
    // ZLAST.PMF: one frame and 1000 bytes, so that wherever its block lies in a
    // frame, its last bytes reach into the frame after its area's first.
    static constexpr std::size_t LAST_SIZE = FRAME_SIZE + 1000;

    void SetUp() override {
        if (!run_command("xorriso -version >/dev/null 2>&1")) GTEST_SKIP() << "xorriso is not installed";
        const std::map<std::string, std::string> tree = {
            {"MOVIE1.PMF", movie(20000)},  // spans three frames
            {"README.TXT", "not a movie\n"},
            {"EMPTY.DAT", ""},
            {"SOUND.WAV", wav(1000)},
            {"FAKE.WAV", "RIFX is not RIFF"},
            {"SUB/CLIP.PMF", movie(100)},
            {"SUB/DEEPER/VOICE.WAV", wav(3000)},
            {"SUB/DEEPER/NOTES.TXT", "PSM"},
            {"SUB/DEEPER/INNER/LOOP.PMF", movie(9000)},
            {"ZLAST.PMF", movie(LAST_SIZE)},
        };
        for (const auto& [path, data] : tree) write_file(dir_.path() / "tree" / path, data);
        image_ = (dir_.path() / "image.iso").string();
        ASSERT_TRUE(run_command("xorriso -as mkisofs --norock -o '" + image_ + "' '" + (dir_.path() / "tree").string() +
                                "' >/dev/null 2>&1"));
        listing_ = list_image(image_);

        // A file is a movie or an audio file by the bytes at the block xorriso
        // reports, whatever its length (an empty file's block belongs to no data).
        std::ifstream in(image_, std::ios::binary);
        for (const auto& [name, data] : listing_.files) {
            char head[4] = {};
            in.seekg(static_cast<std::streamoff>(std::uint64_t{data.lba} * SECTOR_SIZE));
            in.read(head, 4);
            in.clear();
            if (std::string_view(head, 4) == "PSMF") movies_.insert(name);
            if (std::string_view(head, 4) == "RIFF") audio_.insert(name);
        }
        const std::set<std::string> tree_movies = {"MOVIE1.PMF;1", "CLIP.PMF;1", "LOOP.PMF;1", "ZLAST.PMF;1"};
        const std::set<std::string> tree_audio = {"SOUND.WAV;1", "VOICE.WAV;1"};
        ASSERT_TRUE(std::includes(movies_.begin(), movies_.end(), tree_movies.begin(), tree_movies.end()));
        ASSERT_TRUE(std::includes(audio_.begin(), audio_.end(), tree_audio.begin(), tree_audio.end()));
    }

    // Runs the scan for both kinds and checks each line and table entry against xorriso's listing.
    void check_scan(const std::string& image, std::uint64_t image_size) {
        std::string out;
        Console console(out, false);
        RunContext ctx(console);
        int count = find_media_areas(ctx, image, true, true);
        ASSERT_EQ(count, static_cast<int>(movies_.size() + audio_.size()));

        std::istringstream lines(out);
        std::string line;
        std::getline(lines, line);
        EXPECT_EQ(line, "Scanning media files...");
        std::set<std::string> movies_seen, audio_seen;
        for (int i = 0; i < count; ++i) {
            ASSERT_TRUE(std::getline(lines, line));
            std::string name = line.substr(18, line.find(" (") - 18);
            ASSERT_TRUE(listing_.files.count(name)) << line;
            const Listing::Data& file = listing_.files.at(name);
            char expected[160];
            std::snprintf(expected, sizeof expected, "Media file found: %s (offset=%08X,size=%uKB)", name.c_str(),
                          file.lba * SECTOR_SIZE, file.size / 1024);
            EXPECT_EQ(line, expected);
            EXPECT_EQ(ctx.nc_areas[static_cast<std::size_t>(i)], expected_area(file, image_size)) << name;
            // Every movie file comes before every audio file.
            (static_cast<std::size_t>(i) < movies_.size() ? movies_seen : audio_seen).insert(name);
        }
        EXPECT_EQ(movies_seen, movies_);
        EXPECT_EQ(audio_seen, audio_);
        std::getline(lines, line);
        EXPECT_EQ(line, std::to_string(count) + " media files found and forced to be NC areas.");
    }

    TempDir dir_;
    std::string image_;
    Listing listing_;
    std::set<std::string> movies_, audio_;  // names as stored
};

TEST_F(XorrisoImage, WalkListsWhatXorrisoLists) {
    auto file = File::open(image_, File::Mode::read);
    ASSERT_TRUE(file);
    std::vector<IsoDirRecord> results(64);
    int count = iso_find_files(*file, results, nullptr);
    std::vector<std::string> walked = names_of(results, count);
    std::sort(walked.begin(), walked.end());
    std::vector<std::string> listed = listing_.names;
    std::sort(listed.begin(), listed.end());
    EXPECT_EQ(walked, listed);
    EXPECT_EQ(listed.size(), 13u);  // ten files, three directories
}

TEST_F(XorrisoImage, MediaFilesBecomeAreas) { check_scan(image_, std::filesystem::file_size(image_)); }

// Cut right after ZLAST.PMF, the last data in the image, or 100 bytes later:
// the file reaches into the image's short last frame, which stays out of its area.
TEST_F(XorrisoImage, MediaFileReachingTheEndOfACutImage) {
    ASSERT_TRUE(listing_.files.count("ZLAST.PMF;1"));
    const Listing::Data last = listing_.files.at("ZLAST.PMF;1");
    for (const auto& [name, data] : listing_.files)
        ASSERT_LE(data.lba, last.lba) << name << " lies after ZLAST.PMF;1";
    for (std::uint64_t extra : {0, 100}) {
        const std::uint64_t size = std::uint64_t{last.lba} * SECTOR_SIZE + LAST_SIZE + extra;
        ASSERT_NE(size % FRAME_SIZE, 0u);
        std::filesystem::resize_file(image_, size);
        ASSERT_EQ(expected_area(last, size).num_frames, 1u);
        check_scan(image_, size);
    }
}

}  // namespace
}  // namespace qivpak::test
