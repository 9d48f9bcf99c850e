// nc_plan.hpp - the NC areas a pack will store raw, handed from the scans to the compressor
#pragma once

#include "format/nc_area_table.hpp"
#include "io/file.hpp"

#include <cstdint>
#include <optional>
#include <vector>

namespace qivpak {

// The streams the analysis made, kept so that no frame is compressed twice:
// for each whole frame f outside the media areas, in frame order, lengths[f]
// bytes back to back in `file` (an unnamed temporary file). lengths has an
// entry for every whole frame; those of media frames are 0.
struct TrialFrames {
    File file;
    std::vector<std::uint16_t> lengths;
};

// Which frames are stored raw: entries 0 .. count-1 of `areas`, the media
// areas first (0 .. media_count-1), then the analysis's areas.
struct NcPlan {
    NcAreaTable areas{};
    int media_count = 0;
    int count = 0;
    std::optional<TrialFrames> trial;  // the analysis's streams at the run's level, when kept
};

}  // namespace qivpak
