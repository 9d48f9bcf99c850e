// decompressor.cpp - the unpack driver: header and index checks, frames in order
#include "decompress/decompressor.hpp"

#include "cli/interrupt.hpp"
#include "cli/progress_line.hpp"
#include "format/container_index.hpp"
#include "format/qiv_format.hpp"
#include "pipeline/ordered_pipeline.hpp"

#include <array>
#include <vector>

namespace qivpak {

namespace {

[[noreturn]] void fail(RunContext& ctx, const char* message) {
    ctx.console.write(message);
    ctx.quit(-1);
}

// One frame on its way through the pipeline.
struct UnpackJob {
    std::uint32_t index = 0;
    RestoredFrame restored;  // where its plain bytes are, or why it is refused
    std::array<std::uint8_t, COMP_BUF_SIZE> stored;
    std::array<std::uint8_t, FRAME_SIZE> plain;
};

}  // namespace

void decompress_file(RunContext& ctx, const std::string& input, const std::string& output) {
    ctx.container_file = File::open(input, File::Mode::read);
    if (!ctx.container_file) {
        ctx.console.print("Cannot open input file %s\n", input.c_str());
        ctx.quit(-1);
    }
    ctx.image_file = File::open(output, File::Mode::truncate);
    if (!ctx.image_file) {
        ctx.console.print("Cannot create output file %s\n", output.c_str());
        ctx.quit(-1);
    }
    ctx.output_path = output;

    ContainerIndex index;
    File& container = *ctx.container_file;
    File& image = *ctx.image_file;
    if (auto fault = read_header(container, index)) fail(ctx, fault_message(*fault));
    const std::uint32_t n = index.frames;
    ctx.console.print("N of frames: %d\n", static_cast<int>(n));
    if (auto fault = read_tables(container, index)) fail(ctx, fault_message(*fault));

    ProgressLine progress(ctx.console, "Decompressing...\n");
    OrderedPipeline<UnpackJob> pipeline(ctx.threads);
    std::vector<FrameInflater> inflaters(pipeline.threads());

    // The writer only hands out frame numbers; each worker reads its frame's
    // stored bytes with a positional read, so reading and inflating both scale.
    auto fill = [&](std::uint32_t i, UnpackJob& job) {
        job.index = i;
        return true;
    };
    auto process = [&](UnpackJob& job, unsigned worker) {
        const std::uint32_t i = job.index;
        const std::size_t got = container.read_at(index.offsets[i], job.stored.data(), index.lengths[i]);
        job.restored = restore_frame(index, i, std::span(job.stored.data(), got), inflaters[worker], job.plain);
    };
    auto drain = [&](std::uint32_t i, UnpackJob& job) {
        check_interrupt();
        if (job.restored.fault) fail(ctx, fault_message(*job.restored.fault));
        if (!image.write_all(job.restored.bytes, index.plain_length(i)))
            fail(ctx, "I/O error writing to output file.\n");
        if (!index.is_raw(i) && i % 600 == 0) progress.show(18, 100u * i / n);
    };
    pipeline.run(n, fill, process, drain);

    progress.finish(17);
    if (!image.close()) fail(ctx, "I/O error writing to output file.\n");
    ctx.console.write("Finished.\n\n");
    ctx.quit(0);
}

}  // namespace qivpak
