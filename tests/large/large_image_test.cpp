// large_image_test.cpp - a sparse 3 GiB image, past every signed 32-bit position, packs and unpacks to the same bytes
//
// Needs about 4 GiB of free disk for the container and the restored image, and a few minutes.
#include "support/support.hpp"

#include <gtest/gtest.h>

namespace {

using namespace qivtest;

TEST(LargeImage, Sparse3GiBImageRoundTrips) {
    TempDir dir;
    if (fs::space(dir / "").available < (std::uint64_t{4} << 30)) GTEST_SKIP() << "needs 4 GiB of free disk";
    const std::uint64_t size = std::uint64_t{3} << 30;
    {
        std::ofstream big(dir / "big", std::ios::binary);
        for (const std::uint64_t at : {std::uint64_t{0}, (std::uint64_t{2} << 30) + 1, size - 7})
            big.seekp(static_cast<std::streamoff>(at)).write("marked!", 7);
    }
    fs::resize_file(dir / "big", size);  // the rest is sparse zeros
    ASSERT_EQ(run_tool(dir, {"big", "c.qiv"}).status, 0);
    const ProcessResult r = run_tool(dir, {"-d", "c.qiv", "back"});
    ASSERT_EQ(r.status, 0) << r.out;
    EXPECT_EQ(run_process({"/usr/bin/cmp", (dir / "big").string(), (dir / "back").string()}).status, 0);
}

}  // namespace
