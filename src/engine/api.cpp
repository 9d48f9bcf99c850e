// api.cpp - pack() and unpack() for other programs: the engine's run without a console
#include <qivpak/pack.hpp>

#include "engine/run.hpp"

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
    bool should_stop() override { return should_stop_ && should_stop_(); }

private:
    void tell() const {
        if (progress_) progress_(Progress{stage_, done_, total_});
    }

    const std::function<void(const Progress&)>& progress_;
    const std::function<bool()>& should_stop_;
    Stage stage_ = Stage::packing;
    std::uint64_t done_ = 0;
    std::uint64_t total_ = 0;
};

void check_threads(unsigned threads) {
    if (threads > MAX_REQUESTED_THREADS)
        throw Error("Error: threads " + std::to_string(threads) + " is not 0 to 1024");
}

}  // namespace

PackOptions normalize(PackOptions options) {
    if (options.level < -1 || options.level > 9)
        throw Error("Error: zlib level " + std::to_string(options.level) + " is not 0 to 9");
    if (options.threshold > FRAME_SIZE)
        throw Error("Error: threshold " + std::to_string(options.threshold) + " is not 0 to 8192");
    check_threads(options.threads);
    if (options.level == 0) options.level = -1;
    if (options.threshold == 0) options.threshold = FRAME_SIZE;
    if (options.movies || options.audio) options.analyze = true;
    return options;
}

PackResult pack(const std::string& image, const std::string& container, const PackOptions& options) {
    ProgressReporter reporter(options.progress, options.should_stop);
    return pack_file(image, container, options, reporter);
}

void unpack(const std::string& container, const std::string& image, const UnpackOptions& options) {
    check_threads(options.threads);
    ProgressReporter reporter(options.progress, options.should_stop);
    unpack_file(container, image, options.threads, reporter);
}

}  // namespace qivpak
