// decompressor.hpp - restores the plain image from a QIV container
#pragma once

#include "events/reporter.hpp"
#include "events/run_error.hpp"
#include "io/file.hpp"

namespace qivpak {

// Checks the container, loads
// its index and NC area table, and writes every frame in order to `image`.
// Refuses a damaged container before the first frame whose bytes are wrong,
// so the image then holds only whole, correct frames. Reports
// container_sized, then stage_started/frame_done/stage_finished(unpacking).
// The caller closes the image. Throws RunError (damaged_container,
// write_image) or Stopped. `threads`: workers, 0 for every CPU.
void decompress_file(ByteSource& container, ByteSink& image, unsigned threads, Reporter& reporter);

}  // namespace qivpak
