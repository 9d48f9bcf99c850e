// damaged_container_test.cpp - containers made by the tool, then cut short or bit-flipped, unpacked by the tool
//
// Whatever the damage, an unpack either restores the exact image or refuses
// with its message and exit status 255, leaving an output of whole, correct
// frames only: exactly the frames before the first damaged one.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <filesystem>
#include <random>
#include <set>
#include <string>
#include <vector>

#include "faults/faults_support.hpp"
#include "support/test_data.hpp"

namespace {

using namespace qivfaults;
namespace fs = std::filesystem;

struct Packed {
    Bytes image;
    Bytes file;
    Container index;
};

// Packs `image` with the tool and reads the container back with the test's own reader.
Packed pack(const Bytes& image, std::vector<std::string> options) {
    TempDir dir;
    write_file(dir / "img", image);
    options.insert(options.end(), {"img", "c.qiv"});
    const auto r = qivpak(dir, options);
    EXPECT_EQ(r.status, 0) << r.out;
    Packed p{image, read_file(dir / "c.qiv"), {}};
    const auto index = parse_container(p.file);
    EXPECT_TRUE(index.has_value());
    if (index) p.index = *index;
    return p;
}

// Five frames, every one compressed; the last holds 1000 bytes.
Packed plain_container() { return pack(text_bytes(4 * kFrame + 1000, 61), {}); }

// Five frames: text, two of noise, text, and a last one of 1000 bytes of
// text. Trial compression makes frames 1 and 2 one NC area, stored raw.
Packed nc_container() {
    Bytes image = text_bytes(kFrame, 62);
    const Bytes noise = random_bytes(2 * kFrame, 63);
    const Bytes tail = text_bytes(kFrame + 1000, 64);
    image.insert(image.end(), noise.begin(), noise.end());
    image.insert(image.end(), tail.begin(), tail.end());
    return pack(image, {"-a"});
}

std::size_t end_of(const Container& c, std::uint32_t i) { return std::size_t{c.offsets[i]} + c.lengths[i]; }

// Unpacks `container` in `dir` and checks status, console text and output bytes.
void expect_unpack(const TempDir& dir, const Bytes& container, int status, const std::string& text,
                   const Bytes& restored) {
    write_file(dir / "c.qiv", container);
    fs::remove(dir / "out");
    const auto r = qivpak(dir, {"-d", "c.qiv", "out"});
    EXPECT_EQ(r.status, status);
    EXPECT_EQ(r.out, text);
    EXPECT_EQ(r.err, "");
    ASSERT_TRUE(fs::exists(dir / "out")) << "the output is created before the container is checked";
    const Bytes got = read_file(dir / "out");
    EXPECT_EQ(got.size(), restored.size());
    EXPECT_TRUE(got == restored) << "restored bytes differ";
}

TEST(DamagedContainer, PreconditionsOfTheContainersUsedHere) {
    const Packed plain = plain_container();
    EXPECT_EQ(plain.index.frames(), 5u);
    EXPECT_EQ(plain.index.nc_count, 0u);
    EXPECT_EQ(plain.index.data_start, 62u);
    const Packed nc = nc_container();
    ASSERT_EQ(nc.index.frames(), 5u);
    ASSERT_EQ(nc.index.nc_count, 1u);
    EXPECT_EQ(nc.index.areas[0].start, 1u);
    EXPECT_EQ(nc.index.areas[0].count, 2u);
    EXPECT_EQ(nc.index.data_start, 62u + 1536u);
    for (std::uint32_t i = 0; i < 5; ++i) EXPECT_EQ(nc.index.is_raw(i), i == 1 || i == 2) << "frame " << i;
    EXPECT_EQ(nc.index.lengths[1], kFrame);
    EXPECT_EQ(nc.index.lengths[2], kFrame);
}

// Every cut inside the header and the offset and length tables; the NC area
// table every 16 bytes and at both ends; in each frame at its first, second,
// middle and last byte, and every 1024 bytes of a raw frame.
std::vector<std::size_t> cut_positions(const Packed& p) {
    const Container& c = p.index;
    std::set<std::size_t> at;
    const std::size_t index_end = kHeaderSize + 6 * c.frames();
    for (std::size_t k = 0; k < index_end; ++k) at.insert(k);
    if (c.data_start > index_end) {
        for (std::size_t k = index_end; k < c.data_start; k += 16) at.insert(k);
        at.insert(c.data_start - 1);
    }
    for (std::uint32_t i = 0; i < c.frames(); ++i) {
        const std::size_t begin = c.offsets[i];
        const std::size_t len = c.lengths[i];
        at.insert({begin, begin + 1, begin + len / 2, begin + len - 1});
        if (c.is_raw(i))
            for (std::size_t k = begin; k < begin + len; k += 1024) at.insert(k);
    }
    std::vector<std::size_t> cuts(at.begin(), at.end());
    cuts.erase(std::remove_if(cuts.begin(), cuts.end(), [&](std::size_t k) { return k >= p.file.size(); }),
               cuts.end());
    return cuts;
}

TEST(DamagedContainer, CutShortAnywhere) {
    for (const Packed& p : {plain_container(), nc_container()}) {
        const Container& c = p.index;
        const std::uint32_t n = c.frames();
        SCOPED_TRACE(c.nc_count == 0 ? "without NC areas" : "with an NC area table");
        TempDir dir;
        for (const std::size_t size : cut_positions(p)) {
            SCOPED_TRACE("cut to " + std::to_string(size) + " of " + std::to_string(p.file.size()) + " bytes");
            const Bytes cut(p.file.begin(), p.file.begin() + static_cast<std::ptrdiff_t>(size));
            if (size < kHeaderSize) {
                expect_unpack(dir, cut, kQuitFailure, refused_unpack_text(Stop::header, n, 0, kNotQiv), {});
            } else if (size < c.data_start) {
                expect_unpack(dir, cut, kQuitFailure, refused_unpack_text(Stop::tables, n, 0, kCorrupted), {});
            } else {
                // Frames lie in order: the first one that does not fit is the damaged one.
                std::uint32_t damaged = 0;
                while (end_of(c, damaged) <= size) ++damaged;
                expect_unpack(dir, cut, kQuitFailure, refused_unpack_text(Stop::frame, n, damaged, kCut),
                              frames_prefix(p.image, damaged));
            }
            if (HasFailure()) return;  // one broken rule is enough to read
        }
    }
}

TEST(DamagedContainer, SingleBitFlipsInCompressedFrames) {
    constexpr int kFlipsPerContainer = 150;
    int restored_exactly = 0;
    int refused = 0;
    std::mt19937 gen(71);
    for (const Packed& p : {plain_container(), nc_container()}) {
        const Container& c = p.index;
        const std::uint32_t n = c.frames();
        std::vector<std::uint32_t> compressed;
        for (std::uint32_t i = 0; i < n; ++i)
            if (!c.is_raw(i)) compressed.push_back(i);
        TempDir dir;
        for (int flip = 0; flip < kFlipsPerContainer; ++flip) {
            const std::uint32_t frame = compressed[gen() % compressed.size()];
            const std::size_t byte = c.offsets[frame] + gen() % c.lengths[frame];
            const auto bit = static_cast<std::uint8_t>(1u << (gen() % 8));
            SCOPED_TRACE("frame " + std::to_string(frame) + ", byte " + std::to_string(byte) + ", bit " +
                         std::to_string(bit));
            Bytes damaged = p.file;
            damaged[byte] ^= bit;
            write_file(dir / "c.qiv", damaged);
            const auto r = qivpak(dir, {"-d", "c.qiv", "out"});
            const Bytes got = read_file(dir / "out");
            if (r.status == 0) {
                // A flip zlib does not notice (padding bits after the last block) must change nothing.
                ++restored_exactly;
                EXPECT_EQ(r.out, finished_unpack_text(n));
                EXPECT_TRUE(got == p.image) << "a damaged container was restored with wrong bytes";
            } else {
                ++refused;
                EXPECT_EQ(r.status, kQuitFailure);
                EXPECT_EQ(r.out, refused_unpack_text(Stop::frame, n, frame, kBadStream));
                EXPECT_TRUE(got == frames_prefix(p.image, frame)) << "output is not the frames before the damage";
            }
            if (HasFailure()) return;
        }
    }
    RecordProperty("restored_exactly", restored_exactly);
    RecordProperty("refused", refused);
    EXPECT_EQ(restored_exactly + refused, 2 * kFlipsPerContainer);
    // Nearly every flip breaks the stream or its Adler-32; only bits zlib never reads can pass.
    EXPECT_GE(refused, 2 * kFlipsPerContainer * 9 / 10);
}

TEST(DamagedContainer, FlippedBitInARawFrameIsRestoredSilently) {
    // Raw frames carry no checksum: the flip comes back as one wrong bit in the image.
    const Packed p = nc_container();
    const std::size_t within = 100;
    Bytes damaged = p.file;
    damaged[p.index.offsets[1] + within] ^= 0x10;
    Bytes expected = p.image;
    expected[kFrame + within] ^= 0x10;
    ASSERT_FALSE(expected == p.image);
    TempDir dir;
    expect_unpack(dir, damaged, 0, finished_unpack_text(5), expected);
}

}  // namespace
