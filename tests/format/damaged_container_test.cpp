// damaged_container_test.cpp - hand-made containers, sound and damaged, read by the unpacker and by the public reader
#include "support/support.hpp"

#include <qivpak/reader.hpp>

#include <gtest/gtest.h>
#include <zlib.h>

#include <functional>

namespace {

using namespace qivtest;
using qivpak::ContainerFault;
using enum ContainerFault;

const Bytes kImage = make_image("t", 2 * kFrame + 1000, 3);  // three frames of text, the last of 1000 bytes

Bytes plain_frame(std::size_t i, std::size_t cut = 0) {
    return Bytes(kImage.begin() + static_cast<std::ptrdiff_t>(i * kFrame),
                 kImage.begin() + static_cast<std::ptrdiff_t>(std::min(kImage.size(), (i + 1) * kFrame) - cut));
}

Bytes deflated(const Bytes& plain) {
    Bytes out(compressBound(static_cast<uLong>(plain.size())));
    uLongf len = out.size();
    compress2(out.data(), &len, plain.data(), plain.size(), Z_DEFAULT_COMPRESSION);
    return Bytes(out.begin(), out.begin() + static_cast<std::ptrdiff_t>(len));
}

void put32(Bytes& b, std::size_t at, std::uint32_t v) {
    for (std::size_t k = 0; k < 4; ++k) b[at + k] = static_cast<std::uint8_t>(v >> (8 * k));
}

std::uint32_t get32(const Bytes& b, std::size_t at) {
    return b[at] | b[at + 1] << 8 | b[at + 2] << 16 | std::uint32_t{b[at + 3]} << 24;
}

// A container of kImage made by hand: the frames inside the first `nc_count` areas are stored raw, the
// others compressed; `frames` then changes the stored frames and `file` the finished file.
struct Draft {
    std::uint32_t nc_count = 0;
    std::vector<std::pair<std::uint32_t, std::uint32_t>> areas = {};  // the area table, written when not empty
    std::function<void(std::vector<Bytes>&)> frames = [](std::vector<Bytes>&) {};
    std::function<void(Bytes&)> file = [](Bytes&) {};
};

Bytes build(const Draft& d) {
    std::vector<Bytes> stored;
    for (std::uint32_t i = 0; i < 3; ++i) {
        bool raw = false;
        for (std::uint32_t a = 0; a < d.nc_count && a < d.areas.size(); ++a)
            raw = raw || (i >= d.areas[a].first && i - d.areas[a].first < d.areas[a].second);
        stored.push_back(raw ? plain_frame(i) : deflated(plain_frame(i)));
    }
    d.frames(stored);
    Bytes out(32 + 18 + (d.areas.empty() ? 0 : 1536), 0);
    std::copy_n("QIV", 4, out.begin());
    put32(out, 4, static_cast<std::uint32_t>(kImage.size()));
    put32(out, 8, d.nc_count != 0 ? 1 : 0);
    put32(out, 12, d.nc_count);
    for (std::size_t a = 0; a < d.areas.size(); ++a) {
        put32(out, 50 + 8 * a, d.areas[a].first);
        put32(out, 54 + 8 * a, d.areas[a].second);
    }
    for (std::size_t i = 0; i < 3; ++i) {
        put32(out, 32 + 4 * i, static_cast<std::uint32_t>(out.size()));
        out[44 + 2 * i] = static_cast<std::uint8_t>(stored[i].size());
        out[45 + 2 * i] = static_cast<std::uint8_t>(stored[i].size() >> 8);
        out.insert(out.end(), stored[i].begin(), stored[i].end());
    }
    d.file(out);
    return out;
}

const std::pair<ContainerFault, std::string> kFaults[] = {
    {not_qiv, "Input is not a valid QIV file."},
    {version_above, "The version of the file is greater than supported."},
    {corrupted_index, "Corrupted input file."},
    {frame_cut, "Input seems to be corrupted."},
    {bad_stream, "Error while decompressing (corrupt input?)"},
};
const std::string kNotQiv = "Input is not a valid QIV file.\n", kN = "N of frames: 3\n",
                  kCorrupted = kN + "Corrupted input file.\n", kD = kN + "Decompressing...\n",
                  kCut = "Input seems to be corrupted.\n", kBadStream = "Error while decompressing (corrupt input?)\n",
                  kDone = kD + "0%100%\nFinished.\n\n";

struct Row {
    const char* what;
    Draft draft;
    std::string out;    // the unpacker's standard output after the banner
    std::size_t whole;  // frames restored before it stops
};

auto file_edit(std::function<void(Bytes&)> f) { return Draft{0, {}, [](std::vector<Bytes>&) {}, f}; }
auto frame_edit(std::function<void(std::vector<Bytes>&)> f) { return Draft{0, {}, f}; }
Draft cut(std::size_t size) { return file_edit([size](Bytes& b) { b.resize(size); }); }

const Row kRows[] = {
    {"sound", {}, kDone, 3},
    {"empty file", cut(0), kNotQiv, 0},
    {"header cut to 31 bytes", cut(31), kNotQiv, 0},
    {"QIV and a byte other than zero", file_edit([](Bytes& b) { b[3] = 1; }), kNotQiv, 0},
    {"version 2", file_edit([](Bytes& b) { put32(b, 8, 2); }), "The version of the file is greater than supported.\n",
     0},
    {"reserved bytes set", file_edit([](Bytes& b) { std::fill(b.begin() + 16, b.begin() + 32, 0xA5); }), kDone, 3},
    {"version 1 without areas", file_edit([](Bytes& b) { put32(b, 8, 1); }), kDone, 3},
    {"version 0 with an area table", {1, {{1, 1}}, [](std::vector<Bytes>&) {}, [](Bytes& b) { put32(b, 8, 0); }},
     kDone, 3},
    {"cut in the offset table", cut(43), kCorrupted, 0},
    {"cut in the length table", cut(49), kCorrupted, 0},
    {"cut in the area table", {1, {{1, 1}}, [](std::vector<Bytes>&) {}, [](Bytes& b) { b.resize(1000); }},
     kCorrupted, 0},
    {"193 areas", {1, {{1, 1}}, [](std::vector<Bytes>&) {}, [](Bytes& b) { put32(b, 12, 193); }}, kCorrupted, 0},
    {"stored length 9217", frame_edit([](std::vector<Bytes>& f) { f[2].resize(9217); }), kCorrupted, 0},
    {"image size 4 GiB - 1", file_edit([](Bytes& b) { put32(b, 4, 0xFFFFFFFF); }),
     "N of frames: 524288\nCorrupted input file.\n", 0},
    {"last frame cut short", file_edit([](Bytes& b) { b.pop_back(); }), kD + "0%" + kCut, 2},
    {"offset of frame 1 past the end", file_edit([](Bytes& b) { put32(b, 36, 0xFFFFFFF0); }), kD + "0%" + kCut, 1},
    {"flipped bit in frame 1", file_edit([](Bytes& b) { b[get32(b, 36) + 40] ^= 0x10; }), kD + "0%" + kBadStream, 1},
    {"wrong Adler-32 of frame 1", frame_edit([](std::vector<Bytes>& f) { f[1].back() ^= 1; }), kD + "0%" + kBadStream,
     1},
    {"bytes after frame 1's stream", frame_edit([](std::vector<Bytes>& f) { f[1].push_back(0); }), kDone, 3},
    {"preset dictionary flag in frame 1",
     frame_edit([](std::vector<Bytes>& f) { f[1].insert(f[1].begin() + 2, {0, 0, 0, 1}), f[1][1] = 0x20; }),
     kD + "0%" + kBadStream, 1},
    {"frame 0 inflating to 8193 bytes",
     frame_edit([](std::vector<Bytes>& f) { f[0] = deflated(make_image("t", kFrame + 1, 9)); }), kD + kBadStream, 0},
    {"frame 1 inflating to 8191 bytes", frame_edit([](std::vector<Bytes>& f) { f[1] = deflated(plain_frame(1, 1)); }),
     kD + "0%" + kBadStream, 1},
    {"last frame inflating to 999 bytes", frame_edit([](std::vector<Bytes>& f) { f[2] = deflated(plain_frame(2, 1)); }),
     kD + "0%" + kBadStream, 2},
    {"raw frame in an area", {1, {{1, 1}}}, kDone, 3},
    {"raw frame 0, which shows no progress", {1, {{0, 1}}}, kD + "100%\nFinished.\n\n", 3},
    {"overlapping unsorted areas, the short last frame raw", {2, {{2, 1}, {1, 2}}}, kDone, 3},
    {"areas past the count", {1, {{1, 1}, {0, 3}}}, kDone, 3},
    {"raw frame 1 of 8000 bytes", {1, {{1, 1}}, [](std::vector<Bytes>& f) { f[1].resize(8000); }}, kD + "0%" + kCut, 1},
    {"short last raw frame cut by a byte", {1, {{2, 1}}, [](std::vector<Bytes>& f) { f[2].pop_back(); }},
     kD + "0%" + kCut, 2},
    {"short last raw frame stored with 8192 bytes", {1, {{2, 1}}, [](std::vector<Bytes>& f) { f[2].resize(kFrame); }},
     kDone, 3},
    {"cut in raw frame 1", {1, {{1, 1}}, [](std::vector<Bytes>&) {}, [](Bytes& b) { b.resize(get32(b, 36) + 4000); }},
     kD + "0%" + kCut, 1},
};

TEST(DamagedContainer, UnpackerAndReaderGiveTheWholeFramesBeforeTheDamageThenTheSameRefusal) {
    for (const Row& row : kRows) {
        SCOPED_TRACE(row.what);
        TempDir dir;
        write_file(dir / "c.qiv", build(row.draft));
        const auto whole = static_cast<std::ptrdiff_t>(std::min(kImage.size(), row.whole * kFrame));
        const Bytes before(kImage.begin(), kImage.begin() + whole);
        const ProcessResult r = run_tool(dir, {"-d", "c.qiv", "out"}, "7");
        EXPECT_EQ(r.out, kBanner + row.out);
        const bool sound = row.out.ends_with("Finished.\n\n");
        EXPECT_EQ(r.status, sound ? 0 : 255);
        EXPECT_TRUE(read_file(dir / "out") == before) << "the output is not the whole frames before the damage";

        const auto fault = std::find_if(std::begin(kFaults), std::end(kFaults),
                                        [&](const auto& f) { return row.out.ends_with(f.second + "\n"); });
        ASSERT_EQ(fault == std::end(kFaults), sound);
        Bytes got(kImage.size());
        int stage = 0;  // 1: opened, 2: the frames before the damage read
        try {
            const qivpak::QivReader reader((dir / "c.qiv").string());
            stage = 1;
            EXPECT_EQ(reader.read(0, got.data(), before.size()), before.size());
            EXPECT_TRUE(std::equal(before.begin(), before.end(), got.begin()));
            stage = 2;
            EXPECT_EQ(reader.read(0, got.data(), got.size()), got.size());
            EXPECT_TRUE(got == kImage);
            EXPECT_TRUE(sound) << "the reader took what the unpacker refuses";
        } catch (const qivpak::QivFormatError& e) {
            ASSERT_NE(fault, std::end(kFaults)) << e.what();
            EXPECT_EQ(e.fault(), fault->first);
            EXPECT_EQ(e.what(), fault->second);
            const bool at_frame = fault->first == frame_cut || fault->first == bad_stream;  // else refused when opened
            EXPECT_EQ(stage, at_frame ? 2 : 0);
        }
    }
}

}  // namespace
