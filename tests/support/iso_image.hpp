// iso_image.hpp - ISO 9660 directory records and whole discs laid out by hand, in memory, for what real tools never write
#pragma once

#include "format/qiv_format.hpp"
#include "iso/iso_search.hpp"
#include "support/memory_io.hpp"

#include <string>

namespace qivtest {

using qivpak::SECTOR_SIZE;

// An image laid out record by record; Length of Directory Record is 33 plus
// the name rounded up to even unless given.
struct IsoImage : MemorySource {
    explicit IsoImage(std::uint32_t sectors) : MemorySource(Bytes(std::uint64_t{sectors} * SECTOR_SIZE)) {}
    std::uint64_t put(std::uint64_t at, const std::string& name, std::uint32_t extent, std::uint32_t size,
                      bool dir = false, std::uint8_t len = 0) {
        if (len == 0) len = static_cast<std::uint8_t>((33 + name.size() + 1) & ~std::size_t{1});
        bytes[at] = len;
        qivpak::store_le32(&bytes[at + 2], extent);
        qivpak::store_le32(&bytes[at + 10], size);
        bytes[at + 25] = dir ? 2 : 0;
        bytes[at + 32] = static_cast<std::uint8_t>(name.size());
        std::copy(name.begin(), name.end(), bytes.begin() + static_cast<std::ptrdiff_t>(at + 33));
        return at + len;
    }
    // Starts the directory at sector `extent` with its self and parent records; returns where the next goes.
    std::uint64_t dir(std::uint32_t extent, std::uint32_t parent) {
        return put(put(std::uint64_t{extent} * SECTOR_SIZE, std::string(1, '\0'), extent, SECTOR_SIZE, true),
                   std::string(1, '\1'), parent, SECTOR_SIZE, true);
    }
    void root(std::uint32_t extent) {
        put(qivpak::ISO_ROOT_RECORD_OFFSET, std::string(1, '\0'), extent, SECTOR_SIZE, true);
    }
};

// A disc laid out by hand: volume descriptors in sectors 16 and 17, the root folder at sector 20;
// 32 sectors unless given.
struct HandDisc : IsoImage {
    explicit HandDisc(std::uint32_t sectors = 32) : IsoImage(sectors) {
        for (const std::uint8_t type : {1, 255}) {
            const std::size_t at = (type == 1 ? 16 : 17) * SECTOR_SIZE;
            bytes[at] = type;
            std::copy_n("CD001", 5, bytes.begin() + static_cast<std::ptrdiff_t>(at + 1));
            bytes[at + 6] = 1;
        }
        root(20);
    }
    // A record with System Use bytes after its name.
    std::uint64_t put_su(std::uint64_t at, const std::string& name, std::uint32_t extent, std::uint32_t size, bool dir,
                         const Bytes& su) {
        const std::size_t start = 33 + name.size() + (name.size() % 2 == 0 ? 1 : 0);
        const std::size_t len = (start + su.size() + 1) & ~std::size_t{1};
        const std::uint64_t next = put(at, name, extent, size, dir, static_cast<std::uint8_t>(len));
        std::copy(su.begin(), su.end(), bytes.begin() + static_cast<std::ptrdiff_t>(at + start));
        return next;
    }
    // Root "." with the SUSP "SP" entry that marks Rock Ridge, and "..".
    std::uint64_t rock_ridge_root() {
        const Bytes sp = {'S', 'P', 7, 1, 0xbe, 0xef, 0};
        return put(put_su(20 * SECTOR_SIZE, std::string(1, '\0'), 20, SECTOR_SIZE, true, sp), std::string(1, '\1'), 20,
                   SECTOR_SIZE, true);
    }
};

inline Bytes continuation(std::uint32_t block, std::uint32_t offset, std::uint32_t length) {
    Bytes ce = {'C', 'E', 28, 1};
    for (const std::uint32_t v : {block, offset, length}) {
        for (int k = 0; k < 4; ++k) ce.push_back(static_cast<std::uint8_t>(v >> (8 * k)));
        for (int k = 3; k >= 0; --k) ce.push_back(static_cast<std::uint8_t>(v >> (8 * k)));
    }
    return ce;
}

}  // namespace qivtest
