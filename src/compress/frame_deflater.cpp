// frame_deflater.cpp - a reusable deflate stream that matches compress2 byte for byte
#include "compress/frame_deflater.hpp"

#include <zlib.h>

namespace qivpak {

struct FrameDeflater::Stream {
    z_stream z{};
};

FrameDeflater::FrameDeflater(int level) : stream_(std::make_unique<Stream>()) {
    init_result_ = deflateInit(&stream_->z, level);
}

FrameDeflater::~FrameDeflater() {
    if (init_result_ == Z_OK) deflateEnd(&stream_->z);
}

int FrameDeflater::compress(std::span<const std::uint8_t> plain, std::span<std::uint8_t> out,
                            std::size_t& out_len) {
    if (init_result_ != Z_OK) return init_result_;
    z_stream& z = stream_->z;
    int rc = deflateReset(&z);
    if (rc != Z_OK) return rc;
    z.next_in = const_cast<Bytef*>(plain.data());
    z.avail_in = static_cast<uInt>(plain.size());
    z.next_out = out.data();
    z.avail_out = static_cast<uInt>(out.size());
    rc = deflate(&z, Z_FINISH);
    if (rc == Z_STREAM_END) {
        out_len = z.total_out;
        return Z_OK;
    }
    // Out of room: deflate could not finish the stream in the space given.
    if (rc == Z_OK || rc == Z_BUF_ERROR) return Z_BUF_ERROR;
    return rc;
}

}  // namespace qivpak
