// reporter.hpp - what a running pack or unpack tells its caller, and how the caller stops it
#pragma once

#include "format/nc_area_table.hpp"

#include <qivpak/pack.hpp>

#include <cstdint>
#include <span>
#include <string>

namespace qivpak {

// A movie or audio file that the media scan found.
struct MediaFile {
    std::string name;         // File Identifier as stored, version suffix included
    std::uint64_t offset = 0; // byte offset of its data in the image
    std::uint32_t size = 0;   // its Data Length in bytes
};

// The engine's only way to talk to its caller. Events arrive in the order in
// which the run does its work, from the one thread that writes the results in
// frame order, so a caller can render them without locking. Every method but
// should_stop has an empty default.
//
// A pack reports: [media_scan: stage_started, media_file_found..., areas_decided]
// [analysis: stage_started, frame_done..., stage_finished, areas_decided]
// packing: container_sized, stage_started, frame_done..., stage_finished.
// An unpack reports: container_sized, stage_started(unpacking), frame_done...,
// stage_finished.
class Reporter {
public:
    virtual ~Reporter() = default;

    // The frame count of the container being written or read is known.
    virtual void container_sized(std::uint32_t /*frames*/) {}
    // A stage begins; `frames` frame_done events follow (0 for the media scan).
    virtual void stage_started(Stage /*stage*/, std::uint32_t /*frames*/) {}
    // Frame `frame` is finished: stored in `stored_length` bytes (packing), or
    // compressed on trial to that many (analysis), or restored (unpacking).
    // `raw`: the frame is in an NC area (for the analysis: a media area, not tried).
    virtual void frame_done(std::uint32_t /*frame*/, std::uint32_t /*stored_length*/, bool /*raw*/) {}
    // Every frame of the stage is done.
    virtual void stage_finished(Stage /*stage*/) {}
    virtual void media_file_found(const MediaFile& /*file*/) {}
    // The NC areas are settled: after the media scan the media areas, after
    // the analysis every area the container will have, in table order.
    virtual void areas_decided(Stage /*stage*/, std::span<const NcArea> /*areas*/) {}
    // Asked before every frame is written; true ends the run with Cancelled.
    virtual bool should_stop() { return false; }
};

// Thrown when should_stop() said so.
struct Cancelled {};

// Why a run failed. The caller words it (it knows the file names).
enum class Fault {
    open_image,           // the image to pack cannot be opened
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
};

}  // namespace qivpak
