// nc_area_table.hpp - NC areas: runs of frames stored raw, and the membership test
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <span>
#include <string>

namespace qivpak {

inline constexpr int MAX_NC_AREAS = 192;
inline constexpr std::size_t NC_TABLE_SIZE = MAX_NC_AREAS * 8;  // stored form: 1536 bytes

// Frames frame_start .. frame_start + num_frames - 1; num_frames 0 covers nothing.
struct NcArea {
    std::uint32_t frame_start = 0;
    std::uint32_t num_frames = 0;
    friend bool operator==(const NcArea&, const NcArea&) = default;
};

// A movie or audio file of a disc image, whose frames become a media area.
struct MediaFile {
    std::string name;         // File Identifier as stored, version suffix included
    std::uint64_t offset = 0; // byte offset of its data in the image
    std::uint32_t size = 0;   // its Data Length in bytes
};

// The table never records how many entries are in use: every user carries
// that count itself (media areas first, then the analysis's areas).
using NcAreaTable = std::array<NcArea, MAX_NC_AREAS>;

// 1 when `frame` lies in one of entries 0 .. count-1, else 0. A count of 0 or
// less matches nothing; a count above 192 looks at the 192 entries only. The
// end is tested through frame - start, so an area reaching past 2^32-1 never
// wraps round to low frame numbers.
int in_nc_area(const NcAreaTable& table, std::uint32_t frame, std::int32_t count);

// All 192 entries, each u32 frame_start then u32 num_frames, little-endian.
std::array<std::uint8_t, NC_TABLE_SIZE> encode_nc_table(const NcAreaTable& table);
NcAreaTable decode_nc_table(std::span<const std::uint8_t, NC_TABLE_SIZE> bytes);

}  // namespace qivpak
