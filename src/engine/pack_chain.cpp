// pack_chain.cpp - the pack chain and the wording of every failure
#include "engine/pack_chain.hpp"

#include "compress/compressor.hpp"
#include "compress/nc_analysis.hpp"
#include "decompress/decompressor.hpp"
#include "format/container_index.hpp"
#include "format/qiv_format.hpp"
#include "iso/media_areas.hpp"

namespace qivpak {

namespace {

// Creates (or empties) an output file; throws RunError{fault} when it cannot.
File create_output(const std::string& path, Fault fault) {
    std::optional<File> file = File::open(path, File::Mode::truncate);
    if (!file) throw RunError{fault};
    return std::move(*file);
}

}  // namespace

OpenImage open_image(const std::string& path) {
    std::optional<File> file = File::open(path, File::Mode::read);
    if (!file) throw RunError{Fault::open_image};
    const std::uint64_t size = file->size();
    if (size > MAX_IMAGE_SIZE) throw RunError{Fault::image_too_large};
    return {std::move(*file), static_cast<std::uint32_t>(size)};
}

File pack_image(OpenImage& image, const PackSettings& settings, const std::string& container_path,
                Reporter& reporter, const std::function<void(const NcPlan&)>& created) {
    NcPlan plan;
    if (settings.analyze || settings.movies || settings.audio) {
        if (settings.movies || settings.audio)
            plan.media_count = find_media_areas(image.file, settings.movies, settings.audio, plan.areas, reporter);
        const AnalysisSettings analysis{settings.level, settings.threshold, settings.threads,
                                        directory_of(container_path)};
        analyze_nc_areas(image.file, image.size, analysis, plan, reporter);
    }
    File container = create_output(container_path, Fault::create_container);
    if (created) created(plan);
    compress_file(image.file, image.size, container, plan, {settings.level, settings.threads}, reporter);
    return container;
}

std::uint64_t close_container(ClosableSink& container) {
    const bool flushed = container.flush();
    const std::uint64_t size = container.size();
    if (!flushed || !container.close()) throw RunError{Fault::write_container};
    return size;
}

void unpack_container(const std::string& container_path, const std::string& image_path, unsigned threads,
                      Reporter& reporter, const std::function<void()>& created) {
    std::optional<File> container = File::open(container_path, File::Mode::read);
    if (!container) throw RunError{Fault::open_container};
    File image = create_output(image_path, Fault::create_image);
    if (created) created();
    decompress_file(*container, image, threads, reporter);
    if (!image.close()) throw RunError{Fault::write_image};
}

std::string fault_text(const RunError& error, const std::string& input, const std::string& output) {
    switch (error.fault) {
    case Fault::open_image: return "Error: cannot open input file " + input;
    case Fault::image_too_large: return "Error: input file " + input + " is larger than 4294967295 bytes";
    case Fault::read_image: return "Error: cannot read input file " + input;
    case Fault::analyze_image: return "Error analyzing input file " + input + ".";
    case Fault::create_container: return "Error: cannot create output file " + output;
    case Fault::write_container: return "I/O write error.";
    case Fault::compress_buffer: return "Not enough memory in compressed buffer!";
    case Fault::compress_failed: return "Memory error while compressing.";
    case Fault::container_too_large:
        return "Error: output file " + output + " would be larger than the format allows";
    case Fault::output_is_input: return "Error: output file " + output + " is the input file";
    case Fault::open_container: return "Cannot open input file " + input;
    case Fault::create_image: return "Cannot create output file " + output;
    case Fault::damaged_container: {
        std::string text = fault_message(error.container);
        text.pop_back();
        return text;
    }
    case Fault::write_image: return "I/O error writing to output file.";
    case Fault::image_is_container: return "Output file " + output + " is the input file";
    }
    return "Error";
}

}  // namespace qivpak
