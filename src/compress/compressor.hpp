// compressor.hpp - packs a plain image into a QIV container
#pragma once

#include "cli/run_context.hpp"

#include <optional>
#include <string>

namespace qivpak {

// Writes the container for `input` to `output`: frames in one of the first
// `nc_count` entries of ctx.nc_areas are stored raw, every other frame is
// compressed at `level` (-1 or 1..9). Writes a line per compressed frame and
// the report to the info file when one is named (appending after the NC area
// section when nc_count is not 0). Ends the run: ctx.quit(0) on success,
// ctx.quit(-1) after a message on any error.
[[noreturn]] void compress_file(RunContext& ctx, const std::string& input, const std::string& output,
                                const std::optional<std::string>& info, int level, int nc_count);

}  // namespace qivpak
