// decompressor.cpp - the unpack driver: header and index checks, runs of frames restored in parallel, in order
#include "decompress/decompressor.hpp"

#include "decompress/frame_inflater.hpp"
#include "format/container_index.hpp"
#include "format/qiv_format.hpp"
#include "pipeline/ordered_pipeline.hpp"

#include <algorithm>
#include <array>
#include <cstring>
#include <vector>

namespace qivpak {

namespace {

// About 280 KiB a job: three per worker, at most 128 (36 MiB at 64 workers).
constexpr PipelineShape RUN_JOBS{3, 128, 1};

// Refuses the container as a whole, or (with `frame`) from that frame on.
void refuse_if(const std::optional<ContainerFault>& fault, std::optional<std::uint32_t> frame = std::nullopt) {
    if (fault) throw RunError{Fault::damaged_container, *fault, frame};
}

// A run of consecutive frames on its way through the pipeline.
struct UnpackJob {
    std::uint32_t first = 0;               // its first frame
    std::uint32_t count = 0;               // its frames
    std::uint32_t good = 0;                // frames restored before the first refused one (count: none refused)
    std::optional<ContainerFault> fault;   // why frame first + good is refused
    bool written = false;                  // into a regular file: the good frames are in place
    const std::uint8_t* plain_bytes = nullptr;  // the good frames' plain bytes, back to back
    std::array<std::uint8_t, RUN_FRAMES * COMP_BUF_SIZE> stored;
    std::array<std::uint8_t, RUN_FRAMES * FRAME_SIZE> plain;
};

// Plain bytes of frames first .. first + count - 1: 8192 each, the image's last frame shorter.
std::size_t plain_bytes_of(const ContainerIndex& index, std::uint32_t first, std::uint32_t count) {
    if (count == 0) return 0;
    return std::size_t{count - 1} * FRAME_SIZE + index.plain_length(first + count - 1);
}

// Reads and restores a job's frames, stopping at the first refused one, and
// leaves their plain bytes back to back: compressed frames are inflated in
// place, raw frames copied there, unless every frame is raw and stored back to
// back at 8192 bytes, when the stored bytes are the plain bytes already.
void restore_run(ByteSource& container, const ContainerIndex& index, FrameInflater& inflater, UnpackJob& job) {
    std::array<std::span<const std::uint8_t>, RUN_FRAMES> stored;
    read_stored_frames(container, index, job.first, job.stored.data(), std::span(stored.data(), job.count));
    std::array<const std::uint8_t*, RUN_FRAMES> bytes{};
    bool in_stored = true;  // every frame so far is its stored bytes, at 8192 × k in `stored`
    job.good = 0;
    job.fault.reset();
    for (std::uint32_t k = 0; k < job.count; ++k) {
        const std::span<std::uint8_t, FRAME_SIZE> target(job.plain.data() + std::size_t{k} * FRAME_SIZE, FRAME_SIZE);
        const RestoredFrame frame = restore_frame(index, job.first + k, stored[k], inflater, target);
        if (frame.fault) {
            job.fault = frame.fault;
            break;
        }
        bytes[k] = frame.bytes;
        in_stored = in_stored && frame.bytes == job.stored.data() + std::size_t{k} * FRAME_SIZE;
        ++job.good;
    }
    if (in_stored) {
        job.plain_bytes = job.stored.data();
        return;
    }
    for (std::uint32_t k = 0; k < job.good; ++k) {
        std::uint8_t* target = job.plain.data() + std::size_t{k} * FRAME_SIZE;
        if (bytes[k] != target) std::memcpy(target, bytes[k], index.plain_length(job.first + k));
    }
    job.plain_bytes = job.plain.data();
}

}  // namespace

void decompress_file(ByteSource& container, ByteSink& image, unsigned threads, Reporter& reporter) {
    ContainerIndex index;
    refuse_if(read_header(container, index));
    const std::uint32_t n = index.frames;
    reporter.container_sized(n);
    refuse_if(read_tables(container, index));

    reporter.stage_started(Stage::unpacking, n);
    const std::uint32_t runs = n / RUN_FRAMES + (n % RUN_FRAMES != 0 ? 1 : 0);
    OrderedPipeline<UnpackJob> pipeline(worker_threads(threads, runs), RUN_JOBS);
    std::vector<FrameInflater> inflaters(pipeline.threads());
    // Into a regular file each worker writes its frames straight to their
    // place (frame i at 8192 × i); into a pipe or a device the writer writes
    // them in order.
    RandomAccessSink* const in_place = image.random_access();
    std::uint32_t reported = 0;  // frames reported done, all of them in the image

    auto fill = [&](std::uint32_t r, UnpackJob& job) {
        job.first = r * RUN_FRAMES;
        job.count = std::min(RUN_FRAMES, n - job.first);
        return true;
    };
    auto process = [&](UnpackJob& job, unsigned worker) {
        restore_run(container, index, inflaters[worker], job);
        job.written = in_place == nullptr ||
                      in_place->write_at(std::uint64_t{job.first} * FRAME_SIZE, job.plain_bytes,
                                         plain_bytes_of(index, job.first, job.good));
    };
    // In frame order: the frames before the first that is refused, or before
    // a request to stop, are written and reported; then the run ends.
    auto drain = [&](std::uint32_t, UnpackJob& job) {
        if (!job.written) throw RunError{Fault::write_image};
        std::uint32_t go = 0;  // frames to write and report: up to a stop, or the refused one
        bool stop = false;
        for (; go < job.count; ++go)
            if ((stop = reporter.should_stop()) || go == job.good) break;
        if (in_place == nullptr && !image.write_all(job.plain_bytes, plain_bytes_of(index, job.first, go)))
            throw RunError{Fault::write_image};
        for (std::uint32_t k = 0; k < go; ++k) {
            const std::uint32_t i = job.first + k;
            reporter.frame_done(i, index.lengths[i], index.is_raw(i));
        }
        reported += go;
        if (stop) throw Stopped();
        refuse_if(job.fault, job.first + job.good);
    };
    try {
        pipeline.run(runs, fill, process, drain);
    } catch (...) {
        // Workers may have written frames past the end; the image keeps the frames reported.
        if (in_place != nullptr && !in_place->truncate(std::uint64_t{reported} * FRAME_SIZE))
            throw RunError{Fault::write_image};
        throw;
    }
    reporter.stage_finished(Stage::unpacking);
}

}  // namespace qivpak
