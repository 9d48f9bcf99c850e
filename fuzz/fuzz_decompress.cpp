// fuzz_decompress.cpp - libFuzzer target: the unpacker fed arbitrary container bytes
//
// Input: one settings byte (bit 0: two worker threads instead of one), then
// the bytes of the container. The container is handed to decompress_file as
// an in-memory file, and the run is checked against a small reader written
// here from the documented layout: the same message, the same exit code, and
// exactly the same output bytes, which for a refused container are the whole
// frames before the first bad one.
#include "cli/console.hpp"
#include "cli/run_context.hpp"
#include "decompress/decompressor.hpp"
#include "fuzz_support.hpp"

#include <zlib.h>

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <span>
#include <string>
#include <vector>

namespace {

const std::string kNotQiv = "Input is not a valid QIV file.\n";
const std::string kTooNew = "The version of the file is greater than supported.\n";
const std::string kCorrupted = "Corrupted input file.\n";
const std::string kCut = "Input seems to be corrupted.\n";
const std::string kBadStream = "Error while decompressing (corrupt input?)\n";
const std::string kFinished = "Finished.\n\n";

constexpr std::uint64_t kFrame = 8192;
constexpr std::uint64_t kMaxStored = 9216;
constexpr std::uint32_t kMaxAreas = 192;
constexpr std::uint64_t kAreaTable = 1536;

std::uint32_t le32(std::span<const std::uint8_t> b, std::uint64_t at) {
    return std::uint32_t{b[at]} | std::uint32_t{b[at + 1]} << 8 | std::uint32_t{b[at + 2]} << 16 |
           std::uint32_t{b[at + 3]} << 24;
}

struct Expected {
    std::string message;             // the refusal; kFinished when the image is restored
    std::vector<std::uint8_t> image;  // the output: whole frames up to the first bad one
};

// What unpacking `c` must give, straight from the documented layout and
// zlib's uncompress.
Expected reference_unpack(std::span<const std::uint8_t> c) {
    Expected e;
    if (c.size() < 32 || c[0] != 'Q' || c[1] != 'I' || c[2] != 'V' || c[3] != 0) {
        e.message = kNotQiv;
        return e;
    }
    const std::uint32_t total = le32(c, 4);
    const std::uint32_t version = le32(c, 8);
    const std::uint32_t nc_count = le32(c, 12);
    if (version > 1) {
        e.message = kTooNew;
        return e;
    }
    const std::uint64_t n = (std::uint64_t{total} + kFrame - 1) / kFrame;
    const std::uint64_t lengths_at = 32 + 4 * n;
    const std::uint64_t areas_at = 32 + 6 * n;
    if (c.size() < areas_at + (nc_count != 0 ? kAreaTable : 0) || nc_count > kMaxAreas) {
        e.message = kCorrupted;
        return e;
    }
    for (std::uint64_t i = 0; i < n; ++i) {
        if ((c[lengths_at + 2 * i] | c[lengths_at + 2 * i + 1] << 8) > static_cast<int>(kMaxStored)) {
            e.message = kCorrupted;
            return e;
        }
    }
    std::vector<std::uint8_t> plain(kFrame);
    for (std::uint64_t i = 0; i < n; ++i) {
        const std::uint64_t plain_len = std::min<std::uint64_t>(kFrame, total - kFrame * i);
        const std::uint64_t offset = le32(c, 32 + 4 * i);
        const std::uint64_t stored_len = c[lengths_at + 2 * i] | c[lengths_at + 2 * i + 1] << 8;
        const std::uint64_t readable = offset < c.size() ? std::min(stored_len, c.size() - offset) : 0;
        bool raw = false;
        for (std::uint32_t a = 0; a < nc_count; ++a) {
            const std::uint32_t start = le32(c, areas_at + 8 * a);
            const std::uint32_t count = le32(c, areas_at + 8 * a + 4);
            raw = raw || (start <= i && i - start < count);
        }
        const std::uint8_t* stored = c.data() + std::min<std::uint64_t>(offset, c.size());
        if (raw) {
            if (readable < plain_len) {
                e.message = kCut;
                return e;
            }
            e.image.insert(e.image.end(), stored, stored + plain_len);
            continue;
        }
        if (readable != stored_len) {
            e.message = kCut;
            return e;
        }
        uLongf got = static_cast<uLongf>(kFrame);
        if (uncompress(plain.data(), &got, stored, static_cast<uLong>(stored_len)) != Z_OK || got != plain_len) {
            e.message = kBadStream;
            return e;
        }
        e.image.insert(e.image.end(), plain.begin(), plain.begin() + static_cast<std::ptrdiff_t>(plain_len));
    }
    e.message = kFinished;
    return e;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    if (size == 0) return 0;
    const unsigned threads = (data[0] & 1) != 0 ? 2 : 1;
    const std::span<const std::uint8_t> container(data + 1, size - 1);

    qivfuzz::MemFile input;
    qivfuzz::MemFile output;
    input.write_at(0, container.data(), container.size());

    std::string text;
    qivpak::Console console(text, false);
    qivpak::RunContext ctx(console);
    ctx.threads = threads;
    int code = 1;
    try {
        qivpak::decompress_file(ctx, input.path(), output.path());
    } catch (const qivpak::QuitRequest& request) {
        code = request.code;
    }
    ctx.release();

    const Expected expected = reference_unpack(container);
    const bool restored = expected.message == kFinished;
    qivfuzz::check(code == (restored ? 0 : -1), "exit code", std::to_string(code) + " for " + expected.message);
    qivfuzz::check(qivfuzz::ends_with(text, expected.message), "console text",
                   "expected to end with \"" + expected.message + "\", got \"" + text + "\"");
    const std::vector<std::uint8_t> written = output.contents();
    if (restored)
        qivfuzz::check(written.size() == le32(container, 4), "restored size");
    qivfuzz::check(written.size() % 8192 == 0 || restored, "a refused run left part of a frame");
    qivfuzz::check(written == expected.image, "output bytes",
                   std::to_string(written.size()) + " bytes written, " + std::to_string(expected.image.size()) +
                       " expected");
    return 0;
}
