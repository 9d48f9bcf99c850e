// nc_analysis.cpp - trial compression of every frame and the NC area run rules
#include "compress/nc_analysis.hpp"

#include "cli/interrupt.hpp"
#include "cli/progress_line.hpp"
#include "compress/frame_compressor.hpp"
#include "format/qiv_format.hpp"
#include "pipeline/ordered_pipeline.hpp"

#include <array>

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
std::optional<TrialFrames> make_trial(RunContext& ctx, std::uint64_t image_size, int media_count, int level) {
    if (ctx.trial_dir.empty()) return std::nullopt;
    std::optional<File> file = File::temporary_in(ctx.trial_dir);
    if (!file) return std::nullopt;
    return TrialFrames{std::move(*file), image_size, media_count, level};
}

}  // namespace

int analyze_nc_areas(RunContext& ctx, const std::string& input, const std::optional<std::string>& info,
                     int level, int media_count, std::uint32_t threshold) {
    const std::uint64_t image_size = open_input_image(ctx, input);
    if (info) {
        ctx.info_file = File::open(*info, File::Mode::truncate);
        if (!ctx.info_file) ctx.console.print("Warning: cannot create info file %s\n", info->c_str());
    }
    const auto frames = static_cast<std::uint32_t>(image_size >> 13);
    ctx.trial = make_trial(ctx, image_size, media_count, level);
    if (ctx.trial) ctx.length_table.assign(frame_count(static_cast<std::uint32_t>(image_size)), 0);

    ProgressLine progress(ctx.console, "Analyzing file...\n");
    NcRunCollector runs(ctx.nc_areas, media_count);
    OrderedPipeline<TrialJob> pipeline(ctx.threads);
    FrameCompressor compressor(level, pipeline.threads());

    // As in the compressor, workers read their own frames with positional reads.
    auto fill = [&](std::uint32_t f, TrialJob& job) {
        job.index = f;
        job.media = in_nc_area(ctx.nc_areas, f, media_count) != 0;
        return true;  // a short read is reported in its turn
    };
    auto process = [&](TrialJob& job, unsigned worker) {
        if (job.media) return;
        job.got = ctx.image_file->read_at(std::uint64_t{job.index} * FRAME_SIZE, job.plain.data(), FRAME_SIZE);
        if (job.got < FRAME_SIZE) return;
        job.rc = compressor.compress(job.plain, job.packed, job.packed_len, worker);
    };
    auto drain = [&](std::uint32_t f, TrialJob& job) {
        check_interrupt();
        if (job.media) return;
        if (job.got < FRAME_SIZE || job.rc != Z_OK) {
            ctx.console.print("Error analyzing input file %s.\n", input.c_str());
            ctx.quit(-1);
        }
        runs.add_frame(f, job.packed_len >= threshold);
        if (ctx.trial) {
            ctx.length_table[f] = static_cast<std::uint16_t>(job.packed_len);
            if (!ctx.trial->file.write_all(job.packed.data(), job.packed_len)) ctx.trial.reset();
        }
        if (f % 1000 == 0) progress.show(19, 100u * f / frames);
    };
    pipeline.run(frames, fill, process, drain);
    if (ctx.trial && !ctx.trial->file.flush()) ctx.trial.reset();
    progress.finish(18);
    const int area_count = runs.area_count();
    if (ctx.info_file) {
        for (int i = 0; i < area_count; ++i) {
            const NcArea& area = ctx.nc_areas[static_cast<std::size_t>(i)];
            file_printf(*ctx.info_file, "NCAREA #%d: framestart=%d,size=%d frames\n", i,
                        static_cast<int>(area.frame_start), static_cast<int>(area.num_frames));
        }
        ctx.info_file->write_all("\n\n", 2);
    }
    ctx.console.print("Numbers of NC Areas: %d\n", area_count);
    ctx.image_file.reset();
    ctx.info_file.reset();
    return area_count;
}

}  // namespace qivpak
