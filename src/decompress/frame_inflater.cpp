// frame_inflater.cpp - the checks that restore one frame from its stored bytes
#include "decompress/frame_inflater.hpp"

namespace qivpak {

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
    if (inflater.inflate(stored, plain, inflated) != 0 || inflated != plain_len)
        return {nullptr, ContainerFault::bad_stream};
    return {plain.data(), std::nullopt};
}

}  // namespace qivpak
