// media_areas.hpp - media file areas: every movie and audio file of a disc image becomes an NC area
#pragma once

#include "cli/run_context.hpp"
#include "format/nc_area_table.hpp"

#include <cstdint>
#include <string>
#include <string_view>

namespace qivpak {

// The frames of a file whose data start at logical block `extent` and take
// `data_length` bytes: from the frame that holds its first byte, as many frames
// as the Data Length needs by itself, limited to the image's whole frames
// (image_size / 8192 rounded down). An NC frame is always restored as 8192
// bytes, so the short last frame of an image, and anything past the image,
// stays out of every area; for a file wholly inside an image whose size is a
// multiple of 8192 the limit changes nothing.
NcArea media_area(std::uint32_t extent, std::uint32_t data_length, std::uint64_t image_size);

// `name` with every byte outside printable ASCII (below 0x20, 0x7F and above) shown as '?'.
std::string printable_name(std::string_view name);

// Opens the image at input_path (ending the run, as open_input_image does, when
// it cannot be read), searches its ISO 9660 tree for files whose data begin with
// "PSMF" (when want_video) and then for files beginning with "RIFF" (when
// want_audio), at most MAX_NC_AREAS in all, and writes one media_area per file
// into ctx.nc_areas from entry 0 on, movie files first; no other entry is
// touched. Prints "Scanning media files...", one line per file and the count.
// Closes ctx.image_file again and returns the number of areas written.
int find_media_areas(RunContext& ctx, const std::string& input_path, bool want_video, bool want_audio);

}  // namespace qivpak
