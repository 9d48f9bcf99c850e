// e2e_test.cpp - runs the built qivpak as a user would and checks its console text, exit status and files
#include <gtest/gtest.h>
#include <zlib.h>

#include <algorithm>
#include <cstdint>
#include <filesystem>
#include <functional>
#include <set>
#include <string>
#include <vector>

#include "support/container_reader.hpp"
#include "support/process.hpp"
#include "support/temp_dir.hpp"
#include "support/test_data.hpp"

namespace {

// The command line of a row, for failure messages.
std::string command_line(const std::vector<std::string>& args) {
    std::string line = "qivpak";
    for (const auto& a : args) line += " " + a;
    return line;
}

using namespace qivtest;
namespace fs = std::filesystem;

const std::string kBanner = "QIV Creator 0.3 (by Brenlo)\n\n";
const std::string kPrompt = "Press any key to continue";
const std::string kNcBlock =
    "    to be part of NC areas without analyzing if they could be compressed.\n"
    "    After that, the search of other NC areas will be done, even if\n"
    "    \"-a\" was not specified.\n";
const std::string kUsage =
    "Usage: qivpak [OPTIONS] inputfile outputfile [infofile]\n\n"
    "infofile: optional text file to be created with information"
    " about the compression of each frame.\n\n"
    "OPTIONS are: \n\n"
    "-d: decompress the inputfile to outputfile.\n"
    "    If not set, default operation is to compress inputfile to outputfile.\n"
    "-ln: where n is a number from [0-9]. Specifies the zlib compression level.\n"
    "    0=default compromise between speed and compression.\n"
    "    1=compress faster, but worse.\n"
    "    9=compress slower, but better.\n"
    "-an: where n is a number between 0-8192 or nothing.\n"
    "     It activate the search of not compressed (NC) areas.\n"
    "     n indicates the limit from which consider that a frame is not\n"
    "     enough compressed, and making it a candidate to form part of a NC area.\n"
    "     If n is not specified or if it's zero, then the value 8192 is used,\n"
    "     which is the same size that the frame size of the qiv format, meaning\n"
    "     that only frames that not were compressed at all, not even a single byte,\n"
    "     will be candidates to be part of a NC area.\n"
    "-v: it searchs for video files in the input file and forced them\n" +
    kNcBlock + "-s: it searchs for audio files in the input file and forced them\n" + kNcBlock +
    "-w: if this option is set, the program will wait for user input\n"
    "    before exiting.\n";

constexpr int kQuitFailure = 255;  // quit(-1) as the shell sees it

ProcessResult qivpak(const TempDir& dir, std::vector<std::string> args, ProcessOptions opt = {}) {
    args.insert(args.begin(), QIVPAK_BINARY);
    opt.cwd = dir.path().string();
    return run_process(args, opt);
}

Bytes slice(const Bytes& b, std::size_t from, std::size_t len) {
    return Bytes(b.begin() + static_cast<std::ptrdiff_t>(from), b.begin() + static_cast<std::ptrdiff_t>(from + len));
}

std::size_t frame_len(std::size_t total, std::size_t i) { return std::min<std::size_t>(kFrame, total - kFrame * i); }

Bytes plain_frame(const Bytes& image, std::size_t i) { return slice(image, kFrame * i, frame_len(image.size(), i)); }

// The first `count` frames of an image.
Bytes frames_prefix(const Bytes& image, std::size_t count) {
    return slice(image, 0, std::min(image.size(), kFrame * count));
}

Bytes zlib_stream(const Bytes& plain, int level) {
    Bytes out(compressBound(static_cast<uLong>(plain.size())));
    uLongf len = static_cast<uLongf>(out.size());
    if (compress2(out.data(), &len, plain.data(), static_cast<uLong>(plain.size()), level) != Z_OK) return {};
    out.resize(len);
    return out;
}

void put_le32(Bytes& b, std::size_t at, std::uint32_t v) {
    for (int k = 0; k < 4; ++k) b[at + static_cast<std::size_t>(k)] = static_cast<std::uint8_t>(v >> (8 * k));
}

void put_le16(Bytes& b, std::size_t at, std::uint16_t v) {
    b[at] = static_cast<std::uint8_t>(v);
    b[at + 1] = static_cast<std::uint8_t>(v >> 8);
}

// ---- expected console text -------------------------------------------------

std::string report_line(std::uint64_t total_size, std::uint64_t container_size) {
    const std::uint64_t in_kb = total_size >> 10;
    const std::uint64_t out_kb = container_size / 1024;
    const std::uint64_t ratio = in_kb == 0 ? 0 : out_kb * 100 / in_kb;
    return "Report: " + std::to_string(in_kb) + " KB -> " + std::to_string(out_kb) + " KB (" +
           std::to_string(ratio) + "%)\n\n";
}

// Everything a finished pack prints after the banner (and any warnings).
std::string pack_text(std::uint32_t total_size, std::uint64_t container_size, const std::string& progress) {
    const std::uint32_t n = frame_count_of(total_size);
    return "N of frames: " + std::to_string(n) + "\nCompressing...\n" + progress +
           "Total frames written: " + std::to_string(n) + "\nWriting tables...\nTable size: " +
           std::to_string(4 * n) + "+" + std::to_string(2 * n) + "=" + std::to_string(6 * n) +
           "\nFinished.\n\n" + report_line(total_size, container_size);
}

// Progress of a pack below 600 frames: only the closing 100.
const std::string kSmallPackProgress = "100%\n";

// Everything a finished unpack prints after the banner.
std::string unpack_text(std::uint32_t n, const std::string& progress) {
    return "N of frames: " + std::to_string(n) + "\nDecompressing...\n" + progress + "Finished.\n\n";
}

// Progress of an unpack below 600 frames whose frame 0 is compressed.
std::string small_unpack_progress(std::uint32_t n) { return n == 0 ? "100%\n" : "0%100%\n"; }

// The info file of a pack without NC areas: one line per frame, then the report.
std::string info_text(const Bytes& container) {
    const auto c = parse_container(container);
    if (!c) return "<unreadable container>";
    std::string text;
    for (std::uint32_t i = 0; i < c->frames(); ++i)
        if (!c->is_raw(i))
            text += "Frame #" + std::to_string(i) + ": 8192 -> " + std::to_string(c->lengths[i]) + "(" +
                    std::to_string((c->lengths[i] * 100u) >> 13) + "%)\n";
    return text + report_line(c->total_size, container.size());
}

// Checks a container written without NC areas against the image it was packed
// from and the level it was packed at.
void expect_container(const Bytes& file, const Bytes& image, int level) {
    const auto c = parse_container(file);
    ASSERT_TRUE(c.has_value()) << "container of " << file.size() << " bytes is cut short";
    EXPECT_TRUE(c->magic_ok);
    EXPECT_TRUE(c->reserved_zero);
    EXPECT_EQ(c->total_size, image.size());
    EXPECT_EQ(c->version, 0u);
    EXPECT_EQ(c->nc_count, 0u);
    const std::uint32_t n = c->frames();
    ASSERT_EQ(n, (image.size() + kFrame - 1) / kFrame);
    std::size_t expected_offset = kHeaderSize + 6u * n;
    EXPECT_EQ(c->data_start, expected_offset);
    for (std::uint32_t i = 0; i < n; ++i) {
        SCOPED_TRACE("frame " + std::to_string(i));
        ASSERT_EQ(c->offsets[i], expected_offset);
        const Bytes plain = plain_frame(image, i);
        const Bytes stored = stored_frame(file, *c, i);
        ASSERT_EQ(stored.size(), c->lengths[i]);
        EXPECT_LE(c->lengths[i], 9216u);
        const auto inflated = inflate_exact(stored, c->plain_length(i));
        ASSERT_TRUE(inflated.has_value());
        EXPECT_TRUE(*inflated == plain);
        EXPECT_TRUE(stored == zlib_stream(plain, level)) << "stream differs from compress2 at level " << level;
        expected_offset += c->lengths[i];
    }
    EXPECT_EQ(file.size(), expected_offset);
}

// ---- hand-made containers ----------------------------------------------------

struct Draft {
    std::uint32_t total_size = 0;
    std::uint32_t version = 0;
    std::uint32_t nc_count = 0;
    std::vector<NcEntry> areas;   // stored as the 192-entry table when not empty
    std::vector<Bytes> frames;    // stored bytes, in frame order
    bool back_to_front = false;   // place the stored frames in reverse order in the file
};

Bytes assemble(const Draft& d) {
    const std::size_t n = d.frames.size();
    Bytes out(kHeaderSize + 6 * n + (d.areas.empty() ? 0 : kAreaTableSize), 0);
    out[0] = 'Q';
    out[1] = 'I';
    out[2] = 'V';
    put_le32(out, 4, d.total_size);
    put_le32(out, 8, d.version);
    put_le32(out, 12, d.nc_count);
    for (std::size_t a = 0; a < d.areas.size(); ++a) {
        put_le32(out, kHeaderSize + 6 * n + 8 * a, d.areas[a].start);
        put_le32(out, kHeaderSize + 6 * n + 8 * a + 4, d.areas[a].count);
    }
    for (std::size_t k = 0; k < n; ++k) {
        const std::size_t i = d.back_to_front ? n - 1 - k : k;
        put_le32(out, kHeaderSize + 4 * i, static_cast<std::uint32_t>(out.size()));
        put_le16(out, kHeaderSize + 4 * n + 2 * i, static_cast<std::uint16_t>(d.frames[i].size()));
        out.insert(out.end(), d.frames[i].begin(), d.frames[i].end());
    }
    return out;
}

Draft compressed_draft(const Bytes& image, int level) {
    Draft d;
    d.total_size = static_cast<std::uint32_t>(image.size());
    for (std::size_t i = 0; i * kFrame < image.size(); ++i) d.frames.push_back(zlib_stream(plain_frame(image, i), level));
    return d;
}

// What an unpack of a container is expected to do.
enum class Stage {
    header,  // refused on the header: nothing after the banner but the message
    tables,  // refused after "N of frames": the output stays empty
    frames,  // stops at frame `stop`: the output holds the frames before it
    done,    // finishes and restores the whole image
};

struct UnpackExpectation {
    Stage stage;
    std::uint32_t stop = 0;
    std::string message{};
};

// Unpacks `container` and checks stdout, exit status and the restored bytes.
// Frame 0 of every container used here is compressed, so a run that gets past
// it prints "0%".
void expect_unpack(const Bytes& container, const Bytes& image, const UnpackExpectation& e) {
    TempDir dir;
    write_file(dir / "c.qiv", container);
    const auto r = qivpak(dir, {"-d", "c.qiv", "out"});
    const std::uint32_t n = container.size() >= 8 ? frame_count_of(get_le32(container, 4)) : 0;
    std::string expected = kBanner;
    Bytes restored;
    switch (e.stage) {
    case Stage::header:
        expected += e.message;
        break;
    case Stage::tables:
        expected += "N of frames: " + std::to_string(n) + "\n" + e.message;
        break;
    case Stage::frames:
        expected += "N of frames: " + std::to_string(n) + "\nDecompressing...\n" + (e.stop > 0 ? "0%" : "") + e.message;
        restored = frames_prefix(image, e.stop);
        break;
    case Stage::done:
        expected += unpack_text(n, small_unpack_progress(n));
        restored = image;
        break;
    }
    EXPECT_EQ(r.out, expected);
    EXPECT_EQ(r.err, "");
    EXPECT_EQ(r.status, e.stage == Stage::done ? 0 : kQuitFailure);
    ASSERT_TRUE(fs::exists(dir / "out")) << "the output is created before the container is checked";
    const Bytes out = read_file(dir / "out");
    EXPECT_EQ(out.size(), restored.size());
    EXPECT_TRUE(out == restored) << "restored bytes differ";
}

// ---- tests ---------------------------------------------------------------------

TEST(E2eCommandLine, OptionTable) {
    const Bytes image = text_bytes(kFrame + 3000, 11);
    const Bytes container = assemble(compressed_draft(image, Z_DEFAULT_COMPRESSION));
    // The levels must give different streams for this image, or the level rows prove nothing.
    ASSERT_NE(zlib_stream(plain_frame(image, 0), 1), zlib_stream(plain_frame(image, 0), Z_DEFAULT_COMPRESSION));
    ASSERT_NE(zlib_stream(plain_frame(image, 0), 9), zlib_stream(plain_frame(image, 0), 1));

    enum Outcome { usage, pack, unpack };
    struct Row {
        std::vector<std::string> args;   // run in a directory holding "in" (image) and "in.qiv" (its container)
        std::string warnings;            // printed between the banner and the rest
        Outcome outcome;
        bool waits = false;              // ends with the key prompt
        std::string output{};            // pack: the container written; unpack: the image restored
        std::string info{};              // pack: the info file written, if any
        int level = Z_DEFAULT_COMPRESSION;
        std::vector<std::string> kept{}; // files made before the run that must stay as they were
    };
    const auto warn = [](const std::string& arg) { return "Warning: unknown option \"" + arg + "\"\n"; };
    const std::vector<Row> rows = {
        {{}, "", usage},
        {{"in"}, "", usage},
        {{"-w"}, "", usage},  // fewer than two arguments: -w is never read
        {{"-w", "in"}, "", usage, true},
        {{"-w", "-lx", "in", "out"}, "", usage, true},
        {{"in", "out", "info", "extra"}, "", usage},
        {{"-d", "in.qiv"}, "", usage},
        {{"-l", "in", "out"}, "", usage},
        {{"-l10", "in", "out"}, "", usage},
        {{"-lx", "in", "out"}, "", usage},
        {{"-a8193", "in", "out"}, "", usage},
        {{"-A8193", "in", "out"}, "", usage},
        {{"-a-1", "in", "out"}, "", usage},
        {{"-a99999999999", "in", "out"}, "", usage},
        {{"-a4294967296", "in", "out"}, "", usage},  // would wrap to 0 in 32 bits
        {{"-a4294967297", "in", "out"}, "", usage},  // would wrap to 1 in 32 bits
        {{"-dx", "in.qiv", "out"}, "", usage},
        {{"-sv", "in", "out"}, "", usage},
        {{"-vv", "in", "out"}, "", usage},
        {{"-ww", "in", "out"}, "", usage},
        {{"-x", "-l", "in", "out"}, warn("-x"), usage},
        {{"in", "out"}, "", pack, false, "out"},
        {{"-l0", "in", "out"}, "", pack, false, "out"},
        {{"-l1", "in", "out"}, "", pack, false, "out", "", 1},
        {{"-L9", "in", "out"}, "", pack, false, "out", "", 9},
        {{"-l9", "-l1", "in", "out"}, "", pack, false, "out", "", 1},
        {{"-x", "in", "out"}, warn("-x"), pack, false, "out"},
        {{"-", "-Q", "in", "out", "info"}, warn("-") + warn("-Q"), pack, false, "out", "info"},
        {{"in", "-d", "out"}, "", pack, false, "-d", "out"},
        {{"-w", "in", "out"}, "", pack, true, "out"},
        {{"-d", "in.qiv", "out"}, "", unpack, false, "out"},
        {{"-D", "-l9", "in.qiv", "out"}, "", unpack, false, "out"},
        {{"-d", "in.qiv", "out", "info"}, "", unpack, false, "out"},
        {{"-d", "in.qiv", "out", "keep"}, "", unpack, false, "out", "", 0, {"keep"}},
        {{"-w", "-d", "in.qiv", "out"}, "", unpack, true, "out"},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(command_line(row.args));
        TempDir dir;
        write_file(dir / "in", image);
        write_file(dir / "in.qiv", container);
        for (const auto& k : row.kept) write_text(dir / k, "keep me\n");
        const auto r = qivpak(dir, row.args);

        std::set<std::string> expected_files = {"in", "in.qiv"};
        expected_files.insert(row.kept.begin(), row.kept.end());
        std::string expected = kBanner + row.warnings;
        if (row.outcome == usage) {
            expected += kUsage;
        } else if (row.outcome == pack) {
            expected_files.insert(row.output);
            ASSERT_TRUE(fs::exists(dir / row.output));
            const Bytes packed = read_file(dir / row.output);
            expected += pack_text(static_cast<std::uint32_t>(image.size()), packed.size(), kSmallPackProgress);
            expect_container(packed, image, row.level);
            if (!row.info.empty()) {
                expected_files.insert(row.info);
                ASSERT_TRUE(fs::exists(dir / row.info));
                EXPECT_EQ(read_text(dir / row.info), info_text(packed));
            }
        } else {
            expected_files.insert(row.output);
            expected += unpack_text(2, small_unpack_progress(2));
            ASSERT_TRUE(fs::exists(dir / row.output));
            EXPECT_TRUE(read_file(dir / row.output) == image);
        }
        if (row.waits) expected += kPrompt;
        EXPECT_EQ(r.out, expected);
        EXPECT_EQ(r.err, "");
        EXPECT_EQ(r.status, row.outcome == usage ? kQuitFailure : 0);
        EXPECT_EQ(dir.files(), expected_files);
        for (const auto& k : row.kept) EXPECT_EQ(read_text(dir / k), "keep me\n");
    }
}

TEST(E2eRoundTrip, SizesContentsAndLevels) {
    const std::vector<std::size_t> sizes = {0, 1, 1023, kFrame - 1, kFrame, kFrame + 1, 3 * kFrame + 777};
    struct Level {
        std::vector<std::string> flags;
        int zlib_level;
    };
    const std::vector<Level> levels = {{{}, Z_DEFAULT_COMPRESSION}, {{"-l1"}, 1}, {{"-l9"}, 9}};
    for (const bool random : {true, false}) {
        for (const std::size_t size : sizes) {
            const Bytes image = random ? random_bytes(size, 100 + static_cast<std::uint32_t>(size))
                                       : text_bytes(size, 200 + static_cast<std::uint32_t>(size));
            const auto n = frame_count_of(static_cast<std::uint32_t>(size));
            for (const auto& level : levels) {
                SCOPED_TRACE((random ? "random " : "text ") + std::to_string(size) + " bytes, level " +
                             std::to_string(level.zlib_level));
                TempDir dir;
                write_file(dir / "img", image);
                auto args = level.flags;
                args.insert(args.end(), {"img", "c.qiv", "info.txt"});
                const auto packed = qivpak(dir, args);
                EXPECT_EQ(packed.status, 0);
                EXPECT_EQ(packed.err, "");
                ASSERT_TRUE(fs::exists(dir / "c.qiv"));
                const Bytes container = read_file(dir / "c.qiv");
                EXPECT_EQ(packed.out,
                          kBanner + pack_text(static_cast<std::uint32_t>(size), container.size(), kSmallPackProgress));
                expect_container(container, image, level.zlib_level);
                EXPECT_EQ(read_text(dir / "info.txt"), info_text(container));

                const auto unpacked = qivpak(dir, {"-d", "c.qiv", "back"});
                EXPECT_EQ(unpacked.status, 0);
                EXPECT_EQ(unpacked.out, kBanner + unpack_text(n, small_unpack_progress(n)));
                EXPECT_TRUE(read_file(dir / "back") == image) << "restored image differs";
            }
        }
    }
}

TEST(E2eRoundTrip, ReportRatioBelowOneKilobyte) {
    struct Row {
        Bytes image;
        std::string report;
    };
    const Bytes noise = random_bytes(1023, 5);
    // 1023 bytes of noise store as more than 1024 - 38 bytes: the container reaches 1 KB.
    ASSERT_GE(zlib_stream(noise, Z_DEFAULT_COMPRESSION).size() + 38, 1024u);
    const std::vector<Row> rows = {
        {{}, "Report: 0 KB -> 0 KB (0%)\n\n"},
        {noise, "Report: 0 KB -> 1 KB (0%)\n\n"},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(std::to_string(row.image.size()) + " bytes");
        TempDir dir;
        write_file(dir / "img", row.image);
        const auto r = qivpak(dir, {"img", "c.qiv", "info"});
        EXPECT_EQ(r.status, 0);
        EXPECT_TRUE(r.out.ends_with("Finished.\n\n" + row.report)) << r.out;
        std::string info;
        if (!row.image.empty()) {
            const auto len = zlib_stream(row.image, Z_DEFAULT_COMPRESSION).size();
            info = "Frame #0: 8192 -> " + std::to_string(len) + "(" + std::to_string((len * 100) >> 13) + "%)\n";
        }
        EXPECT_EQ(read_text(dir / "info"), info + row.report);
    }
}

TEST(E2eProgress, LinesWithoutTerminal) {
    struct Row {
        std::uint32_t frames;
        std::string pack;
        std::string unpack;
    };
    const std::vector<Row> rows = {
        {600, "100%100%\n", "0%100%\n"},
        {1200, "50%100%100%\n", "0%50%100%\n"},
        {1300, "46%92%100%\n", "0%46%92%100%\n"},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(std::to_string(row.frames) + " frames");
        const Bytes image = text_bytes(std::size_t{row.frames} * kFrame, row.frames);
        TempDir dir;
        write_file(dir / "img", image);
        const auto packed = qivpak(dir, {"img", "c.qiv"});
        EXPECT_EQ(packed.status, 0);
        const Bytes container = read_file(dir / "c.qiv");
        EXPECT_EQ(packed.out, kBanner + pack_text(static_cast<std::uint32_t>(image.size()), container.size(), row.pack));
        expect_container(container, image, Z_DEFAULT_COMPRESSION);

        const auto unpacked = qivpak(dir, {"-d", "c.qiv", "back"});
        EXPECT_EQ(unpacked.status, 0);
        EXPECT_EQ(unpacked.out, kBanner + unpack_text(row.frames, row.unpack));
        EXPECT_TRUE(read_file(dir / "back") == image) << "restored image differs";
    }
}

TEST(E2eUnpack, DamagedContainers) {
    // Three frames, the last one 1000 bytes long.
    const Bytes image = text_bytes(2 * kFrame + 1000, 21);
    const Draft good = compressed_draft(image, Z_DEFAULT_COMPRESSION);
    const Bytes base = assemble(good);
    const auto c = parse_container(base);
    ASSERT_TRUE(c.has_value());
    const std::size_t n = 3;
    const std::size_t length_at = kHeaderSize + 4 * n;  // first entry of the length table

    const std::string not_qiv = "Input is not a valid QIV file.\n";
    const std::string too_new = "The version of the file is greater than supported.\n";
    const std::string corrupted = "Corrupted input file.\n";
    const std::string cut = "Input seems to be corrupted.\n";
    const std::string bad_stream = "Error while decompressing (corrupt input?)\n";

    using Mutation = std::function<Bytes()>;
    const auto edit = [&base](std::function<void(Bytes&)> change) {
        return [&base, change] {
            Bytes b = base;
            change(b);
            return b;
        };
    };
    const auto truncated = [&base](std::size_t size) { return [&base, size] { return slice(base, 0, size); }; };
    const auto with_frame = [&good](std::size_t i, Bytes stored) {
        return [&good, i, stored] {
            Draft d = good;
            d.frames[i] = stored;
            return assemble(d);
        };
    };
    struct Row {
        std::string name;
        Mutation make;
        UnpackExpectation expect;
    };
    const std::vector<Row> rows = {
        {"empty file", truncated(0), {Stage::header, 0, not_qiv}},
        {"31-byte header", truncated(31), {Stage::header, 0, not_qiv}},
        {"wrong magic", edit([](Bytes& b) { b[1] = 'X'; }), {Stage::header, 0, not_qiv}},
        {"QIV and a non-zero byte", edit([](Bytes& b) { b[3] = 1; }), {Stage::header, 0, not_qiv}},
        {"version 2", edit([](Bytes& b) { put_le32(b, 8, 2); }), {Stage::header, 0, too_new}},
        {"version 0xFFFFFFFF", edit([](Bytes& b) { put_le32(b, 8, 0xFFFFFFFFu); }), {Stage::header, 0, too_new}},
        {"reserved bytes set", edit([](Bytes& b) { std::fill(b.begin() + 16, b.begin() + 32, 0xA5); }),
         {Stage::done}},
        {"version 1 without NC areas", edit([](Bytes& b) { put_le32(b, 8, 1); }), {Stage::done}},
        {"frames stored back to front",
         [&good] {
             Draft d = good;
             d.back_to_front = true;
             return assemble(d);
         },
         {Stage::done}},
        {"offset table cut short", truncated(kHeaderSize + 4 * n - 1), {Stage::tables, 0, corrupted}},
        {"length table cut short", truncated(kHeaderSize + 6 * n - 1), {Stage::tables, 0, corrupted}},
        {"total_size of 4 GiB - 1", edit([](Bytes& b) { put_le32(b, 4, 0xFFFFFFFFu); }),
         {Stage::tables, 0, corrupted}},
        {"NC area table cut short",
         [&base] {
             Bytes b = slice(base, 0, kHeaderSize + 6 * 3 + 1000);
             put_le32(b, 12, 1);
             return b;
         },
         {Stage::tables, 0, corrupted}},
        {"nc_count 193", edit([](Bytes& b) { put_le32(b, 12, 193); }), {Stage::tables, 0, corrupted}},
        {"nc_count 0xFFFFFFFF", edit([](Bytes& b) { put_le32(b, 12, 0xFFFFFFFFu); }), {Stage::tables, 0, corrupted}},
        {"length 9217 for the last frame", edit([=](Bytes& b) { put_le16(b, length_at + 4, 9217); }),
         {Stage::tables, 0, corrupted}},
        {"length 65535 for frame 0", edit([=](Bytes& b) { put_le16(b, length_at, 0xFFFF); }),
         {Stage::tables, 0, corrupted}},
        {"frame 2 cut short", truncated(base.size() - 1), {Stage::frames, 2, cut}},
        {"frame 1 offset past the end", edit([](Bytes& b) { put_le32(b, kHeaderSize + 4, 0xFFFFFFF0u); }),
         {Stage::frames, 1, cut}},
        {"frame 1 checksum damaged", edit([&c](Bytes& b) { b[c->offsets[1] + c->lengths[1] - 1] ^= 0x55; }),
         {Stage::frames, 1, bad_stream}},
        {"frame 1 header damaged", edit([&c](Bytes& b) { b[c->offsets[1]] = 0xFF; }),
         {Stage::frames, 1, bad_stream}},
        {"frame 1 inflates to 8191 bytes",
         with_frame(1, zlib_stream(slice(image, kFrame, kFrame - 1), Z_DEFAULT_COMPRESSION)),
         {Stage::frames, 1, bad_stream}},
        {"frame 0 inflates past 8192 bytes", with_frame(0, zlib_stream(text_bytes(kFrame + 1, 3), 9)),
         {Stage::frames, 0, bad_stream}},
        {"last frame inflates to 8192 bytes", with_frame(2, zlib_stream(text_bytes(kFrame, 4), 9)),
         {Stage::frames, 2, bad_stream}},
        {"total_size shorter than the last frame inflates",
         edit([](Bytes& b) { put_le32(b, 4, 2 * kFrame + 999); }), {Stage::frames, 2, bad_stream}},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.name);
        expect_unpack(row.make(), image, row.expect);
    }
}

