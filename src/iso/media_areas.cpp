// media_areas.cpp - media file areas: the movie and audio searches and the table entries they give
#include "iso/media_areas.hpp"

#include "format/qiv_format.hpp"
#include "iso/iso_search.hpp"

#include <algorithm>
#include <span>
#include <string>
#include <vector>

namespace qivpak {
namespace {

// Files (not directories) whose data begin with the four bytes of `magic`.
constexpr IsoFilter media_filter(std::string_view magic) {
    IsoFilter filter;
    filter.criteria = ISO_MATCH_DIR | ISO_MATCH_MAGIC;
    filter.dir_mode = 0;
    filter.magic = magic;
    filter.magic_len = 4;
    return filter;
}

constexpr IsoFilter MOVIE_FILTER = media_filter("PSMF");
constexpr IsoFilter AUDIO_FILTER = media_filter("RIFF");

}  // namespace

NcArea media_area(std::uint32_t extent, std::uint32_t data_length, std::uint64_t image_size) {
    const std::uint64_t first = std::uint64_t{extent} * SECTOR_SIZE / FRAME_SIZE;
    const std::uint64_t needed = (std::uint64_t{data_length} + FRAME_SIZE - 1) / FRAME_SIZE;
    const std::uint64_t whole = image_size / FRAME_SIZE;
    const std::uint64_t count = first < whole ? std::min(needed, whole - first) : 0;
    return {static_cast<std::uint32_t>(first), static_cast<std::uint32_t>(count)};
}

int find_media_areas(ByteSource& image, bool want_video, bool want_audio, NcAreaTable& table, Reporter& reporter) {
    reporter.stage_started(Stage::media_scan, 0);
    std::vector<IsoDirRecord> results(MAX_NC_AREAS);
    IsoExtentHeads heads(image);  // both searches test the same extents: each is read once
    int media_count = 0;
    if (want_video) media_count = iso_find_files(image, results, &MOVIE_FILTER, &heads);
    if (want_audio)
        media_count += iso_find_files(image, std::span(results).subspan(static_cast<std::size_t>(media_count)),
                                      &AUDIO_FILTER, &heads);

    for (int i = 0; i < media_count; ++i) {
        const IsoDirRecord& record = results[static_cast<std::size_t>(i)];
        table[static_cast<std::size_t>(i)] = media_area(record.extent(), record.data_length(), image.size());
        reporter.media_file_found({std::string(record.name()), record.extent_offset(), record.data_length()});
    }
    reporter.areas_decided(Stage::media_scan, std::span(table.data(), static_cast<std::size_t>(media_count)));
    return media_count;
}

}  // namespace qivpak
