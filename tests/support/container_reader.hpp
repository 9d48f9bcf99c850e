// container_reader.hpp - stand-alone reader of the QIV container layout, used to check what the tool writes
//
// Layout: 32-byte header ("QIV\0", u32 total_size, u32 version, u32 nc_count,
// 16 reserved bytes), n u32 frame offsets, n u16 stored lengths, a 1536-byte
// table of 192 {u32 frame_start, u32 num_frames} entries when nc_count is not 0,
// then the stored frames. n = total_size / 8192 rounded up; all little-endian.
#pragma once

#include <zlib.h>

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace qivtest {

inline constexpr std::uint32_t kFrame = 8192;
inline constexpr std::size_t kHeaderSize = 32;
inline constexpr std::size_t kAreaTableSize = 1536;
inline constexpr std::uint32_t kMaxAreas = 192;

inline std::uint32_t get_le32(const std::vector<std::uint8_t>& b, std::size_t at) {
    return static_cast<std::uint32_t>(b[at]) | static_cast<std::uint32_t>(b[at + 1]) << 8 |
           static_cast<std::uint32_t>(b[at + 2]) << 16 | static_cast<std::uint32_t>(b[at + 3]) << 24;
}

inline std::uint32_t frame_count_of(std::uint32_t total_size) {
    return (total_size >> 13) + ((total_size & (kFrame - 1)) != 0 ? 1u : 0u);
}

struct NcEntry {
    std::uint32_t start = 0;
    std::uint32_t count = 0;
};

struct Container {
    bool magic_ok = false;          // first four bytes are "QIV" and a zero byte
    bool reserved_zero = false;     // bytes 16..31 are all zero
    std::uint32_t total_size = 0;
    std::uint32_t version = 0;
    std::uint32_t nc_count = 0;
    std::vector<std::uint32_t> offsets;
    std::vector<std::uint16_t> lengths;
    std::vector<NcEntry> areas;     // all 192 entries when the table is present, else empty
    std::size_t data_start = 0;

    std::uint32_t frames() const { return frame_count_of(total_size); }
    std::uint32_t plain_length(std::uint32_t i) const {
        return i + 1 < frames() ? kFrame : total_size - kFrame * (frames() - 1);
    }
    bool is_raw(std::uint32_t i) const {
        for (std::uint32_t a = 0; a < nc_count && a < areas.size(); ++a)
            if (i >= areas[a].start && i - areas[a].start < areas[a].count) return true;
        return false;
    }
};

// Parses the header and the index; empty when the file is too short to hold them.
inline std::optional<Container> parse_container(const std::vector<std::uint8_t>& file) {
    if (file.size() < kHeaderSize) return std::nullopt;
    Container c;
    c.magic_ok = file[0] == 'Q' && file[1] == 'I' && file[2] == 'V' && file[3] == 0;
    c.total_size = get_le32(file, 4);
    c.version = get_le32(file, 8);
    c.nc_count = get_le32(file, 12);
    c.reserved_zero = true;
    for (std::size_t k = 16; k < kHeaderSize; ++k) c.reserved_zero = c.reserved_zero && file[k] == 0;
    const std::size_t n = c.frames();
    c.data_start = kHeaderSize + 6 * n + (c.nc_count != 0 ? kAreaTableSize : 0);
    if (file.size() < c.data_start) return std::nullopt;
    for (std::size_t i = 0; i < n; ++i) {
        c.offsets.push_back(get_le32(file, kHeaderSize + 4 * i));
        const std::size_t at = kHeaderSize + 4 * n + 2 * i;
        c.lengths.push_back(static_cast<std::uint16_t>(file[at] | file[at + 1] << 8));
    }
    if (c.nc_count != 0)
        for (std::size_t a = 0; a < kMaxAreas; ++a) {
            const std::size_t at = kHeaderSize + 6 * n + 8 * a;
            c.areas.push_back({get_le32(file, at), get_le32(file, at + 4)});
        }
    return c;
}

// The stored bytes of frame i; empty when they lie outside the file.
inline std::vector<std::uint8_t> stored_frame(const std::vector<std::uint8_t>& file, const Container& c,
                                              std::uint32_t i) {
    const std::size_t begin = c.offsets[i];
    const std::size_t end = begin + c.lengths[i];
    if (end > file.size()) return {};
    return std::vector<std::uint8_t>(file.begin() + static_cast<std::ptrdiff_t>(begin),
                                     file.begin() + static_cast<std::ptrdiff_t>(end));
}

// Inflates one zlib stream; empty unless it inflates without error to exactly `expected` bytes.
inline std::optional<std::vector<std::uint8_t>> inflate_exact(const std::vector<std::uint8_t>& stored,
                                                              std::uint32_t expected) {
    std::vector<std::uint8_t> plain(expected + 1u);
    uLongf got = static_cast<uLongf>(plain.size());
    if (uncompress(plain.data(), &got, stored.data(), static_cast<uLong>(stored.size())) != Z_OK || got != expected)
        return std::nullopt;
    plain.resize(expected);
    return plain;
}

}  // namespace qivtest
