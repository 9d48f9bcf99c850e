// damaged_container_test.cpp - hand-made containers, sound and damaged, read by the unpacker and by the public reader
#include "support/container.hpp"

#include <qivpak/reader.hpp>

#include <gtest/gtest.h>

namespace {

using namespace qivtest;
using enum qivpak::ContainerFault;
using Frames = std::vector<Bytes>;

const Bytes kImage = make_image("t", 2 * kFrame + 1000, 3);  // three frames of text, the last of 1000 bytes

Bytes plain(std::size_t i, std::size_t cut = 0) {  // frame i of kImage less its last `cut` bytes
    const auto first = kImage.begin() + static_cast<std::ptrdiff_t>(i * kFrame);
    return Bytes(first, first + static_cast<std::ptrdiff_t>(std::min(kFrame, kImage.size() - i * kFrame) - cut));
}

const std::pair<qivpak::ContainerFault, std::string> kFaults[] = {
    {not_qiv, "Input is not a valid QIV file."}, {corrupted_index, "Corrupted input file."},
    {version_above, "The version of the file is greater than supported."},
    {frame_cut, "Input seems to be corrupted."}, {bad_stream, "Error while decompressing (corrupt input?)"},
};
const std::string kN = "N of frames: 3\n", kD = kN + "Decompressing...\n", kDone = kD + "0%100%\nFinished.\n\n",
                  kNotQiv = "Input is not a valid QIV file.\n", kIndex = kN + "Corrupted input file.\n",
                  kCut = kD + "0%Input seems to be corrupted.\n",
                  kStream = "Error while decompressing (corrupt input?)\n", kBad = kD + "0%" + kStream;

// A container of kImage made by hand: the frames inside the first `nc` areas are stored raw, the others
// compressed; `frames` then changes the stored frames and `file` the finished file.
struct Row {
    const char* what;
    std::string out;    // the unpacker's standard output after the banner
    std::size_t whole;  // frames restored before it stops
    void (*file)(Bytes&) = nullptr;
    void (*frames)(Frames&) = nullptr;
    std::uint32_t nc = 0;
    std::vector<std::pair<std::uint32_t, std::uint32_t>> areas = {};  // the area table, written when not empty
};

Bytes build(const Row& row) {
    Frames f;
    for (std::uint32_t i = 0; i < 3; ++i) {
        bool raw = false;  // first <= i < first + count for a counted area
        for (std::uint32_t a = 0; a < row.nc; ++a) raw = raw || i - row.areas[a].first < row.areas[a].second;
        f.push_back(raw ? plain(i) : deflated(plain(i)));
    }
    if (row.frames != nullptr) row.frames(f);
    Bytes b(32 + 18 + (row.areas.empty() ? 0 : 1536));
    std::copy_n("QIV", 4, b.begin());
    put_le(b, 4, kImage.size()), put_le(b, 8, row.nc != 0 ? 1 : 0), put_le(b, 12, row.nc);
    for (std::size_t a = 0; a < row.areas.size(); ++a)
        put_le(b, 50 + 8 * a, row.areas[a].first), put_le(b, 54 + 8 * a, row.areas[a].second);
    for (std::size_t i = 0; i < 3; ++i) {
        put_le(b, 32 + 4 * i, b.size()), put_le(b, 44 + 2 * i, f[i].size(), 2);
        b.insert(b.end(), f[i].begin(), f[i].end());
    }
    if (row.file != nullptr) row.file(b);
    return b;
}

const Row kRows[] = {
    {"sound", kDone, 3},
    {"empty file", kNotQiv, 0, [](Bytes& b) { b.clear(); }},
    {"header cut to 31 bytes", kNotQiv, 0, [](Bytes& b) { b.resize(31); }},
    {"QIV and a byte other than zero", kNotQiv, 0, [](Bytes& b) { b[3] = 1; }},
    {"version 2", "The version of the file is greater than supported.\n", 0, [](Bytes& b) { put_le(b, 8, 2); }},
    {"reserved bytes set", kDone, 3, [](Bytes& b) { std::fill(b.begin() + 16, b.begin() + 32, 0xA5); }},
    {"version 1 without areas", kDone, 3, [](Bytes& b) { put_le(b, 8, 1); }},
    {"bytes after frame 1's stream", kDone, 3, {}, [](Frames& f) { f[1].push_back(0); }},
    {"version 0 with an area table", kDone, 3, [](Bytes& b) { put_le(b, 8, 0); }, {}, 1, {{1, 1}}},
    {"cut in the offset table", kIndex, 0, [](Bytes& b) { b.resize(43); }},
    {"cut in the length table", kIndex, 0, [](Bytes& b) { b.resize(49); }},
    {"cut in the area table", kIndex, 0, [](Bytes& b) { b.resize(1000); }, {}, 1, {{1, 1}}},
    {"192 areas, all but one empty", kDone, 3, [](Bytes& b) { put_le(b, 12, 192); }, {}, 1, {{1, 1}}},
    {"193 areas", kIndex, 0, [](Bytes& b) { put_le(b, 12, 193); }, {}, 1, {{1, 1}}},
    {"stored length 9216, the stream and zeros", kDone, 3, {}, [](Frames& f) { f[2].resize(9216); }},
    {"stored length 9217", kIndex, 0, {}, [](Frames& f) { f[2].resize(9217); }},
    {"image size 4 GiB - 1", "N of frames: 524288\nCorrupted input file.\n", 0, [](Bytes& b) { put_le(b, 4, ~0u); }},
    {"last frame cut short", kCut, 2, [](Bytes& b) { b.pop_back(); }},
    {"offset of frame 1 past the end", kCut, 1, [](Bytes& b) { put_le(b, 36, 0xFFFFFFF0); }},
    {"flipped bit in frame 1", kBad, 1, {}, [](Frames& f) { f[1][40] ^= 0x10; }},
    {"wrong Adler-32 of frame 1", kBad, 1, {}, [](Frames& f) { f[1].back() ^= 1; }},
    {"preset dictionary flag in frame 1", kBad, 1, {},
     [](Frames& f) { f[1].insert(f[1].begin() + 2, {0, 0, 0, 1}), f[1][1] = 0x20; }},
    {"frame 0 inflating to 8193 bytes", kD + kStream, 0, {},
     [](Frames& f) { f[0] = deflated(make_image("t", kFrame + 1, 9)); }},
    {"frame 1 inflating to 8191 bytes", kBad, 1, {}, [](Frames& f) { f[1] = deflated(plain(1, 1)); }},
    {"last frame inflating to 999 bytes", kBad, 2, {}, [](Frames& f) { f[2] = deflated(plain(2, 1)); }},
    {"raw frame 0, so no progress shown", kD + "100%\nFinished.\n\n", 3, {}, {}, 1, {{0, 1}}},
    {"raw frame 1, an area past the count", kDone, 3, {}, {}, 1, {{1, 1}, {0, 3}}},
    {"overlapping unsorted areas, the short last frame raw", kDone, 3, {}, {}, 2, {{2, 1}, {1, 2}}},
    {"raw frame 1 of 8000 bytes", kCut, 1, {}, [](Frames& f) { f[1].resize(8000); }, 1, {{1, 1}}},
    {"short last raw frame cut by a byte", kCut, 2, {}, [](Frames& f) { f[2].pop_back(); }, 1, {{2, 1}}},
    {"short last raw frame stored with 8192 bytes", kDone, 3, {}, [](Frames& f) { f[2].resize(kFrame); }, 1, {{2, 1}}},
    {"cut in raw frame 1", kCut, 1, [](Bytes& b) { b.resize(b[36] + 256u * b[37] + 4000); }, {}, 1, {{1, 1}}},
};

TEST(DamagedContainer, UnpackerAndReaderGiveTheWholeFramesBeforeTheDamageThenTheSameRefusal) {
    for (const Row& row : kRows) {
        SCOPED_TRACE(row.what);
        TempDir dir;
        write_file(dir / "c.qiv", build(row));
        const Bytes before(kImage.begin(),
                           kImage.begin() + static_cast<std::ptrdiff_t>(std::min(kImage.size(), row.whole * kFrame)));
        const ProcessResult r = run_tool(dir, {"-d", "c.qiv", "out"}, "7");
        const auto fault = std::find_if(std::begin(kFaults), std::end(kFaults),
                                        [&](const auto& f) { return row.out.ends_with(f.second + "\n"); });
        const bool sound = fault == std::end(kFaults);
        EXPECT_EQ(r.out, kBanner + row.out);
        EXPECT_EQ(r.status, sound ? 0 : 255);
        EXPECT_TRUE(read_file(dir / "out") == before) << "the output is not the whole frames before the damage";
        int stage = 0;  // 1: opened, 2: the frames before the damage read
        try {
            const qivpak::QivReader reader((dir / "c.qiv").string());
            Bytes got(kImage.size());
            stage = 1;
            EXPECT_EQ(reader.read(0, got.data(), before.size()), before.size());
            EXPECT_TRUE(std::equal(before.begin(), before.end(), got.begin()));
            stage = 2;
            EXPECT_EQ(reader.read(0, got.data(), got.size()), got.size());
            EXPECT_TRUE(got == kImage && sound) << "the reader took what the unpacker refuses, or gave other bytes";
        } catch (const qivpak::QivFormatError& e) {
            ASSERT_NE(fault, std::end(kFaults)) << e.what();
            EXPECT_EQ(e.fault(), fault->first);
            EXPECT_EQ(e.what(), fault->second);
            // Damaged frames are refused when read, the rest when opened.
            EXPECT_EQ(stage, fault->first == frame_cut || fault->first == bad_stream ? 2 : 0);
            EXPECT_EQ(e.frame(), stage == 2 ? std::optional<std::uint32_t>(row.whole) : std::nullopt);
        }
    }
}

}  // namespace
