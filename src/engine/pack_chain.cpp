// pack_chain.cpp - the pack chain and the wording of every failure
#include "engine/pack_chain.hpp"

#include "compress/compressor.hpp"
#include "compress/nc_analysis.hpp"
#include "format/container_index.hpp"
#include "format/qiv_format.hpp"
#include "iso/media_areas.hpp"


namespace qivpak {

OpenImage open_image(const std::string& path) {
    std::optional<File> file = File::open(path, File::Mode::read);
    if (!file) throw RunError{Fault::open_image};
    const std::uint64_t size = file->size();
    if (size > MAX_IMAGE_SIZE) throw RunError{Fault::image_too_large};
    return {std::move(*file), static_cast<std::uint32_t>(size)};
}

File create_output(const std::string& path, Fault fault) {
    std::optional<File> file = File::open(path, File::Mode::truncate);
    if (!file) throw RunError{fault};
    return std::move(*file);
}

std::string trial_dir_for(const std::string& output) { return directory_of(output); }

void pack_image(OpenImage& image, const PackSettings& settings, const std::string& trial_dir, Reporter& reporter,
                const std::function<File&(const NcPlan&)>& open_container) {
    NcPlan plan;
    if (settings.analyze || settings.movies || settings.audio) {
        if (settings.movies || settings.audio)
            plan.media_count = find_media_areas(image.file, settings.movies, settings.audio, plan.areas, reporter);
        const AnalysisSettings analysis{settings.level, settings.threshold, settings.threads, trial_dir};
        analyze_nc_areas(image.file, image.size, analysis, plan, reporter);
    }
    File& container = open_container(plan);
    compress_file(image.file, image.size, container, plan, {settings.level, settings.threads}, reporter);
}

std::uint64_t close_container(File& container) {
    const bool flushed = container.flush();
    const std::uint64_t size = container.size();
    if (!flushed || !container.close()) throw RunError{Fault::write_container};
    return size;
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
