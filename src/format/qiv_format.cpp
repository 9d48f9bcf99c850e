// qiv_format.cpp - encoding and decoding of the container's header and index
#include "format/qiv_format.hpp"

#include "format/nc_area_table.hpp"

#include <algorithm>

namespace qivpak {

std::array<std::uint8_t, HEADER_SIZE> encode_header(const QivHeader& header) {
    std::array<std::uint8_t, HEADER_SIZE> bytes{};
    std::copy(QIV_MAGIC.begin(), QIV_MAGIC.end(), bytes.begin());
    store_le32(&bytes[4], header.total_size);
    store_le32(&bytes[8], header.version);
    store_le32(&bytes[12], header.nc_count);
    return bytes;
}

std::optional<ContainerFault> decode_header(std::span<const std::uint8_t> bytes, QivHeader& header) {
    if (bytes.size() < HEADER_SIZE || !std::equal(QIV_MAGIC.begin(), QIV_MAGIC.end(), bytes.begin()))
        return ContainerFault::not_qiv;
    header.total_size = load_le32(&bytes[4]);
    header.version = load_le32(&bytes[8]);
    header.nc_count = load_le32(&bytes[12]);
    if (header.version > 1) return ContainerFault::version_above;
    return std::nullopt;
}

std::uint64_t data_start(std::uint32_t frames, bool has_nc_table) {
    return HEADER_SIZE + 6ull * frames + (has_nc_table ? NC_TABLE_SIZE : 0);
}

std::vector<std::uint8_t> encode_index(std::span<const std::uint32_t> offsets,
                                       std::span<const std::uint16_t> lengths) {
    std::vector<std::uint8_t> bytes(4 * offsets.size() + 2 * lengths.size());
    std::uint8_t* p = bytes.data();
    for (std::uint32_t offset : offsets) {
        store_le32(p, offset);
        p += 4;
    }
    for (std::uint16_t length : lengths) {
        store_le16(p, length);
        p += 2;
    }
    return bytes;
}

void decode_offsets(std::span<const std::uint8_t> bytes, std::span<std::uint32_t> offsets) {
    for (std::size_t i = 0; i < offsets.size() && 4 * i + 4 <= bytes.size(); ++i)
        offsets[i] = load_le32(&bytes[4 * i]);
}

void decode_lengths(std::span<const std::uint8_t> bytes, std::span<std::uint16_t> lengths) {
    for (std::size_t i = 0; i < lengths.size() && 2 * i + 2 <= bytes.size(); ++i)
        lengths[i] = load_le16(&bytes[2 * i]);
}

}  // namespace qivpak
