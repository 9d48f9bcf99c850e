// worker_threads_test.cpp - how many workers a run starts: asked for, capped, never more than frames
#include "pipeline/ordered_pipeline.hpp"

#include <gtest/gtest.h>

namespace {

TEST(WorkerThreads, AreCappedAtTheMaximumAndTheFrameCount) {
    struct Row {
        unsigned requested;
        std::uint32_t frames;
        unsigned expected;
    };
    const Row rows[] = {{1, 1000, 1}, {7, 1000, 7}, {1024, 524288, 64}, {64, 524288, 64},
                        {16, 3, 3},   {16, 0, 1},   {0, 1, 1}};
    for (const Row& row : rows)
        EXPECT_EQ(qivpak::worker_threads(row.requested, row.frames), row.expected)
            << row.requested << " asked for " << row.frames << " frames";
}

// Frames come back in order, each processed once, whatever the thread count.
TEST(OrderedPipeline, RunsEveryFrameInOrderAtAnyThreadCount) {
    for (unsigned threads : {1u, 2u, 5u, 64u}) {
        qivpak::OrderedPipeline<std::uint32_t> pipeline(threads);
        std::vector<std::uint32_t> drained;
        pipeline.run(
            1000, [](std::uint32_t i, std::uint32_t& job) { job = i; return true; },
            [](std::uint32_t& job, unsigned) { job = job * 3 + 1; },
            [&](std::uint32_t i, std::uint32_t& job) {
                ASSERT_EQ(job, i * 3 + 1);
                drained.push_back(i);
            });
        ASSERT_EQ(drained.size(), 1000u) << threads << " threads";
        EXPECT_EQ(drained.back(), 999u);
    }
}

}  // namespace
