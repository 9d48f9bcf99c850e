// cache_cat.cpp - writes the image of a container to standard output, read through the mount's frame cache
//
// cache_cat CONTAINER THREADS READ_BYTES: an ImageCache of 1 MiB with THREADS
// workers reads the image from its start in reads of READ_BYTES, as a reader
// of a mounted image would, and writes every byte it gets; then standard
// error says how many frames the cache inflated. A test runs it with most
// threads refused, in a process of its own.
#include "mount/image_cache.hpp"

#include <cstdio>
#include <exception>
#include <string>
#include <vector>

int main(int argc, char** argv) {
    if (argc != 4) {
        std::fputs("usage: cache_cat CONTAINER THREADS READ_BYTES\n", stderr);
        return 2;
    }
    try {
        std::vector<qivpak::QivReader> images;
        images.emplace_back(argv[1]);
        qivpak::ImageCache cache(std::move(images), std::size_t{1} << 20, static_cast<unsigned>(std::stoul(argv[2])));
        std::vector<unsigned char> buffer(std::stoul(argv[3]));
        for (std::uint64_t at = 0;;) {
            const std::size_t got = cache.read(0, at, buffer.data(), buffer.size());
            if (got == 0) break;
            if (std::fwrite(buffer.data(), 1, got, stdout) != got) return 1;
            at += got;
        }
        std::fprintf(stderr, "inflated %llu frames\n", static_cast<unsigned long long>(cache.frames_inflated()));
    } catch (const std::exception& error) {
        std::fprintf(stderr, "cache_cat: %s\n", error.what());
        return 1;
    }
    return std::fflush(stdout) == 0 ? 0 : 1;
}
