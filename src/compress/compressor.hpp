// compressor.hpp - packs a plain image into a QIV container
#pragma once

#include "compress/nc_plan.hpp"
#include "events/reporter.hpp"
#include "events/run_error.hpp"
#include "io/file.hpp"

#include <cstdint>

namespace qivpak {

struct CompressSettings {
    int level = -1;        // zlib level: -1 (zlib's default) or 1..9
    unsigned threads = 0;  // workers; 0: every CPU the process may run on
};

// Writes the container of the image (`image_size` bytes, read with positional
// reads from `image`) to `container`, which is empty:
// header, placeholder index, the NC area table when plan.count is not 0, the
// frames in order (raw in one of the plan's areas, else compressed, taking the
// analysis's stream where it made one), then the index over the placeholders.
// Reports container_sized, stage_started/frame_done/stage_finished(packing).
// The caller flushes and closes the container. Throws RunError (read_image,
// write_container, compress_buffer, compress_failed, container_too_large) or
// Stopped; the container then holds what was written so far.
void compress_file(ByteSource& image, std::uint32_t image_size, ByteSink& container, NcPlan& plan,
                   const CompressSettings& settings, Reporter& reporter);

}  // namespace qivpak
