// container_index.cpp - header and table checks, and frame restoration, for every reader of containers
#include "format/container_index.hpp"

#include <algorithm>
#include <zlib.h>

namespace qivpak {

const char* fault_message(ContainerFault fault) {
    switch (fault) {
    case ContainerFault::cannot_open: return "Cannot open input file\n";
    case ContainerFault::not_qiv: return "Input is not a valid QIV file.\n";
    case ContainerFault::version_above: return "The version of the file is greater than supported.\n";
    case ContainerFault::corrupted_index: return "Corrupted input file.\n";
    case ContainerFault::frame_cut: return "Input seems to be corrupted.\n";
    case ContainerFault::bad_stream: return "Error while decompressing (corrupt input?)\n";
    }
    return "Corrupted input file.\n";
}

std::optional<ContainerFault> read_header(File& file, ContainerIndex& index) {
    std::array<std::uint8_t, HEADER_SIZE> head{};
    const std::size_t got = file.read_full(head.data(), head.size());
    switch (decode_header(std::span<const std::uint8_t>(head.data(), got), index.header)) {
    case HeaderCheck::not_qiv: return ContainerFault::not_qiv;
    case HeaderCheck::version_above: return ContainerFault::version_above;
    case HeaderCheck::ok: break;
    }
    index.frames = frame_count(index.header.total_size);
    return std::nullopt;
}

std::optional<ContainerFault> read_tables(File& file, ContainerIndex& index) {
    const std::uint32_t n = index.frames;
    index.offsets.assign(n, 0);
    index.lengths.assign(n, 0);
    std::vector<std::uint8_t> bytes(4ull * n);
    if (file.read_full(bytes.data(), bytes.size()) != bytes.size()) return ContainerFault::corrupted_index;
    decode_offsets(bytes, index.offsets);
    bytes.resize(2ull * n);
    if (file.read_full(bytes.data(), bytes.size()) != bytes.size()) return ContainerFault::corrupted_index;
    decode_lengths(bytes, index.lengths);
    if (index.header.nc_count != 0) {
        std::array<std::uint8_t, NC_TABLE_SIZE> table{};
        if (file.read_full(table.data(), table.size()) != table.size()) return ContainerFault::corrupted_index;
        index.nc_areas = decode_nc_table(table);
    }
    // Nothing the writer makes holds more than 192 areas or a frame longer
    // than the largest compressed frame: anything else is damage.
    const bool lengths_ok = std::all_of(index.lengths.begin(), index.lengths.end(),
                                        [](std::uint16_t len) { return len <= COMP_BUF_SIZE; });
    if (index.header.nc_count > MAX_NC_AREAS || !lengths_ok) return ContainerFault::corrupted_index;
    return std::nullopt;
}

struct FrameInflater::Stream {
    z_stream z{};
};

FrameInflater::FrameInflater() : stream_(std::make_unique<Stream>()) { init_result_ = inflateInit(&stream_->z); }

FrameInflater::~FrameInflater() {
    if (init_result_ == Z_OK) inflateEnd(&stream_->z);
}

int FrameInflater::inflate(std::span<const std::uint8_t> stored, std::span<std::uint8_t> out,
                           std::size_t& out_len) {
    if (init_result_ != Z_OK) return init_result_;
    z_stream& z = stream_->z;
    int rc = inflateReset(&z);
    if (rc != Z_OK) return rc;
    z.next_in = const_cast<Bytef*>(stored.data());
    z.avail_in = static_cast<uInt>(stored.size());
    z.next_out = out.data();
    z.avail_out = static_cast<uInt>(out.size());
    rc = ::inflate(&z, Z_FINISH);
    if (rc == Z_STREAM_END) {
        out_len = z.total_out;
        return Z_OK;
    }
    if (rc == Z_OK || rc == Z_NEED_DICT) return Z_DATA_ERROR;
    return rc;
}

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
    if (inflater.inflate(stored, plain, inflated) != Z_OK || inflated != plain_len)
        return {nullptr, ContainerFault::bad_stream};
    return {plain.data(), std::nullopt};
}

}  // namespace qivpak
