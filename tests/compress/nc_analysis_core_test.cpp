// nc_analysis_core_test.cpp - the run rules by which the NC area analysis turns candidate frames into areas
#include "compress/nc_analysis.hpp"
#include "support/memory_io.hpp"

#include <gtest/gtest.h>

namespace {

using namespace qivpak;

std::string areas_text(const NcAreaTable& table, int count) {
    std::string text;
    for (int i = 0; i < count; ++i)
        text += std::to_string(table[i].frame_start) + "+" + std::to_string(table[i].num_frames) + " ";
    return text;
}

TEST(NcRuns, RunsClosedByACompressibleFrameBecomeAreasAfterTheMediaAreas) {
    struct Row {
        const char* frames;  // one character per frame: 'x' candidate, '.' not
        int media_count;
        const char* areas;   // the table's entries in use afterwards
    };
    const Row rows[] = {
        {"", 0, ""},
        {"xxx", 0, ""},                       // a run still open at the end is dropped
        {"x.", 0, "0+1 "},
        {".xx.x.xxx", 0, "1+2 4+1 "},
        {"..xx.", 2, "7+7 8+8 2+2 "},         // media entries 7+7 and 8+8 stay in front
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.frames);
        NcAreaTable table{};
        for (int m = 0; m < row.media_count; ++m) table[m] = {7u + m, 7u + m};
        NcRunCollector runs(table, row.media_count);
        for (std::uint32_t f = 0; row.frames[f] != 0; ++f) runs.add_frame(f, row.frames[f] == 'x');
        EXPECT_EQ(areas_text(table, runs.area_count()), row.areas);
    }
}

TEST(NcRuns, AFullTableKeepsTheLongestRunsAndNeverTheMediaAreas) {
    NcAreaTable table{};
    table[0] = {1000, 1};  // one media area
    NcRunCollector runs(table, 1);
    std::uint32_t f = 0;
    auto run_of = [&](std::uint32_t length) {
        for (std::uint32_t k = 0; k < length; ++k) runs.add_frame(f++, true);
        runs.add_frame(f++, false);
    };
    for (int i = 0; i < 191; ++i) run_of(2);  // fills entries 1..191 with runs of 2
    run_of(2);                                // not longer: dropped
    run_of(5);                                // replaces entry 1, the first of the shortest
    run_of(1);                                // shorter than all: dropped
    EXPECT_EQ(runs.area_count(), 192);
    EXPECT_EQ(table[0], (NcArea{1000, 1}));
    EXPECT_EQ(table[1], (NcArea{576, 5}));
    EXPECT_EQ(table[2], (NcArea{3, 2}));
}

TEST(NcRuns, MediaFramesAreReportedRawAndNeverTried) {
    qivtest::MemorySource image(qivtest::Bytes(3 * 8192, 0));
    NcPlan plan;
    plan.media_count = 1;
    plan.areas[0] = {0, 2};
    qivtest::LogReporter log;
    analyze_nc_areas(image, image.bytes.size(), {-1, 8192, 2, ""}, plan, log);
    ASSERT_EQ(log.log.size(), 6u);
    EXPECT_EQ(log.log[1] + " " + log.log[2], "raw 0 raw 1");  // the console shows no progress for them
    EXPECT_EQ(log.log[3].rfind("frame 2 ", 0), 0u) << log.log[3];
    EXPECT_EQ(log.log[5], "areas analysis 0+2");
}

}  // namespace
