// large_image_test.cpp - sparse images past every signed 32-bit position: packed and unpacked to the same bytes,
// and a disc file of more than 2 GiB listed and read by qiv
//
// Needs about 4 GiB of free disk for the container and the restored image, and a few minutes.
#include "support/iso_image.hpp"
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

// A hand-laid disc holding BIG.BIN, one file of two extents (2 GiB less a block, then 600 MiB and 7 bytes)
// whose last 7 bytes are "marked!", the rest sparse zeros: qiv ls gives its exact size, qiv cat its end.
TEST(LargeImage, DiscFileOver2GiBListsAndReads) {
    if (std::string(QIV_BINARY).empty()) GTEST_SKIP() << "qiv is not built";
    TempDir dir;
    if (fs::space(dir / "").available < (std::uint64_t{3} << 30)) GTEST_SKIP() << "needs 3 GiB of free disk";
    const std::uint32_t first = 0x7FFFF800, second = 629145607, second_block = 32 + first / 2048;
    HandDisc disc;
    const std::uint64_t at = disc.dir(20, 20);
    disc.put(disc.put(at, "BIG.BIN;1", 32, first), "BIG.BIN;1", second_block, second);
    disc.bytes[at + 25] = 0x80;  // more extents follow
    write_file(dir / "disc.iso", disc.bytes);
    const std::uint64_t end = std::uint64_t{second_block} * SECTOR_SIZE + second;
    {
        std::fstream image(dir / "disc.iso", std::ios::binary | std::ios::in | std::ios::out);
        image.seekp(static_cast<std::streamoff>(end - 7)).write("marked!", 7);
    }
    fs::resize_file(dir / "disc.iso", (end + SECTOR_SIZE - 1) / SECTOR_SIZE * SECTOR_SIZE);
    ASSERT_EQ(run_tool(dir, {"disc.iso", "disc.qiv"}).status, 0);
    const ProcessOptions here{dir.path.string(), {}, 100, {}};
    const ProcessResult ls = run_process({QIV_BINARY, "ls", "--long", "disc.qiv"}, here);
    EXPECT_EQ(std::pair(ls.out, ls.err), std::pair(std::string("-r--r--r-- 2776627207 1970-01-01 00:00 BIG.BIN\n"),
                                                   std::string()));
    const ProcessResult cat =
        run_process({QIV_BINARY, "cat", "disc.qiv", "BIG.BIN", "--offset", "2776627197", "--length", "10"}, here);
    EXPECT_EQ(std::pair(cat.out, cat.status), std::pair(std::string("\0\0\0marked!", 10), 0)) << cat.err;
}

}  // namespace
