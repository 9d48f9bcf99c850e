// run_report.cpp - the console and info-file texts of every stage
#include "cli/run_report.hpp"

#include "format/qiv_format.hpp"
#include "io/interrupt.hpp"
#include "io/same_file.hpp"

#include <cstdarg>
#include <cstdio>
#include <string>

namespace qivpak {

namespace {

// Where each stage's percentages start: just after its announcement, one
// blank column between. "Compressing..." is 14 characters long, so its
// percentages start at column 16 (100 at 15).
constexpr int PACK_COLUMN = 16;      // "Compressing..."
constexpr int ANALYSIS_COLUMN = 19;  // "Analyzing file..."
constexpr int UNPACK_COLUMN = 18;    // "Decompressing..."

// A percentage is shown after every this many frames.
constexpr std::uint32_t PACK_INTERVAL = 600;
constexpr std::uint32_t ANALYSIS_INTERVAL = 1000;
constexpr std::uint32_t UNPACK_INTERVAL = 600;

}  // namespace

InfoFile::InfoFile(Console& console, std::optional<std::string> path) : console_(console), path_(std::move(path)) {}

void InfoFile::open(bool append, const char* warning) {
    if (!path_ || failed_) return;
    file_ = File::open(*path_, append ? File::Mode::append_text : File::Mode::truncate_text);
    if (!file_) console_.print(warning, path_->c_str());
}

void InfoFile::refuse_overwriting(const std::string& input, const std::string& output) {
    if (!path_ || !(same_existing_file(*path_, input) || same_file_or_path(*path_, output))) return;
    console_.print("Warning: info file %s is the input or output file; no info file is written\n", path_->c_str());
    path_.reset();
}

void InfoFile::print(const char* format, ...) {
    if (!file_) return;
    std::va_list args;
    va_start(args, format);
    const std::optional<std::string> text = format_text(format, args);
    va_end(args);
    check(text && file_->write_all(text->data(), text->size()));
}

void InfoFile::close() {
    if (file_) check(file_->close());
    file_.reset();
}

void InfoFile::check(bool ok) {
    if (ok) return;
    file_.reset();
    if (!failed_) console_.print("Warning: cannot write info file %s\n", path_->c_str());
    failed_ = true;
}

std::string printable_name(std::string_view name) {
    std::string shown(name);
    for (char& c : shown) {
        auto byte = static_cast<unsigned char>(c);
        if (byte < 0x20 || byte > 0x7E) c = '?';
    }
    return shown;
}

void ConsoleReporter::paths_checked() { info_.refuse_overwriting(input_, output_); }

void ConsoleReporter::output_created() {
    output_created_ = true;
    // With NC areas the analysis has written its section: keep it.
    info_.open(nc_areas_ != 0, "Warning: cannot open/create info file %s\n");
}

void ConsoleReporter::index_written(std::uint32_t frames) {
    console_.print("Table size: %d+%d=%d\n", static_cast<int>(4 * frames), static_cast<int>(2 * frames),
                   static_cast<int>(6 * frames));
}

void ConsoleReporter::image_grew(std::uint64_t packed, std::uint64_t now) {
    console_.print("Warning: input file %s grew from %llu to %llu bytes while it was packed; the bytes added are "
                   "not packed\n",
                   input_.c_str(), static_cast<unsigned long long>(packed), static_cast<unsigned long long>(now));
}

void ConsoleReporter::container_sized(std::uint32_t frames) {
    container_frames_ = frames;
    console_.print("N of frames: %d\n", static_cast<int>(frames));
}

void ConsoleReporter::stage_started(Stage stage, std::uint32_t frames) {
    stage_frames_ = frames;
    switch (stage) {
    case Stage::media_scan: console_.write("Scanning media files...\n"); break;
    case Stage::analysis:
        info_.open(false, "Warning: cannot create info file %s\n");
        progress_.emplace(console_, "Analyzing file...\n", ANALYSIS_COLUMN);
        break;
    case Stage::packing: progress_.emplace(console_, "Compressing...\n", PACK_COLUMN); break;
    case Stage::unpacking: progress_.emplace(console_, "Decompressing...\n", UNPACK_COLUMN); break;
    }
    stage_ = stage;
}

void ConsoleReporter::frame_done(std::uint32_t frame, std::uint32_t stored_length, bool raw) {
    switch (stage_) {
    case Stage::media_scan: break;
    case Stage::analysis:
        // Media frames are not analysed, and show no progress.
        if (!raw && frame % ANALYSIS_INTERVAL == 0) progress_->show(100u * frame / stage_frames_);
        break;
    case Stage::packing: {
        if (!raw)
            info_.print("Frame #%d: %d -> %d(%d%%)\n", static_cast<int>(frame), static_cast<int>(FRAME_SIZE),
                        static_cast<int>(stored_length), static_cast<int>((stored_length * 100) >> 13));
        const std::uint32_t written = frame + 1;
        if (written % PACK_INTERVAL == 0) progress_->show(100u * written / stage_frames_);
        break;
    }
    case Stage::unpacking:
        // Raw frames show no progress.
        if (!raw && frame % UNPACK_INTERVAL == 0) progress_->show(100u * frame / stage_frames_);
        break;
    }
}

void ConsoleReporter::stage_finished(Stage stage) {
    progress_->finish();
    progress_.reset();
    if (stage == Stage::packing) {
        console_.print("Total frames written: %d\n", static_cast<int>(container_frames_));
        console_.write("Writing tables...\n");
    }
}

void ConsoleReporter::media_file_found(const MediaFile& file) {
    console_.print("Media file found: %s (offset=%08llX,size=%dKB)\n", printable_name(file.name).c_str(),
                   static_cast<unsigned long long>(file.offset), static_cast<int>(file.size / 1024));
}

void ConsoleReporter::areas_decided(Stage stage, std::span<const NcArea> areas) {
    const int count = static_cast<int>(areas.size());
    nc_areas_ = count;
    if (stage == Stage::media_scan) {
        console_.print("%d media files found and forced to be NC areas.\n", count);
        return;
    }
    for (int i = 0; i < count; ++i) {
        const NcArea& area = areas[static_cast<std::size_t>(i)];
        info_.print("NCAREA #%d: framestart=%d,size=%d frames\n", i, static_cast<int>(area.frame_start),
                    static_cast<int>(area.num_frames));
    }
    info_.print("\n\n");
    info_.close();
    console_.print("Numbers of NC Areas: %d\n", count);
}

bool ConsoleReporter::should_stop() { return pending_interrupt() != 0; }

}  // namespace qivpak
