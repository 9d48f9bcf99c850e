// reporter.hpp - what a running pack or unpack tells its caller, and how the caller stops it
#pragma once

#include "format/nc_area_table.hpp"

#include <qivpak/error.hpp>
#include <qivpak/progress.hpp>

#include <cstdint>
#include <span>

namespace qivpak {

// The only way a run talks to its caller. Events arrive in the order in which
// the run does its work, from the one thread that writes the results in frame
// order, so a caller can render them without locking. Every method but
// should_stop has an empty default.
//
// A pack reports: paths_checked, [media_scan: stage_started,
// media_file_found..., areas_decided] [analysis: stage_started, frame_done...,
// stage_finished, areas_decided], output_created, container_sized,
// packing: stage_started, frame_done..., stage_finished, index_written,
// [image_grew].
// An unpack reports: paths_checked, output_created, container_sized,
// unpacking: stage_started, frame_done..., stage_finished.
// A run that fails stops reporting where it fails.
class Reporter {
public:
    virtual ~Reporter() = default;

    // The output is known not to be the input; nothing is open yet.
    virtual void paths_checked() {}
    // The output exists now (created or emptied): from here on a stopped run
    // leaves a partial output behind for its caller to remove.
    virtual void output_created() {}
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
    // The index of the container's `frames` frames is written over its
    // placeholders; what is left is closing the container.
    virtual void index_written(std::uint32_t /*frames*/) {}
    // The image was larger when the container was closed than when it was
    // opened: only its first `packed` bytes are in the container.
    virtual void image_grew(std::uint64_t /*packed*/, std::uint64_t /*now*/) {}
    // Asked before every frame is written, and once more when the output is
    // closed; true ends the run with Stopped.
    virtual bool should_stop() { return false; }
};

}  // namespace qivpak
