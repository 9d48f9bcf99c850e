// fuzz_inflaters.cpp - libFuzzer target: the zlib and the libdeflate frame inflaters on the same streams
// Input: any bytes, taken as a zlib stream, and as raw deflate data behind a zlib header and the Adler-32
// of what zlib, then libdeflate, inflates it to (so that streams either one accepts reach the checksum
// intact). Given a frame-sized buffer, the inflaters both refuse each stream or both give the same bytes.
#include "decompress/frame_inflater.hpp"
#include "fuzz_check.hpp"

#include <libdeflate.h>
#include <zlib.h>

#include <algorithm>
#include <span>
#include <vector>

namespace {

using Bytes = std::vector<std::uint8_t>;

Bytes wrapped(std::span<const std::uint8_t> deflate, const Bytes& plain) {  // 78 9C, deflate, Adler-32 of plain
    Bytes s = {0x78, 0x9C};
    s.insert(s.end(), deflate.begin(), deflate.end());
    const uLong sum = adler32(1, plain.data(), static_cast<uInt>(plain.size()));
    for (int shift = 24; shift >= 0; shift -= 8) s.push_back(static_cast<std::uint8_t>(sum >> shift));
    return s;
}

bool agree(std::span<const std::uint8_t> stream) {  // both refuse it, or both give the same bytes
    static qivpak::ZlibFrameInflater zlib;
    static qivpak::LibdeflateFrameInflater libdeflate;
    Bytes a(qivpak::FRAME_SIZE), b(qivpak::FRAME_SIZE);
    std::size_t a_len = 0, b_len = 0;
    const bool a_ok = zlib.inflate(stream, a, a_len) == 0, b_ok = libdeflate.inflate(stream, b, b_len) == 0;
    return a_ok == b_ok && (!a_ok || (a_len == b_len && std::equal(a.begin(), a.begin() + a_len, b.begin())));
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    check(agree({data, size}), "the inflaters agree on the input as a zlib stream");
    // The input as raw deflate data: what zlib's inflate makes of it within a frame, as far as it gets,
    // and what libdeflate's makes of it (nothing when it refuses).
    static libdeflate_decompressor* const d = libdeflate_alloc_decompressor();
    Bytes by_zlib(qivpak::FRAME_SIZE), by_libdeflate(qivpak::FRAME_SIZE);
    z_stream z{};
    check(inflateInit2(&z, -15) == Z_OK, "zlib's raw inflate starts");
    z.next_in = const_cast<Bytef*>(data), z.avail_in = static_cast<uInt>(size);
    z.next_out = by_zlib.data(), z.avail_out = static_cast<uInt>(by_zlib.size());
    inflate(&z, Z_FINISH);
    by_zlib.resize(z.total_out);
    inflateEnd(&z);
    std::size_t out = 0;
    const bool ok = libdeflate_deflate_decompress_ex(d, data, size, by_libdeflate.data(), by_libdeflate.size(),
                                                     nullptr, &out) == LIBDEFLATE_SUCCESS;
    by_libdeflate.resize(ok ? out : 0);
    check(agree(wrapped({data, size}, by_zlib)), "the inflaters agree on raw deflate with zlib's checksum");
    check(agree(wrapped({data, size}, by_libdeflate)), "the inflaters agree on raw deflate with libdeflate's checksum");
    return 0;
}
