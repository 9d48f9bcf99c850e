// compressor.cpp - the pack driver: header, frames in order, index, report
#include "compress/compressor.hpp"

#include "cli/interrupt.hpp"
#include "cli/progress_line.hpp"
#include "compress/frame_compressor.hpp"
#include "format/qiv_format.hpp"
#include "pipeline/ordered_pipeline.hpp"

#include <array>

#include <vector>
#include <zlib.h>

namespace qivpak {

namespace {

void write_or_fail(RunContext& ctx, const void* data, std::size_t len) {
    if (!ctx.container_file->write_all(data, len)) {
        ctx.console.write("I/O write error.\n");
        ctx.quit(-1);
    }
}

// Opens the container and the info file after the image is open.
void open_outputs(RunContext& ctx, const std::string& output, const std::optional<std::string>& info,
                  int nc_count) {
    ctx.container_file = File::open(output, File::Mode::truncate);
    if (!ctx.container_file) {
        ctx.console.print("Error: cannot create output file %s\n", output.c_str());
        ctx.quit(-1);
    }
    ctx.output_path = output;
    if (info) {
        // With NC areas the analysis has already written its section: keep it.
        ctx.info_file = File::open(*info, nc_count != 0 ? File::Mode::append : File::Mode::truncate);
        if (!ctx.info_file) ctx.console.print("Warning: cannot open/create info file %s\n", info->c_str());
    }
}

// Header, placeholder index (zeros until the frames are known) and, with NC
// areas, the whole NC area table.
void write_front(RunContext& ctx, const QivHeader& header, std::uint32_t n, int nc_count) {
    const auto head = encode_header(header);
    write_or_fail(ctx, head.data(), head.size());
    const std::vector<std::uint8_t> placeholders(6ull * n, 0);
    write_or_fail(ctx, placeholders.data(), placeholders.size());
    if (nc_count > 0) {
        const auto table = encode_nc_table(ctx.nc_areas);
        write_or_fail(ctx, table.data(), table.size());
    }
}

void print_report(RunContext& ctx, std::uint32_t total_size, std::uint64_t container_size) {
    const std::uint32_t in_kb = total_size >> 10;
    const std::uint64_t out_kb = container_size / 1024;
    const std::uint64_t ratio = in_kb == 0 ? 0 : out_kb * 100 / in_kb;
    const char* format = "Report: %d KB -> %d KB (%d%%)\n\n";
    ctx.console.print(format, static_cast<int>(in_kb), static_cast<int>(out_kb), static_cast<int>(ratio));
    if (ctx.info_file)
        file_printf(*ctx.info_file, format, static_cast<int>(in_kb), static_cast<int>(out_kb),
                    static_cast<int>(ratio));
}

// One frame on its way through the pipeline.
struct PackJob {
    std::uint32_t index = 0;
    std::uint32_t plain_len = 0;
    bool read_ok = false;
    bool raw = false;          // stored as its plain bytes
    bool have_packed = false;  // `packed` already holds the analysis's stream
    int rc = Z_OK;
    std::size_t packed_len = 0;
    std::array<std::uint8_t, FRAME_SIZE> plain;
    std::array<std::uint8_t, COMP_BUF_SIZE> packed;
};

// Hands out the analysis's streams in frame order, when there are any for
// this image and level; frames without one are compressed as usual.
class TrialReader {
public:
    TrialReader(RunContext& ctx, std::uint64_t image_size, int level) : ctx_(ctx) {
        if (ctx.trial && ctx.trial->image_size == image_size && ctx.trial->level == level &&
            ctx.trial->file.seek(0)) {
            trial_ = &*ctx.trial;
            whole_frames_ = static_cast<std::uint32_t>(image_size >> 13);
        }
    }

