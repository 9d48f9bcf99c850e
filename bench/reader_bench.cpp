// reader_bench.cpp - random 4 KiB reads per second through the reader library
//
// usage: reader_bench CONTAINER [SECONDS] [THREADS]
#include <qivpak/reader.hpp>

#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <random>
#include <thread>
#include <vector>

int main(int argc, char** argv) {
    if (argc < 2) {
        std::fprintf(stderr, "usage: reader_bench CONTAINER [SECONDS] [THREADS]\n");
        return 2;
    }
    const qivpak::QivReader reader(argv[1]);
    const double seconds = argc > 2 ? std::atof(argv[2]) : 3.0;
    const unsigned threads = argc > 3 ? static_cast<unsigned>(std::atoi(argv[3])) : 1;
    constexpr std::size_t kRead = 4096;
    const std::uint64_t span = reader.size() > kRead ? reader.size() - kRead : 1;

    std::atomic<bool> stop{false};
    std::atomic<std::uint64_t> reads{0};
    std::vector<std::thread> pool;
    for (unsigned t = 0; t < threads; ++t) {
        pool.emplace_back([&, t] {
            std::mt19937_64 gen(t + 1);
            std::vector<unsigned char> buf(kRead);
            std::uint64_t mine = 0;
            while (!stop.load(std::memory_order_relaxed)) {
                reader.read(gen() % span, buf.data(), kRead);
                ++mine;
            }
            reads += mine;
        });
    }
    std::this_thread::sleep_for(std::chrono::duration<double>(seconds));
    stop = true;
    for (auto& t : pool) t.join();
    std::printf("random_4KiB_reads_per_s %.0f (threads %u)\n", static_cast<double>(reads.load()) / seconds, threads);
    return 0;
}