TEST(E2eUnpack, HandMadeNcAreas) {
    // Five frames, the last one 1000 bytes; frames 1, 2 and 4 lie in NC areas {1,2} and {4,1}.
    const Bytes image = text_bytes(4 * kFrame + 1000, 31);
    Draft good;
    good.total_size = static_cast<std::uint32_t>(image.size());
    good.version = 1;
    good.nc_count = 2;
    good.areas = {{1, 2}, {4, 1}};
    for (std::size_t i = 0; i < 5; ++i)
        good.frames.push_back(i == 0 || i == 3 ? zlib_stream(plain_frame(image, i), Z_DEFAULT_COMPRESSION)
                                               : plain_frame(image, i));
    ASSERT_EQ(good.frames[4].size(), 1000u);

    const auto as_made = parse_container(assemble(good));
    ASSERT_TRUE(as_made.has_value());
    const std::size_t frame2_at = as_made->offsets[2];

    const std::string cut = "Input seems to be corrupted.\n";
    struct Row {
        std::string name;
        std::function<void(Draft&)> change;
        std::size_t truncate_to = 0;  // 0: the whole file
        UnpackExpectation expect;
    };
    const std::vector<Row> rows = {
        {"as made", [](Draft&) {}, 0, {Stage::done}},
        {"version 0 with nc_count 3, areas overlapping",
         [](Draft& d) {
             d.version = 0;
             d.nc_count = 3;
             d.areas.push_back({2, 1});
         },
         0, {Stage::done}},
        {"entries past nc_count ignored", [](Draft& d) { d.areas.push_back({0, 5}); }, 0, {Stage::done}},
        {"raw last frame stored with 8192 bytes",
         [](Draft& d) { d.frames[4].resize(kFrame, 0xEE); }, 0, {Stage::done}},
        {"nc_count 1 leaves the raw last frame to zlib", [](Draft& d) { d.nc_count = 1; }, 0,
         {Stage::frames, 4, "Error while decompressing (corrupt input?)\n"}},
        {"raw frame 1 stored with 8000 bytes", [](Draft& d) { d.frames[1].resize(8000); }, 0,
         {Stage::frames, 1, cut}},
        {"raw last frame stored with 999 bytes", [](Draft& d) { d.frames[4].resize(999); }, 0,
         {Stage::frames, 4, cut}},
        {"cut inside raw frame 2", [](Draft&) {}, frame2_at + 4000, {Stage::frames, 2, cut}},
        {"cut inside the NC area table", [](Draft&) {}, kHeaderSize + 30 + 100,
         {Stage::tables, 0, "Corrupted input file.\n"}},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.name);
        Draft d = good;
        row.change(d);
        Bytes file = assemble(d);
        if (row.truncate_to != 0) {
            ASSERT_LT(row.truncate_to, file.size());
            file.resize(row.truncate_to);
        }
        expect_unpack(file, image, row.expect);
    }
}

