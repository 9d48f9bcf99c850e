// media_areas.cpp - media file areas: the movie and audio searches and the table entries they give
#include "iso/media_areas.hpp"

#include "format/qiv_format.hpp"
#include "iso/iso_search.hpp"

#include <algorithm>
#include <span>
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

std::string printable_name(std::string_view name) {
    std::string shown(name);
    for (char& c : shown) {
        auto byte = static_cast<unsigned char>(c);
        if (byte < 0x20 || byte > 0x7E) c = '?';
    }
    return shown;
}

int find_media_areas(RunContext& ctx, const std::string& input_path, bool want_video, bool want_audio) {
    const std::uint64_t image_size = open_input_image(ctx, input_path);
    ctx.console.print("Scanning media files...\n");

    std::vector<IsoDirRecord> results(MAX_NC_AREAS);
    int media_count = 0;
    if (want_video) media_count = iso_find_files(*ctx.image_file, results, &MOVIE_FILTER);
    if (want_audio)
        media_count += iso_find_files(*ctx.image_file, std::span(results).subspan(static_cast<std::size_t>(media_count)), &AUDIO_FILTER);

    for (int i = 0; i < media_count; ++i) {
        const IsoDirRecord& record = results[i];
        ctx.nc_areas[i] = media_area(record.extent(), record.data_length(), image_size);
        ctx.console.print("Media file found: %s (offset=%08llX,size=%dKB)\n",
                          printable_name(record.name()).c_str(),
                          static_cast<unsigned long long>(record.extent_offset()),
                          static_cast<int>(record.data_length() / 1024));
    }
    ctx.console.print("%d media files found and forced to be NC areas.\n", media_count);
    ctx.image_file.reset();
    return media_count;
}

}  // namespace qivpak
