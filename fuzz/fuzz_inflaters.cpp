// fuzz_inflaters.cpp - libFuzzer target: the zlib and the libdeflate frame inflaters on the same streams
//
// Input: any bytes. Each of three streams goes to both inflaters, with a
// frame-sized output buffer, and they must agree: both refuse it, or both
// accept it with the same length and the same bytes out.
//   1. the input as it is, taken as a zlib stream;
//   2. the input taken as raw deflate data behind a fixed zlib header, and
//      followed by the Adler-32 of what zlib inflates it to, so that streams
//      zlib accepts reach the checksum intact;
//   3. the same with the Adler-32 of what libdeflate inflates it to, so that
//      streams libdeflate accepts do too.
#include "decompress/frame_inflater.hpp"
#include "fuzz_check.hpp"

#include <libdeflate.h>
#include <zlib.h>

#include <array>
#include <cstring>
#include <memory>
#include <span>
#include <vector>

namespace {

using Bytes = std::vector<std::uint8_t>;

// The stream: header 78 9C, `deflate`, then the Adler-32 of `plain`, big-endian.
Bytes wrapped(std::span<const std::uint8_t> deflate, std::span<const std::uint8_t> plain) {
    Bytes s = {0x78, 0x9C};
    s.insert(s.end(), deflate.begin(), deflate.end());
    const uLong sum = adler32(adler32(0, nullptr, 0), plain.data(), static_cast<uInt>(plain.size()));
    for (int shift = 24; shift >= 0; shift -= 8) s.push_back(static_cast<std::uint8_t>(sum >> shift));
    return s;
}

// What zlib's raw inflate makes of `deflate` within one frame, as far as it gets.
Bytes zlib_raw(std::span<const std::uint8_t> deflate) {
    Bytes out(qivpak::FRAME_SIZE);
    z_stream z{};
    check(inflateInit2(&z, -15) == Z_OK, "zlib's raw inflate starts");
    z.next_in = const_cast<Bytef*>(deflate.data());
    z.avail_in = static_cast<uInt>(deflate.size());
    z.next_out = out.data();
    z.avail_out = static_cast<uInt>(out.size());
    ::inflate(&z, Z_FINISH);
    out.resize(z.total_out);
    inflateEnd(&z);
    return out;
}

// What libdeflate's raw decompressor makes of `deflate` within one frame (nothing when it refuses).
Bytes libdeflate_raw(std::span<const std::uint8_t> deflate) {
    static libdeflate_decompressor* const d = libdeflate_alloc_decompressor();
    Bytes out(qivpak::FRAME_SIZE);
    std::size_t consumed = 0, produced = 0;
    if (libdeflate_deflate_decompress_ex(d, deflate.data(), deflate.size(), out.data(), out.size(), &consumed,
                                         &produced) != LIBDEFLATE_SUCCESS)
        produced = 0;
    out.resize(produced);
    return out;
}

// `which`: the three kinds of stream, in the order LLVMFuzzerTestOneInput makes them.
void compare(std::span<const std::uint8_t> stream, int which) {
    static const char* const kAgree[] = {"the inflaters agree on the input as a zlib stream",
                                         "the inflaters agree on raw deflate with zlib's checksum",
                                         "the inflaters agree on raw deflate with libdeflate's checksum"};
    static qivpak::ZlibFrameInflater zlib;
    static qivpak::LibdeflateFrameInflater libdeflate;
    std::array<std::uint8_t, qivpak::FRAME_SIZE> a{}, b{};
    std::size_t a_len = 0, b_len = 0;
    const bool a_ok = zlib.inflate(stream, a, a_len) == 0;
    const bool b_ok = libdeflate.inflate(stream, b, b_len) == 0;
    check(a_ok == b_ok && (!a_ok || (a_len == b_len && std::memcmp(a.data(), b.data(), a_len) == 0)), kAgree[which]);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::span<const std::uint8_t> input(data, size);
    compare(input, 0);
    compare(wrapped(input, zlib_raw(input)), 1);
    compare(wrapped(input, libdeflate_raw(input)), 2);
    return 0;
}
