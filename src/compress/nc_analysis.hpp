// nc_analysis.hpp - finds runs of frames that do not compress, by trial compression
#pragma once

#include "compress/nc_plan.hpp"
#include "events/reporter.hpp"
#include "events/run_error.hpp"
#include "io/file.hpp"

#include <cstdint>
#include <string>

namespace qivpak {

struct AnalysisSettings {
    int level = -1;                // zlib level the compressor will use: -1 or 1..9
    std::uint32_t threshold = 8192;  // compressed size from which a frame is a candidate (1..8192)
    unsigned threads = 0;          // workers; 0: every CPU the process may run on
    std::string trial_dir;         // where to keep the streams for the compressor; empty: nowhere
};

// Compresses every whole frame of the image outside the plan's media areas
// (entries 0 .. plan.media_count-1) at the run's level; a frame whose
// compressed size reaches the threshold is a candidate. Each run of candidates
// closed by a frame below the threshold becomes an NC area after the media
// areas (a run still open at the end is dropped). When the table is full, a
// closing run replaces the shortest analysed area (lowest index among equals)
// if it is strictly longer. Sets plan.count (<= 192) and, when a temporary
// file could be made in settings.trial_dir, plan.trial.
// Reports stage_started/frame_done/stage_finished(analysis), then
// areas_decided(analysis) with every area. Throws RunError{analyze_image}
// when a frame cannot be read or compressed, or Stopped.
void analyze_nc_areas(ByteSource& image, std::uint64_t image_size, const AnalysisSettings& settings, NcPlan& plan,
                      Reporter& reporter);

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
