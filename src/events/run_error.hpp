// run_error.hpp - why a pack or unpack failed, as the drivers throw it
#pragma once

#include <qivpak/reader.hpp>

#include <cstdint>
#include <optional>

namespace qivpak {

// The drivers know what failed, not which files the run names: the engine
// words the failure (events/messages.hpp) with the file names.
enum class Fault {
    open_image,           // the image to pack cannot be opened, or its size cannot be told
    image_not_a_file,     // the image to pack is no regular file or block device (a pipe, a folder, /dev/zero)
    image_too_large,      // the image to pack is larger than the format can describe
    read_image,           // the image to pack delivers fewer bytes than its size
    analyze_image,        // a frame could not be read or compressed during the analysis
    create_container,     // the container cannot be created
    write_container,      // a write, seek, flush or close of the container failed
    compress_buffer,      // zlib ran out of room for a frame
    compress_failed,      // zlib failed otherwise
    container_too_large,  // a frame would start past the 32-bit offsets
    output_is_input,      // the container to write is the image to pack
    open_container,       // the container to unpack cannot be opened
    create_image,         // the image to restore cannot be created
    damaged_container,    // see RunError::container
    write_image,          // a write or close of the restored image failed
    image_is_container,   // the image to restore is the container to unpack
};

struct RunError {
    Fault fault;
    ContainerFault container = ContainerFault::not_qiv;  // for damaged_container
    std::optional<std::uint32_t> frame = std::nullopt;   // for damaged_container: the frame refused, if one is
};

}  // namespace qivpak
