// run.cpp - the steps of one pack and one unpack, and their failures worded with the run's file names
#include "engine/run.hpp"

#include "compress/compressor.hpp"
#include "compress/nc_analysis.hpp"
#include "decompress/decompressor.hpp"
#include "events/messages.hpp"
#include "format/qiv_format.hpp"
#include "io/file.hpp"
#include "io/permissions.hpp"
#include "io/same_file.hpp"
#include "iso/media_areas.hpp"

namespace qivpak {

namespace {

// Creates (or empties) an output file; throws RunError{fault} when it cannot.
File create_output(const std::string& path, Fault fault) {
    std::optional<File> file = File::open(path, File::Mode::truncate);
    if (!file) throw RunError{fault};
    return std::move(*file);
}

struct OpenImage {
    File file;
    std::uint32_t size = 0;
};

// The image to pack, with its size (a drive's: its medium's): one that is no
// regular file or block device is refused as such; one that cannot be
// opened, or whose size cannot be told, as unopenable; one too large for the
// header's 32 bits as too large.
OpenImage open_image(const std::string& path) {
    // Only a file or a drive has a size to pack up to; a pipe would also block the open.
    const InputKind kind = input_kind(path);
    if (kind == InputKind::other) throw RunError{Fault::image_not_a_file};
    std::optional<File> file = File::open(path, File::Mode::read);
    if (!file) throw RunError{Fault::open_image};
    const std::optional<std::uint64_t> size = file->stat_size();
    if (!size) throw RunError{Fault::open_image};
    if (*size > MAX_IMAGE_SIZE) throw RunError{Fault::image_too_large};
    return {std::move(*file), static_cast<std::uint32_t>(*size)};
}

// The NC areas of the pack: the media areas, then the analysis's, with the
// analysis's streams kept in the container's folder for the compressor.
NcPlan plan_areas(OpenImage& image, const PackOptions& options, const std::string& container_path,
                  Reporter& reporter) {
    NcPlan plan;
    if (!options.analyze) return plan;
    if (options.movies || options.audio)
        plan.media_count = find_media_areas(image.file, options.movies, options.audio, plan.areas, reporter);
    const std::string scratch = options.scratch_folder.empty() ? directory_of(container_path) : options.scratch_folder;
    const AnalysisSettings analysis{options.level, options.threshold, options.threads, scratch};
    analyze_nc_areas(image.file, image.size, analysis, plan, reporter);
    return plan;
}

// A stop asked for after the last frame still ends the run: until the caller
// has the result, the output is not finished. Asked after a failure too.
void check_stop(Reporter& reporter) {
    if (reporter.should_stop()) throw Stopped();
}

// The system's words for a failed write of the output, which the tool's own
// message ("I/O write error.") does not give; empty for other failures.
std::string write_reason(const RunError& error, const std::optional<File>& output) {
    const bool write = error.fault == Fault::write_container || error.fault == Fault::write_image;
    return write && output ? output->failure() : std::string();
}

}  // namespace

PackResult pack_file(const std::string& image_path, const std::string& container_path, const PackOptions& requested,
                     Reporter& reporter) {
    const PackOptions options = normalize(requested);
    std::optional<File> output;  // held here so that a failed write can still say why
    try {
        if (same_existing_file(image_path, container_path)) throw RunError{Fault::output_is_input};
        reporter.paths_checked();
        OpenImage image = open_image(image_path);
        NcPlan plan = plan_areas(image, options, container_path, reporter);
        File& container = output.emplace(create_output(container_path, Fault::create_container));
        restrict_reading_to(container_path, image_path);  // a private image never packs to a public container
        reporter.output_created();
        compress_file(image.file, image.size, container, plan, {options.level, options.threads}, reporter);
        const std::uint32_t frames = frame_count(image.size);
        reporter.index_written(frames);
        const bool flushed = container.flush();
        const std::uint64_t container_size = container.size();
        if (!flushed || !container.close()) throw RunError{Fault::write_container};
        // Bytes added while the pack ran are not in the container: that is said, not passed over.
        const std::uint64_t size_now = image.file.stat_size().value_or(image.size);
        if (size_now > image.size) reporter.image_grew(image.size, size_now);
        check_stop(reporter);
        PackResult result{image.size, frames, container_size, {}, size_now > image.size};
        for (int i = 0; i < plan.count; ++i) {
            const NcArea& area = plan.areas[static_cast<std::size_t>(i)];
            result.nc_areas.push_back({area.frame_start, area.num_frames});
        }
        return result;
    } catch (const RunError& error) {
        check_stop(reporter);  // a call an interruption cut short is the stop, not a fault of the files
        throw Error(fault_text(error, image_path, container_path), write_reason(error, output));
    }
}

void unpack_file(const std::string& container_path, const std::string& image_path, unsigned threads,
                 Reporter& reporter) {
    std::optional<File> output;  // held here so that a failed write can still say why
    try {
        if (same_existing_file(container_path, image_path)) throw RunError{Fault::image_is_container};
        reporter.paths_checked();
        std::optional<File> container = File::open(container_path, File::Mode::read);
        if (!container) throw RunError{Fault::open_container};
        File& image = output.emplace(create_output(image_path, Fault::create_image));
        restrict_reading_to(image_path, container_path);
        reporter.output_created();
        decompress_file(*container, image, threads, reporter);
        if (!image.close()) throw RunError{Fault::write_image};
        check_stop(reporter);
    } catch (const RunError& error) {
        check_stop(reporter);  // a call an interruption cut short is the stop, not a fault of the files
        // A damaged container is refused as the reader refuses it, naming the frame.
        if (error.fault == Fault::damaged_container)
            throw QivFormatError(error.container, fault_text(error, container_path, image_path), error.frame);
        throw Error(fault_text(error, container_path, image_path), write_reason(error, output));
    }
}

}  // namespace qivpak