TEST(E2eFiles, SameFilesAndUnusablePaths) {
    const Bytes image = text_bytes(2 * kFrame + 500, 41);
    const Bytes container = assemble(compressed_draft(image, Z_DEFAULT_COMPRESSION));
    const auto same_info = [](const std::string& path) {
        return "Warning: info file " + path + " is the input or output file; no info file is written\n";
    };
    struct Row {
        std::vector<std::string> args;   // run in a directory holding img, link (a hard link to img), c.qiv, sub/
        std::string text;                // after the banner: the whole stdout of a refusal, or what precedes a pack
        bool packs;                      // finishes a pack into `output`
        std::string output{};
        std::set<std::string> created{}; // files that exist afterwards besides img, link and c.qiv
        std::vector<std::string> old{};  // files that hold "old" before the run
    };
    const std::vector<Row> rows = {
        {{"img", "img"}, "Error: output file img is the input file\n", false},
        {{"img", "./img"}, "Error: output file ./img is the input file\n", false},
        {{"img", "link"}, "Error: output file link is the input file\n", false},
        {{"-d", "c.qiv", "c.qiv"}, "Output file c.qiv is the input file\n", false},
        {{"-d", "c.qiv", "sub/../c.qiv"}, "Output file sub/../c.qiv is the input file\n", false},
        {{"img", "out", "img"}, same_info("img"), true, "out", {"out"}},
        {{"img", "out", "./link"}, same_info("./link"), true, "out", {"out"}},
        {{"img", "out", "out"}, same_info("out"), true, "out", {"out"}, {"out"}},
        {{"img", "out", "./out"}, same_info("./out"), true, "out", {"out"}},
        {{"img", "sub/out", "sub/./out"}, same_info("sub/./out"), true, "sub/out", {"sub/out"}},
        {{"img", "out", "sub/../out"}, same_info("sub/../out"), true, "out", {"out"}},
        {{"img", "out", "nodir/info"}, "Warning: cannot open/create info file nodir/info\n", true, "out", {"out"}},
        {{"nothere", "out"}, "Error: cannot open input file nothere\n", false},
        {{"img", "nodir/out"}, "Error: cannot create output file nodir/out\n", false},
        {{"-d", "nothere", "out"}, "Cannot open input file nothere\n", false},
        {{"-d", "c.qiv", "nodir/out"}, "Cannot create output file nodir/out\n", false},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(command_line(row.args));
        TempDir dir;
        write_file(dir / "img", image);
        write_file(dir / "c.qiv", container);
        fs::create_hard_link(dir / "img", dir / "link");
        fs::create_directory(dir / "sub");
        for (const auto& o : row.old) write_text(dir / o, "old");
        const auto r = qivpak(dir, row.args);

        std::string expected = kBanner + row.text;
        if (row.packs) {
            ASSERT_TRUE(fs::exists(dir / row.output));
            const Bytes packed = read_file(dir / row.output);
            expected += pack_text(static_cast<std::uint32_t>(image.size()), packed.size(), kSmallPackProgress);
            expect_container(packed, image, Z_DEFAULT_COMPRESSION);
        }
        EXPECT_EQ(r.out, expected);
        EXPECT_EQ(r.err, "");
        EXPECT_EQ(r.status, row.packs ? 0 : kQuitFailure);
        EXPECT_TRUE(read_file(dir / "img") == image) << "input changed";
        EXPECT_TRUE(read_file(dir / "c.qiv") == container) << "container changed";
        std::set<std::string> files = {"img", "link", "c.qiv"};
        files.insert(row.created.begin(), row.created.end());
        EXPECT_EQ(dir.files(), files);
    }
}

