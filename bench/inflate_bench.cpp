// inflate_bench.cpp - CPU spent inflating every compressed frame of a container in memory, on one thread
//
// usage: inflate_bench CONTAINER [RUNS]
// Prints, for each way of inflating, the median CPU seconds of one pass over
// all compressed frames and the plain megabytes per CPU second: zlib's
// uncompress per frame (a loop of zlib's own inflate), the zlib frame
// inflater (one stream reset per frame), and where the build has libdeflate,
// its zlib decompressor alone and the libdeflate frame inflater (which reads
// each block's description of its codes before handing it to libdeflate).
#include "decompress/frame_inflater.hpp"
#include "format/container_index.hpp"
#include "io/file.hpp"

#include <zlib.h>
#if QIVPAK_HAVE_LIBDEFLATE
#include <libdeflate.h>
#endif

#include <algorithm>
#include <array>
#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <vector>

namespace {

double cpu_seconds() {
    timespec t{};
    clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &t);
    return static_cast<double>(t.tv_sec) + static_cast<double>(t.tv_nsec) * 1e-9;
}

struct Frame {
    std::vector<std::uint8_t> stored;
    std::size_t plain;
};

template <class Inflate>
void report(const char* name, const std::vector<Frame>& frames, int runs, Inflate&& inflate) {
    std::array<std::uint8_t, qivpak::FRAME_SIZE> out{};
    std::vector<double> secs;
    double plain_bytes = 0;
    for (int r = 0; r < runs; ++r) {
        plain_bytes = 0;
        const double start = cpu_seconds();
        for (const Frame& f : frames) {
            const std::size_t got = inflate(f.stored, out);
            if (got != f.plain) {
                std::fprintf(stderr, "%s: a frame did not inflate to its length\n", name);
                std::exit(1);
            }
            plain_bytes += static_cast<double>(got);
        }
        secs.push_back(cpu_seconds() - start);
    }
    std::sort(secs.begin(), secs.end());
    const double median = secs[secs.size() / 2];
    std::printf("%-28s %7.3f cpu_s %8.1f MB/cpu_s\n", name, median, plain_bytes / 1e6 / median);
}

}  // namespace

int main(int argc, char** argv) {
    if (argc < 2) {
        std::fprintf(stderr, "usage: inflate_bench CONTAINER [RUNS]\n");
        return 2;
    }
    const int runs = argc > 2 ? std::atoi(argv[2]) : 5;
    std::optional<qivpak::File> file = qivpak::File::open(argv[1], qivpak::File::Mode::read);
    qivpak::ContainerIndex index;
    if (!file || qivpak::read_header(*file, index) || qivpak::read_tables(*file, index)) {
        std::fprintf(stderr, "%s: not a sound container\n", argv[1]);
        return 1;
    }
    std::vector<Frame> frames;
    for (std::uint32_t i = 0; i < index.frames; ++i) {
        if (index.is_raw(i)) continue;
        Frame f{std::vector<std::uint8_t>(index.lengths[i]), index.plain_length(i)};
        if (file->read_at(index.offsets[i], f.stored.data(), f.stored.size()) != f.stored.size()) return 1;
        frames.push_back(std::move(f));
    }

    // Frames whose first block is not a final one with its own codes or stored
    // go to zlib in the libdeflate inflater.
    const auto to_zlib = std::count_if(frames.begin(), frames.end(), [](const Frame& f) {
        if (f.stored.size() < 4) return true;
        const unsigned bits = f.stored[2] | static_cast<unsigned>(f.stored[3]) << 8;
        return (bits & 1) == 0 || ((bits >> 1) & 3) == 1 || ((bits >> 1) & 3) == 3;
    });
    std::printf("compressed frames %zu, with fixed codes or several blocks %zu\n", frames.size(),
                static_cast<std::size_t>(to_zlib));
    report("zlib_uncompress_per_frame", frames, runs, [](const std::vector<std::uint8_t>& in, auto& out) {
        uLongf len = out.size();
        return uncompress(out.data(), &len, in.data(), static_cast<uLong>(in.size())) == Z_OK ? len : 0;
    });
    qivpak::ZlibFrameInflater zlib;
    report("zlib_frame_inflater", frames, runs, [&](const std::vector<std::uint8_t>& in, auto& out) {
        std::size_t len = 0;
        return zlib.inflate(in, out, len) == 0 ? len : 0;
    });
#if QIVPAK_HAVE_LIBDEFLATE
    libdeflate_decompressor* const bare = libdeflate_alloc_decompressor();
    report("libdeflate_alone", frames, runs, [&](const std::vector<std::uint8_t>& in, auto& out) {
        std::size_t used = 0, len = 0;
        return libdeflate_zlib_decompress_ex(bare, in.data(), in.size(), out.data(), out.size(), &used, &len) ==
                       LIBDEFLATE_SUCCESS
                   ? len
                   : 0;
    });
    libdeflate_free_decompressor(bare);
    qivpak::LibdeflateFrameInflater libdeflate;
    report("libdeflate_frame_inflater", frames, runs, [&](const std::vector<std::uint8_t>& in, auto& out) {
        std::size_t len = 0;
        return libdeflate.inflate(in, out, len) == 0 ? len : 0;
    });
#endif
    return 0;
}
