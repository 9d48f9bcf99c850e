// nc_analysis.hpp - finds runs of frames that do not compress, by trial compression
#pragma once

#include "cli/run_context.hpp"

#include <cstdint>
#include <optional>
#include <string>

namespace qivpak {

// Compresses every whole frame of `input` outside the first `media_count`
// areas of ctx.nc_areas at `level`; a frame whose compressed size reaches
// `threshold` is a candidate. Each run of candidates closed by a frame below
// the threshold becomes an NC area after the media areas (a run still open
// at the end is dropped). When the table is full, a closing run replaces the
// shortest analysed area (lowest index among equals) if it is strictly longer.
// Creates the info file with the list of all areas when `info` is named.
// Returns the number of table entries in use, media areas included (<= 192).
int analyze_nc_areas(RunContext& ctx, const std::string& input, const std::optional<std::string>& info,
                     int level, int media_count, std::uint32_t threshold);

// The run bookkeeping of the analysis, apart from any file, so it can be
// driven frame by frame: entries media_count.. of `table` receive the areas.
class NcRunCollector {
public:
    NcRunCollector(NcAreaTable& table, int media_count);

    // Frame f was analysed: candidate when its compressed size reached the threshold.
    void add_frame(std::uint32_t f, bool candidate);
    // Entries in use: media areas plus the areas kept so far.
    int area_count() const { return area_count_; }

private:
    void close_run();

    NcAreaTable& table_;
    int media_count_;
    int area_count_;           // also the next free entry while below MAX_NC_AREAS
    bool run_open_ = false;
    std::uint32_t run_start_ = 0;
    std::uint32_t run_length_ = 0;  // candidate frames analysed in the run
};

}  // namespace qivpak
