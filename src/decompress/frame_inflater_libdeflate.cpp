// frame_inflater_libdeflate.cpp - the frame inflater on libdeflate, with zlib where their verdicts could differ
//
// libdeflate is more lenient than zlib in two places: in a block with the
// fixed codes it takes the literal/length codes 286 and 287 (as length 258),
// and a block with its own codes may announce up to 288 literal/length and 32
// distance codes, where zlib refuses more than 286 and 30. Everything else
// zlib refuses, libdeflate refuses too, and what both accept they inflate to
// the same bytes. So a stream goes to libdeflate only when its first block is
// the last one and is stored, or has its own codes within zlib's counts; any
// other stream (fixed codes, several blocks, or headers zlib refuses) goes to
// zlib, which is then its own judge. The fuzz target fuzz_inflaters checks the
// two against each other.
#include "decompress/frame_inflater.hpp"

#include <libdeflate.h>

namespace qivpak {

namespace {

// Whether libdeflate's verdict on this zlib stream is zlib's: its first block
// (after the 2-byte header) is final, and stored or with its own codes within
// 286 literal/length and 30 distance codes.
bool libdeflate_judges_like_zlib(std::span<const std::uint8_t> stream) {
    if (stream.size() < 4) return false;
    const unsigned bits = stream[2] | static_cast<unsigned>(stream[3]) << 8;
    const bool final_block = (bits & 1) != 0;
    const unsigned type = (bits >> 1) & 3;     // 0 stored, 1 fixed codes, 2 own codes
    const unsigned litlen = 257 + ((bits >> 3) & 31);
    const unsigned distance = 1 + ((bits >> 8) & 31);
    return final_block && (type == 0 || (type == 2 && litlen <= 286 && distance <= 30));
}

}  // namespace

struct LibdeflateFrameInflater::Decompressor {
    explicit Decompressor(libdeflate_decompressor* decompressor) : d(decompressor) {}
    ~Decompressor() { libdeflate_free_decompressor(d); }
    Decompressor(const Decompressor&) = delete;
    Decompressor& operator=(const Decompressor&) = delete;
    libdeflate_decompressor* const d;
};

LibdeflateFrameInflater::LibdeflateFrameInflater() {
    if (libdeflate_decompressor* d = libdeflate_alloc_decompressor()) decompressor_ = std::make_unique<Decompressor>(d);
}

LibdeflateFrameInflater::~LibdeflateFrameInflater() = default;

int LibdeflateFrameInflater::inflate(std::span<const std::uint8_t> stored, std::span<std::uint8_t> out,
                                     std::size_t& out_len) {
    if (!decompressor_ || !libdeflate_judges_like_zlib(stored)) return zlib_.inflate(stored, out, out_len);
    std::size_t consumed = 0;  // asked for, so that bytes after the stream are allowed, as zlib allows them
    std::size_t produced = 0;
    const libdeflate_result rc = libdeflate_zlib_decompress_ex(decompressor_->d, stored.data(), stored.size(),
                                                               out.data(), out.size(), &consumed, &produced);
    if (rc != LIBDEFLATE_SUCCESS) return static_cast<int>(rc);
    out_len = produced;
    return 0;
}

}  // namespace qivpak
