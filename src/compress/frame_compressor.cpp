// frame_compressor.cpp - the zero-frame shortcut in front of the per-worker deflaters
#include "compress/frame_compressor.hpp"

#include <algorithm>
#include <cstring>
#include <zlib.h>

namespace qivpak {

namespace {

bool all_zero(std::span<const std::uint8_t> bytes) {
    static const std::array<std::uint8_t, 256> zeros{};
    for (std::size_t at = 0; at < bytes.size(); at += zeros.size()) {
        const std::size_t len = std::min(zeros.size(), bytes.size() - at);
        if (std::memcmp(bytes.data() + at, zeros.data(), len) != 0) return false;
    }
    return true;
}

}  // namespace

FrameCompressor::FrameCompressor(int level, unsigned workers) {
    for (unsigned w = 0; w < std::max(workers, 1u); ++w) deflaters_.push_back(std::make_unique<FrameDeflater>(level));
    const std::vector<std::uint8_t> zeros(FRAME_SIZE, 0);
    std::vector<std::uint8_t> packed(COMP_BUF_SIZE);
    std::size_t len = 0;
    if (deflaters_[0]->compress(zeros, packed, len) == Z_OK) zero_frame_.assign(packed.begin(), packed.begin() + len);
}

int FrameCompressor::compress(std::span<const std::uint8_t> plain, std::span<std::uint8_t> out,
                              std::size_t& out_len, unsigned w) {
    if (!zero_frame_.empty() && plain.size() == FRAME_SIZE && out.size() >= zero_frame_.size() &&
        all_zero(plain)) {
        std::copy(zero_frame_.begin(), zero_frame_.end(), out.begin());
        out_len = zero_frame_.size();
        return Z_OK;
    }
    return deflaters_[w]->compress(plain, out, out_len);
}

}  // namespace qivpak
