// decompressor.cpp - the unpack driver: header and index checks, frames in order
#include "decompress/decompressor.hpp"

#include "cli/progress_line.hpp"
#include "format/qiv_format.hpp"

#include <algorithm>
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

    const QivHeader header = load_index(ctx);
    const std::uint32_t n = frame_count(header.total_size);
    const auto nc_count = static_cast<std::int32_t>(header.nc_count);

    ProgressLine progress(ctx.console, "Decompressing...\n");
    std::vector<std::uint8_t> stored(COMP_BUF_SIZE);
    std::vector<std::uint8_t> plain(FRAME_SIZE);
    File& container = *ctx.container_file;
    File& image = *ctx.image_file;

    for (std::uint32_t i = 0; i < n; ++i) {
        const std::uint32_t plain_len = frame_plain_length(header.total_size, i);
        const std::uint16_t stored_len = ctx.length_table[i];
        if (!container.seek(ctx.offset_table[i])) fail(ctx, "Input seems to be corrupted.\n");
        const std::size_t got = container.read_full(stored.data(), stored_len);

        const std::uint8_t* out = nullptr;
        const bool raw = in_nc_area(ctx.nc_areas, i, nc_count) != 0;
        if (raw) {
            // A raw frame is its plain bytes; bytes stored past them are not part of the image.
            if (got < plain_len) fail(ctx, "Input seems to be corrupted.\n");
            out = stored.data();
        } else {
            if (got != stored_len) fail(ctx, "Input seems to be corrupted.\n");
            uLongf inflated = FRAME_SIZE;
            const int rc = uncompress(plain.data(), &inflated, stored.data(), stored_len);
            if (rc != Z_OK || inflated != plain_len) fail(ctx, "Error while decompressing (corrupt input?)\n");
            out = plain.data();
        }
        if (!image.write_all(out, plain_len)) fail(ctx, "I/O error writing to output file.\n");
        if (!raw && i % 600 == 0) progress.show(18, 100u * i / n);
    }

    progress.finish(17);
    if (!image.close()) fail(ctx, "I/O error writing to output file.\n");
    ctx.console.write("Finished.\n\n");
    ctx.quit(0);
}

}  // namespace qivpak
