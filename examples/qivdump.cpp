// qivdump.cpp - prints a byte range of the image inside a QIV container as hex
//
// usage: qivdump CONTAINER OFFSET LENGTH
// Reads only the frames the range touches, through the installed reader API.
#include <qivpak/reader.hpp>

#include <cstdio>
#include <cstdlib>
#include <vector>

int main(int argc, char** argv) {
    if (argc != 4) {
        std::fprintf(stderr, "usage: qivdump CONTAINER OFFSET LENGTH\n");
        return 2;
    }
    try {
        const qivpak::QivReader reader(argv[1]);
        const std::uint64_t offset = std::strtoull(argv[2], nullptr, 0);
        std::vector<unsigned char> bytes(std::strtoull(argv[3], nullptr, 0));
        const std::size_t got = reader.read(offset, bytes.data(), bytes.size());
        for (std::size_t i = 0; i < got; i += 16) {
            std::printf("%08llx:", static_cast<unsigned long long>(offset + i));
            for (std::size_t k = i; k < i + 16 && k < got; ++k) std::printf(" %02x", bytes[k]);
            std::printf("\n");
        }
        return 0;
    } catch (const qivpak::QivFormatError& e) {
        std::fprintf(stderr, "qivdump: %s\n", e.what());
        return 1;
    }
}
