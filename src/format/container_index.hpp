// container_index.hpp - loading and checking a container's header and index
//
// Shared by the unpacker and the random-access reader, so both refuse the
// same containers with the same messages.
#pragma once

#include "format/nc_area_table.hpp"
#include "format/qiv_format.hpp"
#include "io/file.hpp"

#include <qivpak/reader.hpp>

#include <cstdint>
#include <optional>
#include <vector>

namespace qivpak {

struct ContainerIndex {
    QivHeader header;
    std::uint32_t frames = 0;
    std::vector<std::uint32_t> offsets;
    std::vector<std::uint16_t> lengths;
    NcAreaTable nc_areas{};

    bool is_raw(std::uint32_t i) const {
        return in_nc_area(nc_areas, i, static_cast<std::int32_t>(header.nc_count)) != 0;
    }
    std::uint32_t plain_length(std::uint32_t i) const { return frame_plain_length(header.total_size, i); }
};

// Reads and checks the 32-byte header at the start of the container.
std::optional<ContainerFault> read_header(ByteSource& file, ContainerIndex& index);
// Reads the tables that follow the header, and the NC area table when there
// is one, and refuses an index that no writer makes (more than 192 areas, a
// stored length above 9216).
std::optional<ContainerFault> read_tables(ByteSource& file, ContainerIndex& index);

}  // namespace qivpak
