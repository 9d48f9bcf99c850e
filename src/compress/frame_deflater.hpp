// frame_deflater.hpp - compresses one frame at a time into a zlib stream
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <span>

namespace qivpak {

// One deflate stream kept for the deflater's life and reset before every
// frame. The bytes it makes are exactly those of zlib's compress2 at the same
// level, without compress2's set-up and tear-down for every frame.
// Not safe for concurrent use; give every thread its own.
class FrameDeflater {
public:
    explicit FrameDeflater(int level);  // -1 (zlib's default) or 1..9; throws std::bad_alloc
    ~FrameDeflater();
    FrameDeflater(const FrameDeflater&) = delete;
    FrameDeflater& operator=(const FrameDeflater&) = delete;

    // Compresses `plain` into `out`. Returns 0 and sets out_len on success,
    // Z_BUF_ERROR (-5) when `out` is too small, or another zlib error code.
    int compress(std::span<const std::uint8_t> plain, std::span<std::uint8_t> out, std::size_t& out_len);

private:
    struct Stream;
    std::unique_ptr<Stream> stream_;
    int init_result_;  // deflateInit's result; a failed set-up fails every frame
};

}  // namespace qivpak
