// nc_analysis.cpp - trial compression of every frame and the NC area run rules
#include "compress/nc_analysis.hpp"

#include "compress/frame_compressor.hpp"
#include "format/qiv_format.hpp"
#include "pipeline/ordered_pipeline.hpp"

#include <array>
#include <optional>
#include <span>
#include <string>
#include <vector>
#include <zlib.h>

namespace qivpak {

NcRunCollector::NcRunCollector(NcAreaTable& table, int media_count)
    : table_(table), media_count_(media_count), area_count_(media_count) {}

void NcRunCollector::add_frame(std::uint32_t f, bool candidate) {
    if (candidate) {
        if (run_open_) {
            ++run_length_;
        } else {
            run_open_ = true;
            run_start_ = f;
            run_length_ = 1;
        }
    } else if (run_open_) {
        close_run();
    }
}

void NcRunCollector::close_run() {
    run_open_ = false;
    const NcArea area{run_start_, run_length_};
    if (area_count_ < MAX_NC_AREAS) {
        table_[static_cast<std::size_t>(area_count_++)] = area;
        return;
    }
    // Full: the run may replace the shortest area the analysis stored; media
    // areas are never replaced.
    if (media_count_ >= MAX_NC_AREAS) return;
    auto shortest = static_cast<std::size_t>(media_count_);
    for (std::size_t i = shortest + 1; i < table_.size(); ++i)
        if (table_[i].num_frames < table_[shortest].num_frames) shortest = i;
    if (run_length_ > table_[shortest].num_frames) table_[shortest] = area;
}

namespace {

// One frame on its way through the analysis pipeline.
struct TrialJob {
    std::uint32_t index = 0;
    bool media = false;  // inside a media area: never read or compressed
    std::size_t got = 0;
    int rc = Z_OK;
    std::size_t packed_len = 0;
    std::array<std::uint8_t, FRAME_SIZE> plain;
    std::array<std::uint8_t, COMP_BUF_SIZE> packed;
};

// A place beside the output for the compressed frames, so that the
// compressor can store them without compressing again. Without one the
// compressor simply compresses every frame itself.
std::optional<TrialFrames> make_trial(const std::string& dir, std::uint32_t frames) {
    if (dir.empty()) return std::nullopt;
    std::optional<File> file = File::temporary_in(dir);
    if (!file) return std::nullopt;
    return TrialFrames{std::move(*file), std::vector<std::uint16_t>(frames, 0)};
}

}  // namespace

void analyze_nc_areas(ByteSource& image, std::uint64_t image_size, const AnalysisSettings& settings, NcPlan& plan,
                      Reporter& reporter) {
    const auto frames = static_cast<std::uint32_t>(image_size >> 13);
    const int media_count = plan.media_count;
    plan.trial = make_trial(settings.trial_dir, frames);

    reporter.stage_started(Stage::analysis, frames);
    NcRunCollector runs(plan.areas, media_count);
    OrderedPipeline<TrialJob> pipeline(worker_threads(settings.threads, frames));
    FrameCompressor compressor(settings.level, pipeline.threads());

    auto fill = [&](std::uint32_t f, TrialJob& job) {
        job.index = f;
        job.media = in_nc_area(plan.areas, f, media_count) != 0;
        return true;  // a short read is reported in its turn
    };
    auto process = [&](TrialJob& job, unsigned worker) {
        if (job.media) return;
        job.got = image.read_at(std::uint64_t{job.index} * FRAME_SIZE, job.plain.data(), FRAME_SIZE);
        if (job.got < FRAME_SIZE) return;
        job.rc = compressor.compress(job.plain, job.packed, job.packed_len, worker);
    };
    auto drain = [&](std::uint32_t f, TrialJob& job) {
        if (reporter.should_stop()) throw Stopped();
        if (job.media) {
            reporter.frame_done(f, 0, true);
            return;
        }
        if (job.got < FRAME_SIZE || job.rc != Z_OK) throw RunError{Fault::analyze_image};
        runs.add_frame(f, job.packed_len >= settings.threshold);
        if (plan.trial) {
            plan.trial->lengths[f] = static_cast<std::uint16_t>(job.packed_len);
            if (!plan.trial->file.write_all(job.packed.data(), job.packed_len)) plan.trial.reset();
        }
        reporter.frame_done(f, static_cast<std::uint32_t>(job.packed_len), false);
    };
    pipeline.run(frames, fill, process, drain);
    if (plan.trial && !plan.trial->file.flush()) plan.trial.reset();
    reporter.stage_finished(Stage::analysis);
    plan.count = runs.area_count();
    reporter.areas_decided(Stage::analysis, std::span(plan.areas.data(), static_cast<std::size_t>(plan.count)));
}

}  // namespace qivpak
