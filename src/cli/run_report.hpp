// run_report.hpp - what a run shows the person: console lines, the progress line and the info file
#pragma once

#include "cli/console.hpp"
#include "cli/progress_line.hpp"
#include "format/reporter.hpp"
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
// lines, the NC area lines of the info file and the frame lines. The run's
// own closing lines are printed by the front end.
class ConsoleReporter : public Reporter {
public:
    ConsoleReporter(Console& console, InfoFile& info) : console_(console), info_(info) {}

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
    std::optional<ProgressLine> progress_;
    Stage stage_ = Stage::media_scan;
    std::uint32_t container_frames_ = 0;  // frames of the container written or read
    std::uint32_t stage_frames_ = 0;      // frames the current stage reports
};

}  // namespace qivpak
