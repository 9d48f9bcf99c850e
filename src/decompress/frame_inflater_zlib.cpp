// frame_inflater_zlib.cpp - the frame inflater on zlib's inflate, one stream reset for every frame
#include "decompress/frame_inflater.hpp"

#include <zlib.h>

namespace qivpak {

struct ZlibFrameInflater::Stream {
    z_stream z{};
};

ZlibFrameInflater::ZlibFrameInflater() : stream_(std::make_unique<Stream>()) {
    init_result_ = inflateInit(&stream_->z);
}

ZlibFrameInflater::~ZlibFrameInflater() {
    if (init_result_ == Z_OK) inflateEnd(&stream_->z);
}

int ZlibFrameInflater::inflate(std::span<const std::uint8_t> stored, std::span<std::uint8_t> out,
                               std::size_t& out_len, std::size_t* in_len) {
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
        if (in_len != nullptr) *in_len = z.total_in;
        return Z_OK;
    }
    if (rc == Z_OK || rc == Z_NEED_DICT) return Z_DATA_ERROR;
    return rc;
}

}  // namespace qivpak
