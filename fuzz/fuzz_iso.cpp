// fuzz_iso.cpp - any bytes as an ISO 9660 tree: the media scan ends, and its findings agree with the search
//
// Input: the image from logical sector 16 on (the sectors before it are
// zero), so the root directory record sits at input byte 156. The media scan
// must end (within the search's bound) and report one area per file it found,
// inside the image's whole frames; a search with a smaller capacity must give
// a prefix of the same records.
#include "iso/iso_search.hpp"
#include "iso/media_areas.hpp"
#include "fuzz_check.hpp"
#include "support/memory_io.hpp"

#include <cstdio>
#include <cstdlib>
#include <cstring>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    qivtest::Bytes image(16 * qivpak::SECTOR_SIZE, 0);
    image.insert(image.end(), data, data + size);
    qivtest::MemorySource source(image);

    qivtest::LogReporter log;
    qivpak::NcAreaTable table{};
    const int count = qivpak::find_media_areas(source, true, true, table, log);
    check(count >= 0 && count <= qivpak::MAX_NC_AREAS, "media count out of range");
    check(log.log.size() == static_cast<std::size_t>(count) + 2, "one report per media file");
    for (int i = 0; i < count; ++i)
        check(table[i].num_frames == 0 || table[i].frame_start + table[i].num_frames <= image.size() / 8192,
              "a media area reaches past the image's whole frames");

    std::vector<qivpak::IsoDirRecord> all(64);
    std::vector<qivpak::IsoDirRecord> few(3);
    const int found = qivpak::iso_find_files(source, all, nullptr);
    const int first = qivpak::iso_find_files(source, few, nullptr);
    check(first == std::min(found, 3), "a smaller capacity finds a different count");
    for (int i = 0; i < first; ++i) check(few[i].bytes == all[i].bytes, "a smaller capacity is not a prefix");
    return 0;
}
