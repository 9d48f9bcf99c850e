// verify_bench.cpp - CPU seconds of each part of qiv verify, one thread each: inflating, CRC32 (the one verify uses), MD5, SHA-1
//
// usage: verify_bench CONTAINER [RUNS]   (default 3; prints the median of each)
// The image is first inflated into memory through the reader (that is the
// "inflate" part); the three digests then run over the bytes in memory, in the
// chunks the hashing pass hands them.
#include "qiv/digest.hpp"
#include "qiv/image_hash.hpp"

#include <qivpak/reader.hpp>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <functional>
#include <vector>

namespace {

// CPU seconds of this process spent in `work`, median of `runs`.
double cpu_seconds(int runs, const std::function<void()>& work) {
    std::vector<double> times;
    for (int r = 0; r < runs; ++r) {
        const std::clock_t start = std::clock();
        work();
        times.push_back(static_cast<double>(std::clock() - start) / CLOCKS_PER_SEC);
    }
    std::sort(times.begin(), times.end());
    return times[times.size() / 2];
}

}  // namespace

int main(int argc, char** argv) {
    if (argc < 2) {
        std::fprintf(stderr, "usage: verify_bench CONTAINER [RUNS]\n");
        return 2;
    }
    const int runs = argc > 2 ? std::max(1, std::atoi(argv[2])) : 3;
    const qivpak::QivReader reader(argv[1]);
    std::vector<std::uint8_t> image(reader.size());
    const std::size_t chunk = qiv::IMAGE_HASH_CHUNK;
    const auto chunks = [&](const std::function<void(const std::uint8_t*, std::size_t)>& take) {
        for (std::size_t at = 0; at < image.size(); at += chunk) take(image.data() + at, std::min(chunk, image.size() - at));
    };
    const double inflate = cpu_seconds(runs, [&] {
        chunks([&](const std::uint8_t* at, std::size_t length) {
            reader.read(static_cast<std::uint64_t>(at - image.data()), image.data() + (at - image.data()), length);
        });
    });
    std::uint32_t crc = 0;
    const double crc32 = cpu_seconds(runs, [&] {
        crc = 0;
        chunks([&](const std::uint8_t* at, std::size_t length) { crc = qiv::crc32_update(crc, at, length); });
    });
    const auto digest = [&](qiv::DigestKind kind) {
        return cpu_seconds(runs, [&] {
            qiv::Digest d(kind);
            chunks([&](const std::uint8_t* at, std::size_t length) { d.update(at, length); });
            d.hex();
        });
    };
    const double md5 = digest(qiv::DigestKind::md5), sha1 = digest(qiv::DigestKind::sha1);
    const double mb = static_cast<double>(image.size()) / 1e6;
    for (const auto& [name, seconds] : {std::pair{"inflate", inflate}, {"crc32", crc32}, {"md5", md5}, {"sha1", sha1}})
        std::printf("%-8s %7.3f s  %7.1f MB/s\n", name, seconds, mb / seconds);
    std::printf("%-8s %7.3f s   (image crc32 %08x)\n", "sum", inflate + crc32 + md5 + sha1, static_cast<unsigned>(crc));
}
