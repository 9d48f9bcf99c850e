// run.hpp - one whole pack or unpack of named files, from the same-file check to the close
//
// The engine owns a run: it refuses an output that is the input, opens the
// input, runs the media scan and the analysis when asked, creates the output,
// runs the driver, writes the index, closes the output and returns the sizes.
// Every front end (the tool, the library API, qiv through the API) runs the
// same steps in the same order; they hear of each step through the Reporter
// and render it, and they word nothing themselves: a failure comes out as an
// Error whose what() is the message, a stop as Stopped.
#pragma once

#include "events/reporter.hpp"

#include <qivpak/pack.hpp>

#include <string>

namespace qivpak {

// Packs `image_path` into `container_path` (created, or emptied) with the
// options (normalized first). Throws Error with the failure's message, or
// Stopped when the reporter asked for it; the container then holds part of
// the result and is left for the caller to remove.
PackResult pack_file(const std::string& image_path, const std::string& container_path, const PackOptions& options,
                     Reporter& reporter);

// Restores the image of `container_path` into `image_path` (created, or
// emptied) with `threads` workers (0: every CPU). Throws as pack_file does.
void unpack_file(const std::string& container_path, const std::string& image_path, unsigned threads,
                 Reporter& reporter);

}  // namespace qivpak
