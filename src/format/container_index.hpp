// container_index.hpp - loading and checking a container's index, and restoring one frame
//
// Shared by the unpacker and the random-access reader, so both refuse the
// same containers with the same messages.
#pragma once

#include "format/nc_area_table.hpp"
#include "format/qiv_format.hpp"
#include "format/qivpak/reader.hpp"
#include "io/file.hpp"

#include <array>
#include <cstdint>
#include <memory>
#include <optional>
#include <span>
#include <vector>

namespace qivpak {

// The unpacker's message for each refusal, newline included.
const char* fault_message(ContainerFault fault);

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

// Reads and checks the 32-byte header from the file's current position.
std::optional<ContainerFault> read_header(File& file, ContainerIndex& index);
// Reads the tables that follow the header, and the NC area table when there
// is one, and refuses an index that no writer makes (more than 192 areas, a
// stored length above 9216).
std::optional<ContainerFault> read_tables(File& file, ContainerIndex& index);

// One zlib inflate stream, reset for every frame; succeeds exactly when
// zlib's uncompress into a buffer of FRAME_SIZE bytes would.
// Not safe for concurrent use; give every thread its own.
class FrameInflater {
public:
    FrameInflater();
    ~FrameInflater();
    FrameInflater(const FrameInflater&) = delete;
    FrameInflater& operator=(const FrameInflater&) = delete;

    // Inflates one zlib stream (bytes after its end are ignored) into `out`.
    // Returns 0 and sets out_len, or a zlib error code (also when it would not fit).
    int inflate(std::span<const std::uint8_t> stored, std::span<std::uint8_t> out, std::size_t& out_len);

private:
    struct Stream;
    std::unique_ptr<Stream> stream_;
    int init_result_;
};

// Turns frame i's stored bytes (`stored`: what could be read, at most its
// stored length) into its plain bytes. Returns where they are (in `stored`
// for a raw frame, in `plain` otherwise; exactly plain_length(i) bytes), or
// the fault that refuses the frame.
struct RestoredFrame {
    const std::uint8_t* bytes = nullptr;
    std::optional<ContainerFault> fault;
};
RestoredFrame restore_frame(const ContainerIndex& index, std::uint32_t i, std::span<const std::uint8_t> stored,
                            FrameInflater& inflater, std::span<std::uint8_t, FRAME_SIZE> plain);

}  // namespace qivpak
