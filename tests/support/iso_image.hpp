// iso_image.hpp - ISO 9660 directory records laid out by hand, in memory, for what real tools never write
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

}  // namespace qivtest
