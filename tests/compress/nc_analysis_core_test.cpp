// nc_analysis_core_test.cpp - the run rules of the NC area analysis, and the analysis in memory
#include "compress/nc_analysis.hpp"
#include "support/memory_io.hpp"

#include <gtest/gtest.h>

#include <random>

namespace {

using namespace qivpak;
using qivtest::Bytes;

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

TEST(NcAnalysis, NoiseFramesBecomeAnAreaAndMediaFramesAreNotTried) {
    Bytes image(6 * 8192, 0);
    std::mt19937 random(7);
    for (std::size_t i = 2 * 8192; i < 4 * 8192; ++i) image[i] = static_cast<std::uint8_t>(random());
    image.resize(image.size() + 100);  // a short last frame is never analysed
    qivtest::MemorySource source(image);
    qivtest::LogReporter log;
    NcPlan plan;
    plan.areas[0] = {5, 1};
    plan.media_count = 1;
    analyze_nc_areas(source, image.size(), {-1, 8192, 2, ""}, plan, log);
    ASSERT_EQ(log.log.size(), 9u);
    EXPECT_EQ(log.log[0], "start analysis 6");
    EXPECT_EQ(log.log[3].rfind("frame 2 8", 0), 0u) << log.log[3];  // noise does not compress
    EXPECT_EQ(log.log[6], "raw 5");
    EXPECT_EQ(log.log[7], "end analysis");
    EXPECT_EQ(log.log[8], "areas analysis 5+1 2+2");
    EXPECT_EQ(plan.count, 2);
    EXPECT_FALSE(plan.trial.has_value());  // no folder given for the streams
}

TEST(NcAnalysis, AnImageThatShrinksIsAnAnalysisError) {
    qivtest::MemorySource source(Bytes(4 * 8192, 1));
    source.short_from = 3 * 8192 - 1;
    qivtest::LogReporter log;
    NcPlan plan;
    try {
        analyze_nc_areas(source, 4 * 8192, {-1, 8192, 1, ""}, plan, log);
        ADD_FAILURE() << "no failure";
    } catch (const RunError& error) {
        EXPECT_EQ(error.fault, Fault::analyze_image);
    }
    EXPECT_EQ(log.log.back().rfind("frame 1 ", 0), 0u);
}

}  // namespace
