// nc_area_table.cpp - NC area membership and the table's stored form
#include "format/nc_area_table.hpp"

#include "format/qiv_format.hpp"

#include <algorithm>

namespace qivpak {

int in_nc_area(const NcAreaTable& table, std::uint32_t frame, std::int32_t count) {
    if (count <= 0) return 0;
    const std::int32_t used = std::min<std::int32_t>(count, MAX_NC_AREAS);
    for (std::int32_t i = 0; i < used; ++i) {
        const NcArea& area = table[static_cast<std::size_t>(i)];
        if (frame >= area.frame_start && frame - area.frame_start < area.num_frames) return 1;
    }
    return 0;
}

std::array<std::uint8_t, NC_TABLE_SIZE> encode_nc_table(const NcAreaTable& table) {
    std::array<std::uint8_t, NC_TABLE_SIZE> bytes{};
    for (std::size_t i = 0; i < table.size(); ++i) {
        store_le32(&bytes[8 * i], table[i].frame_start);
        store_le32(&bytes[8 * i + 4], table[i].num_frames);
    }
    return bytes;
}

NcAreaTable decode_nc_table(std::span<const std::uint8_t, NC_TABLE_SIZE> bytes) {
    NcAreaTable table{};
    for (std::size_t i = 0; i < table.size(); ++i)
        table[i] = {load_le32(&bytes[8 * i]), load_le32(&bytes[8 * i + 4])};
    return table;
}

}  // namespace qivpak
