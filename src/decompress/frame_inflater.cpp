// frame_inflater.cpp - the checks that restore one frame from its stored bytes
#include "decompress/frame_inflater.hpp"

#include <algorithm>

namespace qivpak {

RestoredFrame restore_frame(const ContainerIndex& index, std::uint32_t i, std::span<const std::uint8_t> stored,
                            FrameInflater& inflater, std::span<std::uint8_t, FRAME_SIZE> plain, bool exact) {
    const std::uint32_t plain_len = index.plain_length(i);
    if (index.is_raw(i)) {
        // A raw frame is its plain bytes; bytes stored past them are not part of the image.
        if (stored.size() < plain_len) return {nullptr, ContainerFault::frame_cut};
        return {stored.data(), std::nullopt};
    }
    if (stored.size() != index.lengths[i]) return {nullptr, ContainerFault::frame_cut};
    std::size_t inflated = 0;
    std::size_t taken = 0;
    if (inflater.inflate(stored, plain, inflated, &taken) != 0 || inflated != plain_len ||
        (exact && taken != stored.size()))
        return {nullptr, ContainerFault::bad_stream};
    return {plain.data(), std::nullopt};
}

void read_stored_frames(ByteSource& container, const ContainerIndex& index, std::uint32_t first,
                        std::uint8_t* buffer, std::span<std::span<const std::uint8_t>> stored) {
    const std::size_t count = stored.size();
    if (count == 0) return;
    const std::uint64_t start = index.offsets[first];
    std::uint64_t end = start;  // where the next frame starts when they lie back to back
    bool back_to_back = true;
    for (std::size_t k = 0; k < count && back_to_back; ++k) {
        back_to_back = index.offsets[first + k] == end;
        end += index.lengths[first + k];
    }
    if (!back_to_back) {
        for (std::size_t k = 0; k < count; ++k) {
            std::uint8_t* at = buffer + k * COMP_BUF_SIZE;
            const std::size_t got = container.read_at(index.offsets[first + k], at, index.lengths[first + k]);
            stored[k] = std::span<const std::uint8_t>(at, got);
        }
        return;
    }
    const std::size_t got = container.read_at(start, buffer, static_cast<std::size_t>(end - start));
    std::size_t at = 0;
    for (std::size_t k = 0; k < count; ++k) {
        const std::size_t len = index.lengths[first + k];
        const std::size_t have = got > at ? std::min(len, got - at) : 0;
        stored[k] = std::span<const std::uint8_t>(buffer + at, have);
        at += len;
    }
}

}  // namespace qivpak
