// worker_group_test.cpp - a worker group runs its bodies with their numbers until its end stops and joins them
#include "pipeline/worker_group.hpp"

#include <gtest/gtest.h>

#include <condition_variable>
#include <mutex>
#include <set>

namespace {

// Each body records its number and waits until told to stop, so the group's
// end must call `stop` before it joins, or never returns.
TEST(WorkerGroup, RunsEachWorkerNumberOnceAndStopsThemAtItsEnd) {
    for (const unsigned count : {0u, 1u, 5u}) {
        SCOPED_TRACE(count);
        std::mutex mutex;
        std::condition_variable changed;
        std::multiset<unsigned> seen;  // guarded by mutex
        bool stopping = false;         // guarded by mutex
        int stops = 0, returned = 0;   // guarded by mutex
        {
            const qivpak::WorkerGroup group(
                count,
                [&](unsigned worker) {
                    std::unique_lock lock(mutex);
                    seen.insert(worker);
                    changed.notify_all();
                    changed.wait(lock, [&] { return stopping; });
                    ++returned;
                },
                [&] {
                    std::lock_guard lock(mutex);
                    stopping = true;
                    ++stops;
                    changed.notify_all();
                });
            EXPECT_EQ(group.started(), count);
            std::unique_lock lock(mutex);
            changed.wait(lock, [&] { return seen.size() == count; });
            EXPECT_EQ(stops, 0);
        }
        std::multiset<unsigned> expected;
        for (unsigned w = 0; w < count; ++w) expected.insert(w);
        EXPECT_EQ(seen, expected);
        EXPECT_EQ(stops, 1);
        EXPECT_EQ(returned, static_cast<int>(count));  // joined: every body has returned
    }
}

}  // namespace
