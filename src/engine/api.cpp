// api.cpp - pack() and unpack() for other programs: the tool's chain without a console
#include <qivpak/pack.hpp>

#include "engine/pack_chain.hpp"
#include "format/qiv_format.hpp"
#include "io/same_file.hpp"

namespace qivpak {

namespace {

// Turns the engine's frame events into Progress calls, and asks the caller whether to stop.
class ProgressReporter : public Reporter {
public:
    ProgressReporter(const std::function<void(const Progress&)>& progress, const std::function<bool()>& should_stop)
        : progress_(progress), should_stop_(should_stop) {}

    void stage_started(Stage stage, std::uint32_t frames) override {
        stage_ = stage;
        total_ = frames;
        done_ = 0;
        tell();
    }
    void frame_done(std::uint32_t, std::uint32_t, bool) override {
        ++done_;
        tell();
    }
    void areas_decided(Stage stage, std::span<const NcArea> areas) override {
        if (stage == Stage::analysis) areas_.assign(areas.begin(), areas.end());
    }
    bool should_stop() override { return should_stop_ && should_stop_(); }

    std::vector<QivNcArea> nc_areas() const {
        std::vector<QivNcArea> out;
        for (const NcArea& area : areas_) out.push_back({area.frame_start, area.num_frames});
        return out;
    }

private:
    void tell() const {
        if (progress_) progress_(Progress{stage_, done_, total_});
    }

    const std::function<void(const Progress&)>& progress_;
    const std::function<bool()>& should_stop_;
    Stage stage_ = Stage::packing;
    std::uint64_t done_ = 0;
    std::uint64_t total_ = 0;
    std::vector<NcArea> areas_;
};

[[noreturn]] void fail(const RunError& error, const std::string& input, const std::string& output) {
    throw Error(fault_text(error, input, output));
}

}  // namespace

PackResult pack(const std::string& image, const std::string& container, const PackOptions& options) {
    const int level = options.level == 0 ? -1 : options.level;
    if (level < -1 || level > 9) throw Error("Error: zlib level " + std::to_string(options.level) + " is not 0 to 9");
    const std::uint32_t threshold = options.threshold == 0 ? 8192 : options.threshold;
    if (threshold > 8192)
        throw Error("Error: threshold " + std::to_string(options.threshold) + " is not 0 to 8192");
    const PackSettings settings{level, options.analyze, threshold, options.movies, options.audio, options.threads};

    ProgressReporter reporter(options.progress, options.should_stop);
    PackResult result{};
    try {
        if (same_existing_file(image, container)) throw RunError{Fault::output_is_input};
        OpenImage input = open_image(image);
        File output = pack_image(input, settings, container, reporter, {});
        result.image_size = input.size;
        result.frames = frame_count(input.size);
        result.container_size = close_container(output);
    } catch (const RunError& error) {
        fail(error, image, container);
    } catch (const Cancelled&) {
        throw Stopped();
    }
    result.nc_areas = reporter.nc_areas();
    return result;
}

void unpack(const std::string& container, const std::string& image, const UnpackOptions& options) {
    ProgressReporter reporter(options.progress, options.should_stop);
    try {
        if (same_existing_file(container, image)) throw RunError{Fault::image_is_container};
        unpack_container(container, image, options.threads, reporter, {});
    } catch (const RunError& error) {
        fail(error, container, image);
    } catch (const Cancelled&) {
        throw Stopped();
    }
}

}  // namespace qivpak
