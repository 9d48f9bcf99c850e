// frame_codec.cpp - the zero-frame shortcut and the reusable inflate stream
#include "compress/frame_codec.hpp"

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

struct FrameInflater::Stream {
    z_stream z{};
};

FrameInflater::FrameInflater() : stream_(std::make_unique<Stream>()) { init_result_ = inflateInit(&stream_->z); }

FrameInflater::~FrameInflater() {
    if (init_result_ == Z_OK) inflateEnd(&stream_->z);
}

int FrameInflater::inflate(std::span<const std::uint8_t> stored, std::span<std::uint8_t> out,
                           std::size_t& out_len) {
    if (init_result_ != Z_OK) return init_result_;
    z_stream& z = stream_->z;
    int rc = inflateReset(&z);
    if (rc != Z_OK) return rc;
    z.next_in = const_cast<Bytef*>(stored.data());
    z.avail_in = static_cast<uInt>(stored.size());
    z.next_out = out.data();
    z.avail_out = static_cast<uInt>(out.size());
    rc = ::inflate(&z, Z_FINISH);
    if (rc == Z_STREAM_END) {
        out_len = z.total_out;
        return Z_OK;
    }
    if (rc == Z_OK || rc == Z_NEED_DICT) return Z_DATA_ERROR;
    return rc;
}

}  // namespace qivpak
