// pack_chain.hpp - one whole pack or unpack: opening the files, the stages in order, closing
//
// Shared by the command line and the library API, so both open, check and
// fail alike. The caller renders the reports and words the errors.
#pragma once

#include "compress/nc_plan.hpp"
#include "format/reporter.hpp"
#include "io/file.hpp"

#include <cstdint>
#include <functional>
#include <string>

namespace qivpak {

struct PackSettings {
    int level = -1;                  // zlib level: -1 or 1..9
    bool analyze = false;            // run the trial-compression analysis
    std::uint32_t threshold = 8192;  // the analysis's threshold, 1..8192
    bool movies = false;             // media scan for "PSMF" files (implies analyze)
    bool audio = false;              // media scan for "RIFF" files (implies analyze)
    unsigned threads = 0;            // workers; 0: every CPU the process may run on
};

struct OpenImage {
    File file;
    std::uint32_t size = 0;
};

// Opens the image to pack. Throws RunError open_image, or image_too_large
// when its size does not fit the header's 32 bits.
OpenImage open_image(const std::string& path);

// The media scan and the analysis when asked for (keeping their streams in
// the container's folder), then, once the NC areas are known, creates the
// container, calls created(plan), and compresses. Throws what the stages
// throw, or RunError create_container. Returns the container, still open.
File pack_image(OpenImage& image, const PackSettings& settings, const std::string& container_path,
                Reporter& reporter, const std::function<void(const NcPlan&)>& created);

// Writes out and closes a finished container; returns its size in bytes.
// Throws RunError{write_container} when the flush or the close fails.
std::uint64_t close_container(ClosableSink& container);

// Opens the container, creates the image (then calls created()), restores
// the image and closes it. Throws RunError open_container, create_image,
// write_image, or what the unpacker throws.
void unpack_container(const std::string& container_path, const std::string& image_path, unsigned threads,
                      Reporter& reporter, const std::function<void()>& created);

// The message for a failure, without newline: `input` and `output` are the
// run's file names (the image and the container when packing, the container
// and the image when unpacking).
std::string fault_text(const RunError& error, const std::string& input, const std::string& output);

}  // namespace qivpak
