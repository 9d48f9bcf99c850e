// frame_compressor.hpp - per-worker compression of single frames
#pragma once

#include "compress/frame_deflater.hpp"
#include "format/qiv_format.hpp"

#include <array>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <span>
#include <vector>

namespace qivpak {

// Frames of zero bytes (disc padding) are common and always compress to the
// same stream: it is made once per run and copied. Everything else goes to
// the worker's own deflater.
class FrameCompressor {
public:
    FrameCompressor(int level, unsigned workers);

    // Compresses `plain` with worker w's deflater: the result is that of
    // compress2 at the run's level. Returns 0 or a zlib error code.
    int compress(std::span<const std::uint8_t> plain, std::span<std::uint8_t> out, std::size_t& out_len,
                 unsigned w);

private:
    std::vector<std::unique_ptr<FrameDeflater>> deflaters_;
    std::vector<std::uint8_t> zero_frame_;  // the stream of 8192 zero bytes; empty when it failed
};

}  // namespace qivpak
