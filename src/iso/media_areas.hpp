// media_areas.hpp - media file areas: every movie and audio file of a disc image becomes an NC area
#pragma once

#include "format/nc_area_table.hpp"
#include "events/reporter.hpp"
#include "io/file.hpp"

#include <cstdint>

namespace qivpak {

// The frames of a file whose data start at logical block `extent` and take
// `data_length` bytes: from the frame that holds its first byte, as many frames
// as the Data Length needs by itself, limited to the image's whole frames
// (image_size / 8192 rounded down). An NC frame is always restored as 8192
// bytes, so the short last frame of an image, and anything past the image,
// stays out of every area; for a file wholly inside an image whose size is a
// multiple of 8192 the limit changes nothing.
NcArea media_area(std::uint32_t extent, std::uint32_t data_length, std::uint64_t image_size);

// Searches the image's ISO 9660 tree for files whose data begin with "PSMF"
// (when want_video) and then for files beginning with "RIFF" (when
// want_audio), at most MAX_NC_AREAS in all, and writes one media_area per file
// into `table` from entry 0 on, movie files first; no other entry is touched.
// Reports stage_started(media_scan), media_file_found for each file in table
// order, then areas_decided(media_scan) with the areas. Returns their count.
// Never fails: what the image does not hold reads as zero.
int find_media_areas(ByteSource& image, bool want_video, bool want_audio, NcAreaTable& table, Reporter& reporter);

}  // namespace qivpak
