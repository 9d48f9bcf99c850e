// reader_test.cpp - one public reader serving threads that come and go
#include "support/support.hpp"

#include <qivpak/reader.hpp>

#include <gtest/gtest.h>

#include <algorithm>
#include <thread>

namespace {

using namespace qivtest;

// A read works in an inflater and buffers that the reader lends it, so threads
// may start, read and end around one reader as they please: every range read
// is the image's, and no thread's end disturbs the reader or the threads after it.
TEST(Reader, ThreadsThatReadAndEndInTurnEachGetTheImage) {
    TempDir dir;
    const Bytes image = make_image("zt", 64 * kFrame, 5);
    write_file(dir / "in", image);
    ASSERT_EQ(run_tool(dir, {"in", "c", "info"}).status, 0);
    const qivpak::QivReader reader((dir / "c").string());
    for (std::size_t round = 0; round < 150; ++round) {
        std::vector<std::thread> threads;
        for (std::size_t t = 0; t < 4; ++t)
            threads.emplace_back([&, t] {
                const std::size_t at = (round * 4 + t) % 61 * kFrame + 100;  // three frames, cut at both ends
                Bytes got(3 * kFrame);
                EXPECT_EQ(reader.read(at, got.data(), got.size()), got.size());
                EXPECT_TRUE(std::equal(got.begin(), got.end(), image.begin() + static_cast<std::ptrdiff_t>(at)))
                    << "round " << round << ", thread " << t;
            });
        for (std::thread& thread : threads) thread.join();
    }
}

}  // namespace
