// frame_inflater_test.cpp - the frame inflaters: zlib's verdict on every stream, and libdeflate's the same
#include "decompress/frame_inflater.hpp"

#include <gtest/gtest.h>
#include <zlib.h>

#include <array>
#include <string>
#include <utility>
#include <vector>

namespace {

using Bytes = std::vector<std::uint8_t>;

// `plain` as zlib compresses it at level 6 with `strategy`; with `flush_at`,
// the block ends there and another begins.
Bytes deflated(const Bytes& plain, int strategy = Z_DEFAULT_STRATEGY, std::size_t flush_at = 0) {
    Bytes out(plain.size() + 100);
    z_stream z{};
    EXPECT_EQ(deflateInit2(&z, 6, Z_DEFLATED, 15, 8, strategy), Z_OK);
    z.next_in = const_cast<Bytef*>(plain.data());
    z.next_out = out.data();
    z.avail_out = static_cast<uInt>(out.size());
    z.avail_in = static_cast<uInt>(flush_at);
    const int first = flush_at > 0 ? deflate(&z, Z_FULL_FLUSH) : Z_OK;
    EXPECT_EQ(first, Z_OK);
    z.avail_in = static_cast<uInt>(plain.size() - flush_at);
    EXPECT_EQ(deflate(&z, Z_FINISH), Z_STREAM_END);
    out.resize(z.total_out);
    deflateEnd(&z);
    return out;
}

Bytes pattern(std::size_t size, unsigned seed) {
    Bytes b(size);
    for (std::size_t i = 0; i < size; ++i) b[i] = static_cast<std::uint8_t>("framesector"[(i * seed / 7) % 11] + i % seed);
    return b;
}

Bytes noise(std::size_t size) {
    Bytes b(size);
    std::uint32_t x = 12345;
    for (auto& v : b) v = static_cast<std::uint8_t>((x = x * 1103515245 + 12345) >> 24);
    return b;
}

// A hand-laid zlib stream: header 78 01, deflate bits (least significant
// first; Huffman codes most significant first), then the Adler-32 of `plain`.
struct Stream {
    Bytes bytes{0x78, 0x01};
    unsigned acc = 0, count = 0;
    void put(unsigned value, int bits) {
        for (int i = 0; i < bits; ++i) {
            acc |= ((value >> i) & 1u) << count;
            if (++count == 8) bytes.push_back(static_cast<std::uint8_t>(acc)), acc = 0, count = 0;
        }
    }
    void code(unsigned c, int len) {
        for (int i = len - 1; i >= 0; --i) put(c >> i, 1);
    }
    void fixed(unsigned symbol) {  // a symbol of the fixed literal/length code
        if (symbol < 144) code(0x30 + symbol, 8);
        else if (symbol < 256) code(0x190 + symbol - 144, 9);
        else if (symbol < 280) code(symbol - 256, 7);
        else code(0xC0 + symbol - 280, 8);
    }
    Bytes end(const Bytes& plain) {
        if (count > 0) bytes.push_back(static_cast<std::uint8_t>(acc));
        const uLong sum = adler32(1, plain.data(), static_cast<uInt>(plain.size()));
        for (int shift = 24; shift >= 0; shift -= 8) bytes.push_back(static_cast<std::uint8_t>(sum >> shift));
        return bytes;
    }
};

// Fixed codes: 'a', then length code `symbol` at distance 1, then the end:
// 259 bytes of 'a' where the symbol is read as length 258 (285, 286, 287).
Bytes fixed_length_code(unsigned symbol) {
    Stream s;
    s.put(1, 1), s.put(1, 2), s.fixed('a'), s.fixed(symbol), s.code(0, 5), s.fixed(256);
    return s.end(Bytes(259, 'a'));
}

// A block with its own codes, announcing `litlen` literal/length and
// `distance` distance codes. Code lengths go out in a code where 0 is '0', 1
// is '10' and a run of 3 zeros is '11' and 3 bits; distance codes 0 and 1
// have length 1, and so have 'a' (unless `end_only`) and the end. With
// `overrun`, the last code length goes out as a run of 3 zeros. Then the
// block's `bits` ('a' is 0 and the end 1; with `end_only` the end is 0).
Bytes own_codes(unsigned litlen, unsigned distance, const char* bits, const Bytes& plain, bool end_only = false,
                bool overrun = false) {
    Stream s;
    s.put(1, 1), s.put(2, 2), s.put(litlen - 257, 5), s.put(distance - 1, 5), s.put(14, 4);
    for (unsigned k = 0; k < 18; ++k) s.put(k == 3 ? 1 : k == 1 || k == 17 ? 2 : 0, 3);  // 0, 17, 1
    for (unsigned i = 0; i < litlen + distance; ++i) {
        const bool one = (i == 'a' && !end_only) || i == 256 || i == litlen || i == litlen + 1;
        if (overrun && i + 1 == litlen + distance) s.code(3, 2), s.put(0, 3);
        else one ? s.code(2, 2) : s.code(0, 1);
    }
    for (const char* b = bits; *b; ++b) s.put(*b == '1', 1);
    return s.end(plain);
}

template <class Inflater>
std::pair<bool, Bytes> inflate_with(const Bytes& stream) {
    static Inflater inflater;
    std::array<std::uint8_t, 8192> out{};
    std::size_t len = 0;
    const bool ok = inflater.inflate(stream, out, len) == 0;
    return {ok, ok ? Bytes(out.begin(), out.begin() + static_cast<std::ptrdiff_t>(len)) : Bytes{}};
}

Bytes with(Bytes b, std::size_t at, std::uint8_t value) {
    b.at(at) = value;
    return b;
}

TEST(FrameInflater, AcceptsAndRefusesAsZlibDoes) {
    const Bytes text = pattern(8192, 5), zeros(8192, 0), random = noise(8192);
    const Bytes packed = deflated(text);
    Bytes trailing = packed;
    trailing.insert(trailing.end(), {1, 2, 3});
    const Bytes two = deflated(text, Z_DEFAULT_STRATEGY, 4096);
    const Bytes stored = deflated(random);
    const Bytes fixed = deflated(zeros, Z_FIXED);
    // The block types the rows below are named for (the bits after the header).
    ASSERT_EQ(packed[2] & 7, 5) << "final block with own codes";
    ASSERT_EQ(fixed[2] & 7, 3) << "final block with fixed codes";
    ASSERT_EQ(stored[2] & 7, 1) << "final stored block";
    ASSERT_EQ(two[2] & 1, 0) << "first block not final";
    struct Row {
        const char* what;
        Bytes stream;
        bool accepted;
        Bytes plain;
    };
    const Row rows[] = {
        {"own codes", packed, true, text},
        {"fixed codes", fixed, true, zeros},
        {"stored block", stored, true, random},
        {"two blocks", two, true, text},
        {"bytes after the stream's end", trailing, true, text},
        {"fewer bytes than a frame", deflated(Bytes(100, 'x')), true, Bytes(100, 'x')},
        {"more bytes than a frame", deflated(pattern(8193, 5)), false, {}},
        {"wrong checksum", with(packed, packed.size() - 1, packed.back() ^ 1), false, {}},
        {"preset dictionary flag", with(with(packed, 0, 0x78), 1, 0xBB), false, {}},
        {"header check wrong", with(packed, 1, packed[1] ^ 1), false, {}},
        {"window above 32 KiB", with(with(packed, 0, 0x88), 1, 0x1C), false, {}},
        {"method not deflate", with(with(packed, 0, 0x77), 1, 0x09), false, {}},
        {"cut inside the checksum", Bytes(packed.begin(), packed.end() - 1), false, {}},
        {"cut inside the data", Bytes(packed.begin(), packed.begin() + 50), false, {}},
        {"stored lengths that disagree", with(stored, 4, stored[4] ^ 1), false, {}},
        {"empty", {}, false, {}},
        {"fixed length code 285", fixed_length_code(285), true, Bytes(259, 'a')},
        {"fixed length code 286", fixed_length_code(286), false, {}},
        {"fixed length code 287", fixed_length_code(287), false, {}},
        {"286 literal/length and 30 distance codes", own_codes(286, 30, "01", {'a'}), true, {'a'}},
        {"287 literal/length codes", own_codes(287, 2, "01", {'a'}), false, {}},
        {"31 distance codes", own_codes(257, 31, "01", {'a'}), false, {}},
        {"code lengths overrun their count", own_codes(257, 2, "01", {'a'}, false, true), false, {}},
        {"one codeword, its bit pattern", own_codes(257, 2, "0", {}, true), true, {}},
        {"one codeword, the unused bit pattern", own_codes(257, 2, "1", {}, true), false, {}},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.what);
        const auto [ok, plain] = inflate_with<qivpak::ZlibFrameInflater>(row.stream);
        EXPECT_EQ(ok, row.accepted);
        EXPECT_TRUE(plain == row.plain);
#if QIVPAK_HAVE_LIBDEFLATE
        EXPECT_TRUE(inflate_with<qivpak::LibdeflateFrameInflater>(row.stream) == std::make_pair(ok, plain));
#endif
    }
}

