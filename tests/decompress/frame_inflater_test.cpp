// frame_inflater_test.cpp - the frame inflaters: zlib's verdict on every stream, and libdeflate's the same
#include "decompress/frame_inflater.hpp"
#include "support/container.hpp"

#include <gtest/gtest.h>
#include <zlib.h>

namespace {

using qivtest::Bytes;
using qivtest::deflated;

// A zlib stream by hand: 78 01, `bits` as deflate reads them (fields lowest bit first), the Adler-32 of `plain`.
Bytes stream(const std::string& bits, const Bytes& plain) {
    Bytes s{0x78, 0x01};
    s.resize(2 + (bits.size() + 7) / 8);
    for (std::size_t i = 0; i < bits.size(); ++i) s[2 + i / 8] |= (bits[i] == '1') << i % 8;
    const uLong sum = adler32(1, plain.data(), static_cast<uInt>(plain.size()));
    for (int shift = 24; shift >= 0; shift -= 8) s.push_back(static_cast<std::uint8_t>(sum >> shift));
    return s;
}

std::string field(unsigned value, int bits) {
    return bits == 0 ? "" : (value & 1 ? "1" : "0") + field(value >> 1, bits - 1);
}

// A final block's own codes: `litlen` literal/length and `distance` distance code lengths in the code-length
// code 0 '0', 1 '10', 17 (3 + n zeros) '11' n. The end, 'a' (with `a`) and distances 0 and 1 get length 1:
// the end is '1' ('0' without 'a'), 'a' '0'. With `overrun` the last length is sent as 3 zeros.
std::string own_codes(unsigned litlen, unsigned distance, bool a = true, bool overrun = false) {
    std::string s = "1" "01" + field(litlen - 257, 5) + field(distance - 1, 5) + field(14, 4);
    for (unsigned k = 0; k < 18; ++k) s += field(k == 3 ? 1 : k == 1 || k == 17 ? 2 : 0, 3);  // 16 17 18 0 8 7 ...
    for (unsigned i = 0; i < litlen + distance; ++i)
        s += (i == 'a' && a) || i == 256 || i == litlen || i == litlen + 1 ? "10" : "0";
    return overrun ? s.substr(0, s.size() - 2) + "11" "000" : s;
}

std::optional<Bytes> inflate(auto& inflater, const Bytes& in) {  // the plain bytes, none when refused
    Bytes out(8192);
    std::size_t len = 0;
    return inflater.inflate(in, out, len) == 0 ? std::optional(Bytes(out.begin(), out.begin() + len)) : std::nullopt;
}

// Zlib gives each row's verdict and bytes, and libdeflate the same, also with any bit flipped (every 13th
// of long streams) or the end cut off; each inflater takes stream after stream.
TEST(FrameInflater, AcceptsAndRefusesAsZlibDoes) {
    const Bytes text = qivtest::make_image("t", 8192, 5), noise = qivtest::make_image("n", 8192, 6), x100(100, 'x');
    const Bytes packed = deflated(text), a259(259, 'a');
    const auto with = [](Bytes b, std::size_t at, int v) { return b.at(at) = static_cast<std::uint8_t>(v), b; };
    const std::string fixed_a = "1" "10" "10010001";  // final block, fixed codes, 'a'; then a length at distance 1
    const std::string stored_a = "0" "00" "00000" + field(1, 16) + field(0xFFFE, 16) + field('a', 8);
    const struct { const char* what; Bytes stream; std::optional<Bytes> plain; } rows[] = {  // plain: none, refused
        {"own codes", packed, text},
        {"fixed codes, fewer bytes than a frame", deflated(x100), x100},
        {"stored block", deflated(noise), noise},
        {"stored, then fixed codes", stream(stored_a + "1" "10" "10010010" "0000000", {'a', 'b'}), Bytes{'a', 'b'}},
        {"bytes after the stream's end", [&] { Bytes b = packed; return b.insert(b.end(), {1, 2, 3}), b; }(), text},
        {"more bytes than a frame", deflated(qivtest::make_image("t", 8193, 5)), {}},
        {"wrong checksum", with(packed, packed.size() - 1, packed.back() ^ 1), {}},
        {"cut inside the checksum", Bytes(packed.begin(), packed.end() - 1), {}},
        {"preset dictionary flag", with(with(packed, 0, 0x78), 1, 0xBB), {}},
        {"window above 32 KiB", with(with(packed, 0, 0x88), 1, 0x1C), {}},
        {"method not deflate", with(with(packed, 0, 0x77), 1, 0x09), {}},
        {"fixed length code 285", stream(fixed_a + "11000101" "00000" "0000000", a259), a259},
        {"fixed length code 286", stream(fixed_a + "11000110" "00000" "0000000", a259), {}},
        {"fixed length code 287", stream(fixed_a + "11000111" "00000" "0000000", a259), {}},
        {"286 literal/length and 30 distance codes", stream(own_codes(286, 30) + "01", {'a'}), Bytes{'a'}},
        {"287 literal/length codes", stream(own_codes(287, 2) + "01", {'a'}), {}},
        {"31 distance codes", stream(own_codes(257, 31) + "01", {'a'}), {}},
        {"code lengths overrun their count", stream(own_codes(257, 2, true, true) + "01", {'a'}), {}},
        {"one codeword, its bit pattern", stream(own_codes(257, 2, false) + "0", {}), Bytes{}},
        {"one codeword, the unused bit pattern", stream(own_codes(257, 2, false) + "1", {}), {}},
    };
    qivpak::ZlibFrameInflater zlib;
    for (const auto& row : rows) {
        EXPECT_EQ(inflate(zlib, row.stream), row.plain) << row.what;
#if QIVPAK_HAVE_LIBDEFLATE
        qivpak::LibdeflateFrameInflater libdeflate;
        EXPECT_EQ(inflate(libdeflate, row.stream), row.plain) << row.what;
        for (std::size_t bit = 0; bit < 8 * row.stream.size(); bit += row.stream.size() > 1000 ? 13 : 1) {
            Bytes damaged = with(row.stream, bit / 8, row.stream[bit / 8] ^ 1 << bit % 8);
            for (int cut = 0; cut < 2; ++cut, damaged.resize(bit / 8))  // flipped, then cut before that byte
                ASSERT_EQ(inflate(libdeflate, damaged), inflate(zlib, damaged)) << row.what << ", bit " << bit;
        }
#endif
    }
}

}  // namespace
