// run_context.hpp - the state of one run and its single way out, quit()
#pragma once

#include "cli/console.hpp"
#include "format/nc_area_table.hpp"
#include "io/file.hpp"

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace qivpak {

// Thrown by quit(): the run is over and `code` is its exit status (0, or -1
// for every error). Only the front end catches it.
struct QuitRequest {
    int code;
};

// The compressed frames of a trial-compression analysis, kept so that the
// compressor does not compress any frame twice. Frame f's stream (for each
// whole frame f outside the first media_count areas, in order) lies back to
// back in `file`; its length is entry f of the run's length_table.
struct TrialFrames {
    File file;
    std::uint64_t image_size = 0;  // the image size the analysis saw
    int media_count = 0;
    int level = 0;
};

// What one run of the tool holds. A driver opens its files into these fields
// and either closes and clears them before it returns, or leaves them to
// release(), which the front end calls once the run has ended.
struct RunContext {
    explicit RunContext(Console& out) : console(out) {}

    Console& console;
    std::optional<File> image_file;      // the plain image (read when packing, written when unpacking)
    std::optional<File> container_file;  // the QIV container
    std::optional<File> info_file;       // the optional text report
    std::vector<std::uint32_t> offset_table;
    std::vector<std::uint16_t> length_table;
    NcAreaTable nc_areas{};              // media areas first, then the analysis's areas
    bool wait_for_key = false;           // -w: wait for a key before the process ends
    unsigned threads = 1;                // workers for the frame pipelines
    std::string trial_dir;               // where the analysis keeps its compressed frames; empty: nowhere
    std::optional<TrialFrames> trial;    // the analysis's compressed frames, when kept
    std::string output_path;             // the output this run created; removed when it is interrupted

    // Ends the run: never returns. Throws QuitRequest{code}.
    [[noreturn]] void quit(int code);

    // Closes the image, the container and the info file, each if open, and
    // frees the tables. Safe to call in any state, more than once.
    void release();
};

// Opens `path` for reading into ctx.image_file and returns its size. Ends the
// run with "Error: cannot open input file %s" when it cannot be opened, and
// with "Error: input file %s is larger than 4294967295 bytes" when the
// container format could not describe it. Shared by every driver that reads
// a plain image.
std::uint64_t open_input_image(RunContext& ctx, const std::string& path);

}  // namespace qivpak
