// frame_bench.cpp - in-memory cost of compressing every frame of an image on one thread
//
// Prints the median throughput of: a plain compress2 call per frame (how a
// straightforward implementation spends its time), and one deflate stream
// reset between frames (the per-core limit of the pack pipeline).
#include "compress/frame_deflater.hpp"
#include "format/qiv_format.hpp"

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <iterator>
#include <vector>
#include <zlib.h>

namespace {

template <class Fn>
double median_mb_per_s(const std::vector<unsigned char>& image, int runs, Fn&& per_frame) {
    std::vector<double> rates;
    for (int r = 0; r < runs; ++r) {
        const auto start = std::chrono::steady_clock::now();
        for (std::size_t at = 0; at < image.size(); at += qivpak::FRAME_SIZE)
            per_frame(image.data() + at, std::min<std::size_t>(qivpak::FRAME_SIZE, image.size() - at));
        const std::chrono::duration<double> took = std::chrono::steady_clock::now() - start;
        rates.push_back(static_cast<double>(image.size()) / 1e6 / took.count());
    }
    std::sort(rates.begin(), rates.end());
    return rates[rates.size() / 2];
}

}  // namespace

int main(int argc, char** argv) {
    if (argc < 2) {
        std::fprintf(stderr, "usage: frame_bench image [level] [runs]\n");
        return 2;
    }
    std::ifstream in(argv[1], std::ios::binary);
    const std::vector<unsigned char> image((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    const int level = argc > 2 ? std::atoi(argv[2]) : -1;
    const int runs = argc > 3 ? std::atoi(argv[3]) : 3;
    std::vector<unsigned char> out(qivpak::COMP_BUF_SIZE);

    const double naive = median_mb_per_s(image, runs, [&](const unsigned char* p, std::size_t n) {
        uLongf len = out.size();
        compress2(out.data(), &len, p, n, level);
    });
    qivpak::FrameDeflater deflater(level);
    const double reset = median_mb_per_s(image, runs, [&](const unsigned char* p, std::size_t n) {
        std::size_t len = 0;
        deflater.compress(std::span(p, n), out, len);
    });
    std::printf("compress2_per_frame_MBps %.1f\nreset_stream_MBps %.1f\n", naive, reset);
    return 0;
}