    // Fills job.packed with frame i's stream when the analysis made one.
    // Must be called for every frame in order, before its length entry is reused.
    void take(std::uint32_t i, PackJob& job) {
        if (trial_ == nullptr || i >= whole_frames_ || in_nc_area(ctx_.nc_areas, i, trial_->media_count)) return;
        const std::uint16_t len = ctx_.length_table[i];
        const bool got = trial_->file.read_full(job.packed.data(), len) == len;
        if (!got) trial_ = nullptr;  // unreadable: compress everything from here on
        job.have_packed = got && !job.raw;
        job.packed_len = len;
    }

private:
    RunContext& ctx_;
    TrialFrames* trial_ = nullptr;
    std::uint32_t whole_frames_ = 0;
};

}  // namespace

void compress_file(RunContext& ctx, const std::string& input, const std::string& output,
                   const std::optional<std::string>& info, int level, int nc_count) {
    const std::uint64_t image_size = open_input_image(ctx, input);
    open_outputs(ctx, output, info, nc_count);

    QivHeader header;
    header.total_size = static_cast<std::uint32_t>(image_size);
    const std::uint32_t n = frame_count(header.total_size);
    ctx.console.print("N of frames: %d\n", static_cast<int>(n));
    if (nc_count != 0) {
        header.version = 1;
        header.nc_count = static_cast<std::uint32_t>(nc_count);
    }
    ctx.offset_table.assign(n, 0);
    // The analysis may have left its stream lengths here; they are read before being replaced.
    ctx.length_table.resize(n, 0);
    write_front(ctx, header, n, nc_count);

    ProgressLine progress(ctx.console, "Compressing...\n");
    std::uint64_t position = data_start(n, nc_count > 0);
    TrialReader trial(ctx, image_size, level);
    OrderedPipeline<PackJob> pipeline(ctx.threads);
    FrameCompressor compressor(level, pipeline.threads());

    // Workers read their frames with positional reads, so reading scales
    // with compressing; the writer reads only the analysis's streams.
    auto fill = [&](std::uint32_t i, PackJob& job) {
        job.index = i;
        job.plain_len = frame_plain_length(header.total_size, i);
        job.raw = in_nc_area(ctx.nc_areas, i, nc_count) != 0;
        job.have_packed = false;
        trial.take(i, job);
        return true;
    };
    auto process = [&](PackJob& job, unsigned worker) {
        const std::uint64_t offset = std::uint64_t{job.index} * FRAME_SIZE;
        job.read_ok = ctx.image_file->read_at(offset, job.plain.data(), job.plain_len) == job.plain_len;
        if (!job.read_ok || job.raw || job.have_packed) return;
        job.rc = compressor.compress(std::span(job.plain.data(), job.plain_len), job.packed, job.packed_len,
                                     worker);
    };
    auto drain = [&](std::uint32_t i, PackJob& job) {
        check_interrupt();
        if (!job.read_ok) {
            ctx.console.print("Error: cannot read input file %s\n", input.c_str());
            ctx.quit(-1);
        }
        if (position > MAX_FRAME_OFFSET) {
            ctx.console.print("Error: output file %s would be larger than the format allows\n", output.c_str());
            ctx.quit(-1);
        }
        std::span<const std::uint8_t> stored;
        if (job.raw) {
            // A raw frame is its plain bytes; only a short last frame is shorter than 8192.
            stored = std::span(job.plain.data(), job.plain_len);
        } else {
            if (job.rc == Z_BUF_ERROR) {
                ctx.console.write("Not enough memory in compressed buffer!\n");
                ctx.quit(-1);
            }
            if (job.rc != Z_OK) {
                ctx.console.write("Memory error while compressing.\n");
                ctx.quit(-1);
            }
            stored = std::span(job.packed.data(), job.packed_len);
        }
        write_or_fail(ctx, stored.data(), stored.size());
        const auto stored_len = static_cast<std::uint32_t>(stored.size());
        if (!job.raw && ctx.info_file)
            file_printf(*ctx.info_file, "Frame #%d: %d -> %d(%d%%)\n", static_cast<int>(i),
                        static_cast<int>(FRAME_SIZE), static_cast<int>(stored_len),
                        static_cast<int>((stored_len * 100) >> 13));

        ctx.offset_table[i] = static_cast<std::uint32_t>(position);
        ctx.length_table[i] = static_cast<std::uint16_t>(stored_len);
        position += stored_len;
        const std::uint32_t written = i + 1;
        if (written % 600 == 0) {
            const unsigned percent = 100u * written / n;
            progress.show(percent == 100 ? 15 : 16, percent);
        }
    };
    pipeline.run(n, fill, process, drain);
    ctx.trial.reset();

    progress.finish(15);
    ctx.console.print("Total frames written: %d\n", static_cast<int>(n));
    ctx.console.write("Writing tables...\n");
    File& container = *ctx.container_file;
    if (!container.flush()) {
        ctx.console.write("I/O write error.\n");
        ctx.quit(-1);
    }
    if (!container.seek(HEADER_SIZE)) ctx.quit(-1);
    const auto index = encode_index(ctx.offset_table, ctx.length_table);
    write_or_fail(ctx, index.data(), index.size());
    ctx.console.print("Table size: %d+%d=%d\n", static_cast<int>(4 * n), static_cast<int>(2 * n),
                      static_cast<int>(6 * n));
    const bool flushed = container.flush();
    const std::uint64_t container_size = container.size();
    if (!flushed || !container.close()) {
        ctx.console.write("I/O write error.\n");
        ctx.quit(-1);
    }
    ctx.console.write("Finished.\n\n");
    print_report(ctx, header.total_size, container_size);
    ctx.quit(0);
}

}  // namespace qivpak
