// container_index.cpp - header and table checks for every reader of containers
#include "format/container_index.hpp"

#include <algorithm>
#include <array>

namespace qivpak {

std::optional<ContainerFault> read_header(ByteSource& file, ContainerIndex& index) {
    std::array<std::uint8_t, HEADER_SIZE> head{};
    const std::size_t got = file.read_at(0, head.data(), head.size());
    if (auto fault = decode_header(std::span<const std::uint8_t>(head.data(), got), index.header)) return fault;
    index.frames = frame_count(index.header.total_size);
    return std::nullopt;
}

std::optional<ContainerFault> read_tables(ByteSource& file, ContainerIndex& index) {
    const std::uint32_t n = index.frames;
    std::uint64_t at = HEADER_SIZE;
    auto read_next = [&](void* buf, std::size_t len) {
        const bool whole = file.read_at(at, buf, len) == len;
        at += len;
        return whole;
    };
    index.offsets.assign(n, 0);
    index.lengths.assign(n, 0);
    std::vector<std::uint8_t> bytes(4ull * n);
    if (!read_next(bytes.data(), bytes.size())) return ContainerFault::corrupted_index;
    decode_offsets(bytes, index.offsets);
    bytes.resize(2ull * n);
    if (!read_next(bytes.data(), bytes.size())) return ContainerFault::corrupted_index;
    decode_lengths(bytes, index.lengths);
    if (index.header.nc_count != 0) {
        std::array<std::uint8_t, NC_TABLE_SIZE> table{};
        if (!read_next(table.data(), table.size())) return ContainerFault::corrupted_index;
        index.nc_areas = decode_nc_table(table);
    }
    // Nothing the writer makes holds more than 192 areas or a frame longer
    // than the largest compressed frame: anything else is damage.
    const bool lengths_ok = std::all_of(index.lengths.begin(), index.lengths.end(),
                                        [](std::uint16_t len) { return len <= COMP_BUF_SIZE; });
    if (index.header.nc_count > MAX_NC_AREAS || !lengths_ok) return ContainerFault::corrupted_index;
    return std::nullopt;
}

}  // namespace qivpak
