// nc_analysis_test.cpp - run rules, the full-table replacement rule and the analysis driver
#include "compress/nc_analysis.hpp"
#include "format/qiv_format.hpp"
#include "support/temp_dir.hpp"
#include "support/test_data.hpp"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace qivpak {
namespace {

using qivtest::TempDir;

// An image laid out frame by frame: 'R' random (never compresses), 'Z' zeros.
std::vector<std::uint8_t> image_of(const std::string& pattern, std::size_t tail_bytes = 0) {
    std::vector<std::uint8_t> image;
    std::uint32_t seed = 1;
    for (char c : pattern) {
        const auto frame = c == 'R' ? qivtest::random_bytes(FRAME_SIZE, seed++)
                                    : std::vector<std::uint8_t>(FRAME_SIZE, 0);
        image.insert(image.end(), frame.begin(), frame.end());
    }
    const auto tail = qivtest::random_bytes(tail_bytes, 99);
    image.insert(image.end(), tail.begin(), tail.end());
    return image;
}

struct AnalysisResult {
    int count = 0;
    std::string console;
    NcAreaTable table{};
    int quit_code = 0;  // 0 when the analysis returned
};

AnalysisResult analyze(const std::string& input, const std::optional<std::string>& info, int media_count,
                       const std::vector<NcArea>& media, std::uint32_t threshold) {
    AnalysisResult result;
    Console console(result.console, false);
    RunContext ctx(console);
    std::copy(media.begin(), media.end(), ctx.nc_areas.begin());
    try {
        result.count = analyze_nc_areas(ctx, input, info, -1, media_count, threshold);
    } catch (const QuitRequest& q) {
        result.quit_code = q.code;
    }
    result.table = ctx.nc_areas;
    return result;
}

TEST(NcAnalysis, RunRulesOnRealFrames) {
    struct Row {
        const char* what;
        std::string pattern;
        std::size_t tail;
        std::uint32_t threshold;
        std::vector<NcArea> media;
        std::vector<NcArea> expected;  // entries after the media areas
    };
    const Row rows[] = {
        {"single candidate", "ZRZ", 0, 8192, {}, {{1, 1}}},
        {"run closed below threshold", "ZZZZZRRZ", 0, 8192, {}, {{5, 2}}},
        {"open run at the end dropped", "RRZRRR", 0, 8192, {}, {{0, 2}}},
        {"every frame reaches -a1", "ZZRZ", 0, 1, {}, {}},
        {"partial last frame ignored", "RZR", 5000, 8192, {}, {{0, 1}}},
        {"no whole frame", "", 8000, 8192, {}, {}},
        {"run across a media area", "ZZZZZZZZZZRRZZZZZZZZZRRZ", 0, 8192, {{12, 9}}, {{10, 4}}},
        {"media frames never analysed", "ZRRRZ", 0, 8192, {{1, 3}}, {}},
    };
    for (const Row& row : rows) {
        TempDir dir;
        qivtest::write_file(dir.file("img"), image_of(row.pattern, row.tail));
        const int media_count = static_cast<int>(row.media.size());
        const AnalysisResult r = analyze(dir.file("img"), std::nullopt, media_count, row.media, row.threshold);
        ASSERT_EQ(r.quit_code, 0) << row.what;
        EXPECT_EQ(r.count, media_count + static_cast<int>(row.expected.size())) << row.what;
        for (std::size_t i = 0; i < row.expected.size(); ++i)
            EXPECT_EQ(r.table[static_cast<std::size_t>(media_count) + i], row.expected[i]) << row.what;
        EXPECT_EQ(r.table[static_cast<std::size_t>(r.count)], NcArea{}) << row.what;
    }
}

// Closes runs of the given lengths in order, one frame below the threshold after each.
void close_runs(NcRunCollector& runs, std::uint32_t& f, const std::vector<std::uint32_t>& lengths) {
    for (std::uint32_t len : lengths) {
        for (std::uint32_t k = 0; k < len; ++k) runs.add_frame(f++, true);
        runs.add_frame(f++, false);
    }
}

TEST(NcRunCollector, FullTableReplacesTheShortestLowestIndex) {
    NcAreaTable table{};
    constexpr int media = 2;
    table[0] = {1000000, 1};
    table[1] = {2000000, 1};
    NcRunCollector runs(table, media);
    std::uint32_t f = 0;
    std::vector<std::uint32_t> lengths = {3, 1, 1, 5};
    lengths.resize(MAX_NC_AREAS - media, 4);  // every later area longer than 3
    close_runs(runs, f, lengths);
    ASSERT_EQ(runs.area_count(), MAX_NC_AREAS);
    const NcArea entry3 = table[media + 3];

    const std::uint32_t start_of_two = f;
    close_runs(runs, f, {2});  // beats the first length-1 entry
    EXPECT_EQ(table[media + 1], (NcArea{start_of_two, 2}));
    EXPECT_EQ(table[media + 2].num_frames, 1u);
    close_runs(runs, f, {1});  // as long as the shortest: dropped
    EXPECT_EQ(table[media + 2].num_frames, 1u);
    const std::uint32_t second_two = f;
    close_runs(runs, f, {2});  // now the other length-1 entry goes
    EXPECT_EQ(table[media + 2], (NcArea{second_two, 2}));
    EXPECT_EQ(table[media + 3], entry3);
    EXPECT_EQ(table[0], (NcArea{1000000, 1}));  // media areas stay
    EXPECT_EQ(table[1], (NcArea{2000000, 1}));
    EXPECT_EQ(runs.area_count(), MAX_NC_AREAS);
}

TEST(NcRunCollector, FullOfMediaAreasDropsEveryRun) {
    NcAreaTable table{};
    for (auto& area : table) area = {7, 1};
    const NcAreaTable before = table;
    NcRunCollector runs(table, MAX_NC_AREAS);
    std::uint32_t f = 100;
    close_runs(runs, f, {5, 9});
    EXPECT_EQ(table, before);
    EXPECT_EQ(runs.area_count(), MAX_NC_AREAS);
}

TEST(NcAnalysis, ConsoleAndInfoFileText) {
    TempDir dir;
    // 2195 frames: the percentages at frames 0, 1000 and 2000 are 0, 45 and 91.
    std::string pattern(2195, 'Z');
    pattern[1] = 'R';
    qivtest::write_file(dir.file("img"), image_of(pattern));
    const AnalysisResult r = analyze(dir.file("img"), dir.file("info"), 0, {}, 8192);
    EXPECT_EQ(r.console, "Analyzing file...\n0%45%91%100%\nNumbers of NC Areas: 1\n");
    EXPECT_EQ(qivtest::read_text(dir.file("info")), "NCAREA #0: framestart=1,size=1 frames\n\n\n");

    // Media areas are listed first; a media frame at a multiple of 1000 prints nothing.
    std::string with_media(1001, 'Z');
    qivtest::write_file(dir.file("img2"), image_of(with_media));
    const AnalysisResult m = analyze(dir.file("img2"), dir.file("info2"), 1, {{1000, 1}}, 8192);
    EXPECT_EQ(m.console, "Analyzing file...\n0%100%\nNumbers of NC Areas: 1\n");
    EXPECT_EQ(qivtest::read_text(dir.file("info2")), "NCAREA #0: framestart=1000,size=1 frames\n\n\n");
}

TEST(NcAnalysis, RefusalsAndWarnings) {
    TempDir dir;
    const AnalysisResult missing = analyze(dir.file("absent"), std::nullopt, 0, {}, 8192);
    EXPECT_EQ(missing.quit_code, -1);
    EXPECT_EQ(missing.console, "Error: cannot open input file " + dir.file("absent") + "\n");

    qivtest::write_file(dir.file("img"), image_of("ZRZ"));
    const std::string bad_info = dir.file("no/such/dir/info");
    const AnalysisResult warned = analyze(dir.file("img"), bad_info, 0, {}, 8192);
    EXPECT_EQ(warned.console, "Warning: cannot create info file " + bad_info +
                                  "\nAnalyzing file...\n0%100%\nNumbers of NC Areas: 1\n");
    EXPECT_EQ(warned.count, 1);
}

}  // namespace
}  // namespace qivpak