TEST(E2eFiles, WriteErrors) {
    if (!fs::exists("/dev/full") || !file_size_limits_supported()) GTEST_SKIP() << "no /dev/full or no file size limits";
    const Bytes image = random_bytes(10 * kFrame, 51);
    const Bytes container = assemble(compressed_draft(image, Z_DEFAULT_COMPRESSION));
    const std::size_t tables_end = kHeaderSize + 6 * 10;
    struct Row {
        std::vector<std::string> args;
        std::uint64_t size_limit;
        std::string message;
    };
    const std::vector<Row> rows = {
        {{"img", "/dev/full"}, kNoFileSizeLimit, "I/O write error.\n"},
        {{"-d", "c.qiv", "/dev/full"}, kNoFileSizeLimit, "I/O error writing to output file.\n"},
        {{"img", "out"}, tables_end + 3 * kFrame, "I/O write error.\n"},
        {{"-d", "c.qiv", "out"}, 3 * kFrame + 100, "I/O error writing to output file.\n"},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.args[row.args.size() - 1] + " " + std::to_string(row.size_limit));
        TempDir dir;
        write_file(dir / "img", image);
        write_file(dir / "c.qiv", container);
        ProcessOptions opt;
        opt.file_size_limit = row.size_limit;
        const auto r = qivpak(dir, row.args, opt);
        EXPECT_EQ(r.status, kQuitFailure);
        EXPECT_TRUE(r.out.starts_with(kBanner)) << r.out;
        EXPECT_TRUE(r.out.ends_with(row.message)) << r.out;
        EXPECT_EQ(r.err, "");
        if (row.args[0] == "img" && row.size_limit != kNoFileSizeLimit) {
            // The container is left as far as it got: header, then zero placeholders for the tables.
            const Bytes partial = read_file(dir / "out");
            ASSERT_GE(partial.size(), tables_end);
            const auto c = parse_container(partial);
            ASSERT_TRUE(c.has_value());
            EXPECT_TRUE(c->magic_ok);
            EXPECT_EQ(c->total_size, image.size());
            for (std::size_t k = kHeaderSize; k < tables_end; ++k) ASSERT_EQ(partial[k], 0) << "placeholder byte " << k;
        }
    }
}

TEST(E2eFiles, InputOver4GiBIsRefused) {
    for (const std::uint64_t size : {std::uint64_t{1} << 32, std::uint64_t{5} << 30}) {
        SCOPED_TRACE(std::to_string(size) + " bytes");
        TempDir dir;
        {
            std::ofstream touch(dir / "big");
        }
        std::error_code ec;
        fs::resize_file(dir / "big", size, ec);  // sparse: takes no disk space
        if (ec) GTEST_SKIP() << "cannot make a sparse file: " << ec.message();
        const auto r = qivpak(dir, {"big", "out"});
        EXPECT_EQ(r.out, kBanner + "Error: input file big is larger than 4294967295 bytes\n");
        EXPECT_EQ(r.status, kQuitFailure);
        EXPECT_FALSE(fs::exists(dir / "out"));
    }
}

}  // namespace