// Every bit flipped and every cut of frames as the packer stores them, each
// kind of block: the two inflaters give the same verdict and the same bytes.
TEST(FrameInflater, BothInflatersAgreeOnDamagedFrames) {
#if QIVPAK_HAVE_LIBDEFLATE
    int refused = 0, checked = 0;
    for (const Bytes& plain : {pattern(8192, 3), Bytes(8192, 0), noise(8192), pattern(1000, 9)}) {
        const Bytes good = deflated(plain, plain[0] == 0 ? Z_FIXED : Z_DEFAULT_STRATEGY);
        for (std::size_t bit = 0; bit < 8 * good.size(); bit += good.size() > 2000 ? 5 : 1) {
            const Bytes flipped = with(good, bit / 8, static_cast<std::uint8_t>(good[bit / 8] ^ (1u << bit % 8)));
            const Bytes cut(good.begin(), good.begin() + static_cast<std::ptrdiff_t>(bit / 8));
            for (const Bytes& damaged : {flipped, cut}) {
                const auto zlib = inflate_with<qivpak::ZlibFrameInflater>(damaged);
                ASSERT_TRUE(zlib == inflate_with<qivpak::LibdeflateFrameInflater>(damaged)) << "bit " << bit;
                refused += zlib.first ? 0 : 1;
                ++checked;
            }
        }
    }
    EXPECT_GT(refused, checked / 2);
#else
    GTEST_SKIP() << "built with the zlib inflater only";
#endif
}

}  // namespace
