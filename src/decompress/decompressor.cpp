// decompressor.cpp - the unpack driver: header and index checks, frames in order
#include "decompress/decompressor.hpp"

#include "cli/interrupt.hpp"
#include "cli/progress_line.hpp"
#include "compress/frame_codec.hpp"
#include "format/qiv_format.hpp"
#include "pipeline/ordered_pipeline.hpp"

#include <algorithm>
#include <array>
#include <vector>
#include <zlib.h>

namespace qivpak {

namespace {

[[noreturn]] void fail(RunContext& ctx, const char* message) {
    ctx.console.write(message);
    ctx.quit(-1);
}

void read_or_corrupt(RunContext& ctx, void* buf, std::size_t len) {
    if (ctx.container_file->read_full(buf, len) != len) fail(ctx, "Corrupted input file.\n");
}

// Reads the header, both tables and the NC area table. Returns the header.
QivHeader load_index(RunContext& ctx) {
    std::uint8_t head[HEADER_SIZE];
    const std::size_t got = ctx.container_file->read_full(head, sizeof head);
    QivHeader header;
    switch (decode_header(std::span<const std::uint8_t>(head, got), header)) {
    case HeaderCheck::not_qiv: fail(ctx, "Input is not a valid QIV file.\n");
    case HeaderCheck::version_above: fail(ctx, "The version of the file is greater than supported.\n");
    case HeaderCheck::ok: break;
    }
    const std::uint32_t n = frame_count(header.total_size);
    ctx.console.print("N of frames: %d\n", static_cast<int>(n));

    ctx.offset_table.assign(n, 0);
    ctx.length_table.assign(n, 0);
    std::vector<std::uint8_t> bytes(4ull * n);
    read_or_corrupt(ctx, bytes.data(), bytes.size());
    decode_offsets(bytes, ctx.offset_table);
    bytes.resize(2ull * n);
    read_or_corrupt(ctx, bytes.data(), bytes.size());
    decode_lengths(bytes, ctx.length_table);
    if (header.nc_count != 0) {
        std::array<std::uint8_t, NC_TABLE_SIZE> table{};
        read_or_corrupt(ctx, table.data(), table.size());
        ctx.nc_areas = decode_nc_table(table);
    }

    // Nothing the writer makes holds more than 192 areas or a frame longer
    // than the largest compressed frame: anything else is damage.
    const bool lengths_ok = std::all_of(ctx.length_table.begin(), ctx.length_table.end(),
                                        [](std::uint16_t len) { return len <= COMP_BUF_SIZE; });
    if (header.nc_count > MAX_NC_AREAS || !lengths_ok) fail(ctx, "Corrupted input file.\n");
    return header;
}

// One frame on its way through the pipeline.
struct UnpackJob {
    std::uint32_t plain_len = 0;
    std::uint16_t stored_len = 0;
    std::uint32_t offset = 0;
    bool raw = false;
    std::size_t got = 0;  // stored bytes read at the frame's offset
    int rc = Z_OK;
    std::size_t inflated = 0;
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

    const QivHeader header = load_index(ctx);
    const std::uint32_t n = frame_count(header.total_size);
    const auto nc_count = static_cast<std::int32_t>(header.nc_count);

    ProgressLine progress(ctx.console, "Decompressing...\n");
    File& container = *ctx.container_file;
    File& image = *ctx.image_file;
    OrderedPipeline<UnpackJob> pipeline(ctx.threads);
    std::vector<FrameInflater> inflaters(pipeline.threads());

    // The writer only hands out offsets; each worker reads its frame's stored
    // bytes with a positional read, so reading and inflating both scale.
    auto fill = [&](std::uint32_t i, UnpackJob& job) {
        job.plain_len = frame_plain_length(header.total_size, i);
        job.stored_len = ctx.length_table[i];
        job.offset = ctx.offset_table[i];
        job.raw = in_nc_area(ctx.nc_areas, i, nc_count) != 0;
        return true;
    };
    auto process = [&](UnpackJob& job, unsigned worker) {
        job.got = container.read_at(job.offset, job.stored.data(), job.stored_len);
        if (job.raw || job.got != job.stored_len) return;
        job.rc = inflaters[worker].inflate(std::span(job.stored.data(), job.stored_len), job.plain, job.inflated);
    };
    auto drain = [&](std::uint32_t i, UnpackJob& job) {
        check_interrupt();
        const std::uint8_t* out = nullptr;
        if (job.raw) {
            // A raw frame is its plain bytes; bytes stored past them are not part of the image.
            if (job.got < job.plain_len) fail(ctx, "Input seems to be corrupted.\n");
            out = job.stored.data();
        } else {
            if (job.got != job.stored_len) fail(ctx, "Input seems to be corrupted.\n");
            if (job.rc != Z_OK || job.inflated != job.plain_len)
                fail(ctx, "Error while decompressing (corrupt input?)\n");
            out = job.plain.data();
        }
        if (!image.write_all(out, job.plain_len)) fail(ctx, "I/O error writing to output file.\n");
        if (!job.raw && i % 600 == 0) progress.show(18, 100u * i / n);
    };
    pipeline.run(n, fill, process, drain);

    progress.finish(17);
    if (!image.close()) fail(ctx, "I/O error writing to output file.\n");
    ctx.console.write("Finished.\n\n");
    ctx.quit(0);
}

}  // namespace qivpak
