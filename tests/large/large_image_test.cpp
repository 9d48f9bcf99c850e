// large_image_test.cpp - a sparse 3 GiB image, past every signed 32-bit position, packs and unpacks to the same bytes
//
// Needs about 3 GiB of free disk for the restored image and a few minutes.
#include <gtest/gtest.h>

#include <cstdint>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "faults/faults_support.hpp"

namespace {

using namespace qivfaults;
namespace fs = std::filesystem;

constexpr std::uint64_t kGiB = std::uint64_t{1} << 30;

void write_at(const fs::path& path, std::uint64_t offset, const std::string& bytes) {
    std::fstream f(path, std::ios::binary | std::ios::in | std::ios::out);
    f.seekp(static_cast<std::streamoff>(offset));
    f.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
    ASSERT_TRUE(f.good()) << "cannot write at " << offset;
}

// First offset where the two files differ, or -1 when they are equal (sizes included).
std::int64_t first_difference(const fs::path& a, const fs::path& b) {
    if (fs::file_size(a) != fs::file_size(b)) return 0;
    std::ifstream fa(a, std::ios::binary);
    std::ifstream fb(b, std::ios::binary);
    std::vector<char> ba(1 << 20);
    std::vector<char> bb(1 << 20);
    std::int64_t at = 0;
    while (fa && fb) {
        fa.read(ba.data(), static_cast<std::streamsize>(ba.size()));
        fb.read(bb.data(), static_cast<std::streamsize>(bb.size()));
        const std::streamsize got = fa.gcount();
        if (got != fb.gcount()) return at;
        for (std::streamsize k = 0; k < got; ++k)
            if (ba[static_cast<std::size_t>(k)] != bb[static_cast<std::size_t>(k)]) return at + k;
        at += got;
    }
    return -1;
}

TEST(LargeImage, Sparse3GiBImageRoundTrips) {
    TempDir dir;
    if (fs::space(dir.path()).available < 4 * kGiB) GTEST_SKIP() << "needs 4 GiB of free disk";
    const std::uint64_t size = 3 * kGiB;
    {
        std::ofstream touch(dir / "big");
    }
    fs::resize_file(dir / "big", size);  // sparse: zeros that take no disk space
    write_at(dir / "big", 0, "first frame");
    write_at(dir / "big", 2 * kGiB + 1, "one past 2 GiB");
    write_at(dir / "big", size - 7, "the end");
    ASSERT_EQ(fs::file_size(dir / "big"), size);

    ProcessOptions slow;
    slow.timeout_s = 1800;
    const auto packed = qivpak(dir, {"big", "c.qiv"}, slow);
    ASSERT_EQ(packed.status, 0) << packed.out;
    const auto c = parse_container(read_file(dir / "c.qiv"));
    ASSERT_TRUE(c.has_value());
    EXPECT_EQ(c->total_size, size);
    EXPECT_EQ(c->frames(), size / kFrame);

    const auto unpacked = qivpak(dir, {"-d", "c.qiv", "back"}, slow);
    ASSERT_EQ(unpacked.status, 0) << unpacked.out;
    EXPECT_TRUE(unpacked.out.ends_with(kFinished));
    EXPECT_EQ(first_difference(dir / "big", dir / "back"), -1);
}

}  // namespace
