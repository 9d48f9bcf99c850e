// decompressor.cpp - the unpack driver: header and index checks, frames in order
#include "decompress/decompressor.hpp"

#include "decompress/frame_inflater.hpp"
#include "format/container_index.hpp"
#include "format/qiv_format.hpp"
#include "pipeline/ordered_pipeline.hpp"

#include <array>
#include <vector>

namespace qivpak {

namespace {

void refuse_if(const std::optional<ContainerFault>& fault) {
    if (fault) throw RunError{Fault::damaged_container, *fault};
}

// One frame on its way through the pipeline.
struct UnpackJob {
    std::uint32_t index = 0;
    RestoredFrame restored;  // where its plain bytes are, or why it is refused
    std::array<std::uint8_t, COMP_BUF_SIZE> stored;
    std::array<std::uint8_t, FRAME_SIZE> plain;
};

}  // namespace

void decompress_file(ByteSource& container, ByteSink& image, unsigned threads, Reporter& reporter) {
    ContainerIndex index;
    refuse_if(read_header(container, index));
    const std::uint32_t n = index.frames;
    reporter.container_sized(n);
    refuse_if(read_tables(container, index));

    reporter.stage_started(Stage::unpacking, n);
    OrderedPipeline<UnpackJob> pipeline(worker_threads(threads, n));
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
        if (reporter.should_stop()) throw Cancelled{};
        refuse_if(job.restored.fault);
        if (!image.write_all(job.restored.bytes, index.plain_length(i))) throw RunError{Fault::write_image};
        reporter.frame_done(i, index.lengths[i], index.is_raw(i));
    };
    pipeline.run(n, fill, process, drain);
    reporter.stage_finished(Stage::unpacking);
}

}  // namespace qivpak
