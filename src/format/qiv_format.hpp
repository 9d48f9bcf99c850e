// qiv_format.hpp - the QIV container layout: header, index tables, frame arithmetic
//
// Layout (all integers little-endian): a 32-byte header, an offset table of
// n u32, a length table of n u16, the 1536-byte NC area table when the header's
// nc_count is not 0, then the stored frames back to back. docs/format.md has
// the whole description.
#pragma once

#include <qivpak/reader.hpp>

#include <array>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>
#include <vector>

namespace qivpak {

inline constexpr std::uint32_t COMP_BUF_SIZE = 9216;  // largest stored length of one frame
inline constexpr std::size_t HEADER_SIZE = 32;
inline constexpr std::uint64_t MAX_IMAGE_SIZE = 0xFFFFFFFFull;  // total_size is a u32
inline constexpr std::uint64_t MAX_FRAME_OFFSET = 0xFFFFFFFFull;  // offsets are u32
inline constexpr std::array<std::uint8_t, 4> QIV_MAGIC = {'Q', 'I', 'V', 0};

struct QivHeader {
    std::uint32_t total_size = 0;  // bytes of the plain image
    std::uint32_t version = 0;     // 1 when the container has NC areas, else 0
    std::uint32_t nc_count = 0;    // NC areas in use; the NC area table exists when not 0
};

// The 32 stored bytes: magic, the three fields, 16 zero bytes.
std::array<std::uint8_t, HEADER_SIZE> encode_header(const QivHeader& header);
// Parses up to 32 bytes. Refuses fewer than 32 bytes or another magic (not_qiv)
// and a version above 1 (version_above). Reserved bytes are ignored.
std::optional<ContainerFault> decode_header(std::span<const std::uint8_t> bytes, QivHeader& header);

// Number of frames of an image of total_size bytes: total_size / 8192 rounded up.
constexpr std::uint32_t frame_count(std::uint32_t total_size) {
    return (total_size >> 13) + ((total_size & (FRAME_SIZE - 1)) != 0 ? 1u : 0u);
}

// Plain length of frame i (i < frame_count(total_size)): 8192, or what is left for the last frame.
constexpr std::uint32_t frame_plain_length(std::uint32_t total_size, std::uint32_t i) {
    std::uint64_t start = std::uint64_t{i} * FRAME_SIZE;
    std::uint64_t left = total_size > start ? total_size - start : 0;
    return static_cast<std::uint32_t>(left < FRAME_SIZE ? left : FRAME_SIZE);
}

// Byte offset of the first stored frame: header, both tables and the optional NC area table.
std::uint64_t data_start(std::uint32_t frames, bool has_nc_table);

// The offset and length tables in stored form: 4n bytes then 2n bytes.
std::vector<std::uint8_t> encode_index(std::span<const std::uint32_t> offsets,
                                       std::span<const std::uint16_t> lengths);
void decode_offsets(std::span<const std::uint8_t> bytes, std::span<std::uint32_t> offsets);
void decode_lengths(std::span<const std::uint8_t> bytes, std::span<std::uint16_t> lengths);

// Little-endian field access, shared by every reader and writer of stored bytes.
constexpr std::uint32_t load_le32(const std::uint8_t* p) {
    return std::uint32_t{p[0]} | std::uint32_t{p[1]} << 8 | std::uint32_t{p[2]} << 16 |
           std::uint32_t{p[3]} << 24;
}
constexpr std::uint16_t load_le16(const std::uint8_t* p) {
    return static_cast<std::uint16_t>(p[0] | p[1] << 8);
}
constexpr void store_le32(std::uint8_t* p, std::uint32_t v) {
    p[0] = static_cast<std::uint8_t>(v);
    p[1] = static_cast<std::uint8_t>(v >> 8);
    p[2] = static_cast<std::uint8_t>(v >> 16);
    p[3] = static_cast<std::uint8_t>(v >> 24);
}
constexpr void store_le16(std::uint8_t* p, std::uint16_t v) {
    p[0] = static_cast<std::uint8_t>(v);
    p[1] = static_cast<std::uint8_t>(v >> 8);
}

}  // namespace qivpak
