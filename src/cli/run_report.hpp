// run_report.hpp - what a run shows the person: console lines, the progress line and the info file
#pragma once

#include "cli/console.hpp"
#include "cli/progress_line.hpp"
#include "events/reporter.hpp"
#include "io/file.hpp"

#include <optional>
#include <string>
#include <string_view>

namespace qivpak {

// The optional text report. Opening can fail (a warning, and the run goes on
// without it). The first failed write or close prints "Warning: cannot write
// info file <path>" once, and the run goes on without the info file from then
// on; it is not opened again.
class InfoFile {
public:
    InfoFile(Console& console, std::optional<std::string> path);

    // Opens the file anew (emptied, or appended to); prints `warning` with the
    // path when it cannot be opened. Nothing happens without a path.
    void open(bool append, const char* warning);
    // Prints a warning and forgets the path when the info file would
    // overwrite the run's input or output: no info file is written then.
    void refuse_overwriting(const std::string& input, const std::string& output);
    void print(const char* format, ...) __attribute__((format(printf, 2, 3)));
    void close();

private:
    void check(bool ok);

    Console& console_;
    std::optional<std::string> path_;
    std::optional<File> file_;
    bool failed_ = false;  // a write or close failed: no more info this run
};

// `name` with every byte outside printable ASCII (below 0x20, 0x7F and above) shown as '?'.
std::string printable_name(std::string_view name);

// Renders the engine's reports: announcements, progress lines, media file
// lines, the table sizes, and the info file (opened, its NC area lines and
// frame lines). The run's closing lines are printed by the front end.
// `input` and `output` are the run's files, for the info file's checks.
class ConsoleReporter : public Reporter {
public:
    ConsoleReporter(Console& console, InfoFile& info, const std::string& input, const std::string& output)
        : console_(console), info_(info), input_(input), output_(output) {}

    // Whether this run created (or emptied) its output: a stopped run removes it then.
    bool output_created_here() const { return output_created_; }

    void paths_checked() override;
    void output_created() override;
    void index_written(std::uint32_t frames) override;
    void image_grew(std::uint64_t packed, std::uint64_t now) override;
    void container_sized(std::uint32_t frames) override;
    void stage_started(Stage stage, std::uint32_t frames) override;
    void frame_done(std::uint32_t frame, std::uint32_t stored_length, bool raw) override;
    void stage_finished(Stage stage) override;
    void media_file_found(const MediaFile& file) override;
    void areas_decided(Stage stage, std::span<const NcArea> areas) override;
    bool should_stop() override;

private:
    Console& console_;
    InfoFile& info_;
    const std::string& input_;
    const std::string& output_;
    bool output_created_ = false;
    int nc_areas_ = 0;  // areas the analysis decided on, media areas included
    std::optional<ProgressLine> progress_;
    Stage stage_ = Stage::media_scan;
    std::uint32_t container_frames_ = 0;  // frames of the container written or read
    std::uint32_t stage_frames_ = 0;      // frames the current stage reports
};

}  // namespace qivpak
