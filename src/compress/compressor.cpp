// compressor.cpp - the pack driver: header, frames in order, index
#include "compress/compressor.hpp"

#include "compress/frame_compressor.hpp"
#include "format/qiv_format.hpp"
#include "pipeline/ordered_pipeline.hpp"

#include <array>
#include <span>
#include <vector>
#include <zlib.h>

namespace qivpak {

namespace {

void write_or_fail(ByteSink& container, const void* data, std::size_t len) {
    if (!container.write_all(data, len)) throw RunError{Fault::write_container};
}

// Header, placeholder index (zeros until the frames are known) and, with NC
// areas, the whole NC area table.
void write_front(ByteSink& container, const QivHeader& header, std::uint32_t n, const NcPlan& plan) {
    const auto head = encode_header(header);
    write_or_fail(container, head.data(), head.size());
    const std::vector<std::uint8_t> placeholders(6ull * n, 0);
    write_or_fail(container, placeholders.data(), placeholders.size());
    if (plan.count > 0) {
        const auto table = encode_nc_table(plan.areas);
        write_or_fail(container, table.data(), table.size());
    }
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

// Hands out the analysis's streams in frame order; frames without one are
// compressed as usual. A stream that cannot be read back ends the handing out.
class TrialReader {
public:
    explicit TrialReader(NcPlan& plan) : plan_(plan) {
        if (plan.trial && plan.trial->file.seek(0)) trial_ = &*plan.trial;
    }

    // Fills job.packed with frame i's stream when the analysis made one.
    // Must be called for every frame in order.
    void take(std::uint32_t i, PackJob& job) {
        if (trial_ == nullptr || i >= trial_->lengths.size() || in_nc_area(plan_.areas, i, plan_.media_count))
            return;
        const std::uint16_t len = trial_->lengths[i];
        const bool got = trial_->file.read_full(job.packed.data(), len) == len;
        if (!got) trial_ = nullptr;
        job.have_packed = got && !job.raw;
        job.packed_len = len;
    }

private:
    NcPlan& plan_;
    TrialFrames* trial_ = nullptr;
};

}  // namespace

void compress_file(ByteSource& image, std::uint32_t image_size, ByteSink& container, NcPlan& plan,
                   const CompressSettings& settings, Reporter& reporter) {
    QivHeader header;
    header.total_size = image_size;
    const std::uint32_t n = frame_count(image_size);
    if (plan.count != 0) {
        header.version = 1;
        header.nc_count = static_cast<std::uint32_t>(plan.count);
    }
    reporter.container_sized(n);
    std::vector<std::uint32_t> offsets(n, 0);
    std::vector<std::uint16_t> lengths(n, 0);
    write_front(container, header, n, plan);

    reporter.stage_started(Stage::packing, n);
    std::uint64_t position = data_start(n, plan.count > 0);
    TrialReader trial(plan);
    OrderedPipeline<PackJob> pipeline(worker_threads(settings.threads, n));
    FrameCompressor compressor(settings.level, pipeline.threads());

    auto fill = [&](std::uint32_t i, PackJob& job) {
        job.index = i;
        job.plain_len = frame_plain_length(image_size, i);
        job.raw = in_nc_area(plan.areas, i, plan.count) != 0;
        job.have_packed = false;
        job.rc = Z_OK;  // a slot is reused: no verdict of an earlier frame may stay
        trial.take(i, job);
        return true;
    };
    auto process = [&](PackJob& job, unsigned worker) {
        const std::uint64_t offset = std::uint64_t{job.index} * FRAME_SIZE;
        job.read_ok = image.read_at(offset, job.plain.data(), job.plain_len) == job.plain_len;
        if (!job.read_ok || job.raw || job.have_packed) return;
        job.rc = compressor.compress(std::span(job.plain.data(), job.plain_len), job.packed, job.packed_len,
                                     worker);
    };
    auto drain = [&](std::uint32_t i, PackJob& job) {
        if (reporter.should_stop()) throw Stopped();
        if (!job.read_ok) throw RunError{Fault::read_image};
        if (position > MAX_FRAME_OFFSET) throw RunError{Fault::container_too_large};
        std::span<const std::uint8_t> stored;
        if (job.raw) {
            // A raw frame is its plain bytes; only a short last frame is shorter than 8192.
            stored = std::span(job.plain.data(), job.plain_len);
        } else {
            if (job.rc == Z_BUF_ERROR) throw RunError{Fault::compress_buffer};
            if (job.rc != Z_OK) throw RunError{Fault::compress_failed};
            stored = std::span(job.packed.data(), job.packed_len);
        }
        write_or_fail(container, stored.data(), stored.size());
        const auto stored_len = static_cast<std::uint32_t>(stored.size());
        offsets[i] = static_cast<std::uint32_t>(position);
        lengths[i] = static_cast<std::uint16_t>(stored_len);
        position += stored_len;
        reporter.frame_done(i, stored_len, job.raw);
    };
    pipeline.run(n, fill, process, drain);
    plan.trial.reset();
    reporter.stage_finished(Stage::packing);

    if (!container.flush() || !container.seek(HEADER_SIZE)) throw RunError{Fault::write_container};
    const auto index = encode_index(offsets, lengths);
    write_or_fail(container, index.data(), index.size());
}

}  // namespace qivpak
