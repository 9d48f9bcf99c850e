// progress.hpp - what a running pack or unpack tells the program that asked for it
#pragma once

#include <cstdint>

namespace qivpak {

// What a run is doing: the media file scan (-v, -s), the trial-compression
// analysis (-a), writing the container, or restoring the image.
enum class Stage { media_scan, analysis, packing, unpacking };

// `done` of `total` frames of `stage` are finished (for media_scan both are 0).
struct Progress {
    Stage stage;
    std::uint64_t done;
    std::uint64_t total;
};

}  // namespace qivpak
