// qivpack.cpp - packs or unpacks through the installed library API, with a progress line on stderr
//
// usage: qivpack [-l LEVEL] [-a THRESHOLD] [-v] [-s] IMAGE CONTAINER
//        qivpack -d CONTAINER IMAGE
// The options mean what they mean to qivpak; the container is byte for byte
// the one that qivpak writes with the same options.
#include <qivpak/pack.hpp>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

namespace {

void show(const qivpak::Progress& p) {
    static const char* const names[] = {"media scan", "analysis", "packing", "unpacking"};
    if (p.total != 0 && (p.done % 1000 == 0 || p.done == p.total))
        std::fprintf(stderr, "\r%s: %llu/%llu", names[static_cast<int>(p.stage)],
                     static_cast<unsigned long long>(p.done), static_cast<unsigned long long>(p.total));
    if (p.done == p.total && p.total != 0) std::fprintf(stderr, "\n");
}

int usage() {
    std::fprintf(stderr, "usage: qivpack [-l LEVEL] [-a THRESHOLD] [-v] [-s] IMAGE CONTAINER\n"
                         "       qivpack -d CONTAINER IMAGE\n");
    return 2;
}

}  // namespace

int main(int argc, char** argv) {
    qivpak::PackOptions options;
    options.progress = show;
    bool unpack = false;
    int i = 1;
    for (; i < argc && argv[i][0] == '-'; ++i) {
        const std::string flag = argv[i];
        if (flag == "-d") unpack = true;
        else if (flag == "-v") options.movies = true;
        else if (flag == "-s") options.audio = true;
        else if ((flag == "-l" || flag == "-a") && i + 1 < argc) {
            const long value = std::strtol(argv[++i], nullptr, 10);
            if (flag == "-l") options.level = static_cast<int>(value);
            else {
                options.analyze = true;
                options.threshold = static_cast<std::uint32_t>(value);
            }
        } else {
            return usage();
        }
    }
    if (argc - i != 2) return usage();
    try {
        if (unpack) {
            qivpak::unpack(argv[i], argv[i + 1], {.threads = 0, .progress = show, .should_stop = {}});
            return 0;
        }
        const qivpak::PackResult result = qivpak::pack(argv[i], argv[i + 1], options);
        std::printf("%llu bytes in %u frames -> %llu bytes, %zu NC areas\n",
                    static_cast<unsigned long long>(result.image_size), result.frames,
                    static_cast<unsigned long long>(result.container_size), result.nc_areas.size());
        return 0;
    } catch (const qivpak::Error& e) {
        std::fprintf(stderr, "qivpack: %s\n", e.what());
        return 1;
    }
}
