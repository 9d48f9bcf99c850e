// reader_bench.cpp - random 4 KiB reads per second through the reader library, or through a plain file
//
// usage: reader_bench CONTAINER [SECONDS] [THREADS]
//        reader_bench --file IMAGE [SECONDS] [THREADS]
// With --file, IMAGE is read with pread(2) and O_DIRECT (an image at a
// qivmount mount point: every read goes to the daemon, none to the page cache).
#include <qivpak/reader.hpp>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <functional>
#include <memory>
#include <random>
#include <thread>
#include <vector>

int main(int argc, char** argv) {
    const bool plain_file = argc > 1 && std::strcmp(argv[1], "--file") == 0;
    if (plain_file) {
        --argc;
        ++argv;
    }
    if (argc < 2) {
        std::fprintf(stderr, "usage: reader_bench [--file] PATH [SECONDS] [THREADS]\n");
        return 2;
    }
    std::unique_ptr<qivpak::QivReader> reader;
    int fd = -1;
    std::uint64_t size = 0;
    if (plain_file) {
        fd = open(argv[1], O_RDONLY | O_DIRECT);
        struct stat st {};
        if (fd < 0 || fstat(fd, &st) != 0) {
            std::perror(argv[1]);
            return 1;
        }
        size = static_cast<std::uint64_t>(st.st_size);
    } else {
        reader = std::make_unique<qivpak::QivReader>(argv[1]);
        size = reader->size();
    }
    const double seconds = argc > 2 ? std::atof(argv[2]) : 3.0;
    const unsigned threads = argc > 3 ? static_cast<unsigned>(std::atoi(argv[3])) : 1;
    constexpr std::size_t kRead = 4096;
    const std::uint64_t span = size > kRead ? size - kRead : 1;
    const std::function<void(std::uint64_t, unsigned char*)> read_one = [&](std::uint64_t at, unsigned char* buf) {
        if (reader) {
            reader->read(at, buf, kRead);
        } else if (pread(fd, buf, kRead, static_cast<off_t>(at)) < 0) {
            std::perror("pread");
            std::exit(1);
        }
    };

    std::atomic<bool> stop{false};
    std::atomic<std::uint64_t> reads{0};
    std::vector<std::thread> pool;
    for (unsigned t = 0; t < threads; ++t) {
        pool.emplace_back([&, t] {
            std::mt19937_64 gen(t + 1);
            alignas(4096) static thread_local unsigned char buf[kRead];
            std::uint64_t mine = 0;
            while (!stop.load(std::memory_order_relaxed)) {
                read_one(gen() % span, buf);
                ++mine;
            }
            reads += mine;
        });
    }
    std::this_thread::sleep_for(std::chrono::duration<double>(seconds));
    stop = true;
    for (auto& t : pool) t.join();
    std::printf("random_4KiB_reads_per_s %.0f (threads %u%s)\n", static_cast<double>(reads.load()) / seconds, threads,
                plain_file ? ", through the file" : "");
    if (fd >= 0) close(fd);
    return 0;
}
