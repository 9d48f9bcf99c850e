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

}  // namespace
