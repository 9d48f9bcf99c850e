// frame_inflater.cpp - a reusable zlib inflate stream, and the checks that restore one frame
#include "decompress/frame_inflater.hpp"

#include <zlib.h>

namespace qivpak {

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

RestoredFrame restore_frame(const ContainerIndex& index, std::uint32_t i, std::span<const std::uint8_t> stored,
                            FrameInflater& inflater, std::span<std::uint8_t, FRAME_SIZE> plain) {
    const std::uint32_t plain_len = index.plain_length(i);
    if (index.is_raw(i)) {
        // A raw frame is its plain bytes; bytes stored past them are not part of the image.
        if (stored.size() < plain_len) return {nullptr, ContainerFault::frame_cut};
        return {stored.data(), std::nullopt};
    }
    if (stored.size() != index.lengths[i]) return {nullptr, ContainerFault::frame_cut};
    std::size_t inflated = 0;
    if (inflater.inflate(stored, plain, inflated) != Z_OK || inflated != plain_len)
        return {nullptr, ContainerFault::bad_stream};
    return {plain.data(), std::nullopt};
}

}  // namespace qivpak
