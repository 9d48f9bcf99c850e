// batch_display.hpp - what qiv pack and qiv unpack show: a line or a progress bar per input, and a summary table
#pragma once

#include "qiv/commands.hpp"

#include <qivpak/pack.hpp>

#include <chrono>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace qiv {

// What became of one input of a batch.
enum class Outcome { not_started, done, skipped, failed, interrupted };

struct BatchItem {
    std::string input, output;               // as the person wrote them, UTF-8
    std::optional<std::uint64_t> in_size;    // bytes of the input, where it could be told
    std::optional<std::uint64_t> out_size;   // bytes of the output written (done only)
    std::optional<double> seconds;           // from the start of its work to its end, once started
    Outcome outcome = Outcome::not_started;
    std::string why;                         // failed: the message
};

// Shows a batch as it runs. On a terminal (Streams::out_is_terminal) each input started gets a
// progress bar redrawn in place, at most five times a second, that its end line replaces; elsewhere
// a line when an input starts and one when it ends. Failures also go to the error stream, as
// "qiv: INPUT: MESSAGE". The summary table comes last.
class BatchDisplay {
public:
    // `count`: inputs in the batch; `packing`: outputs are containers (else images).
    BatchDisplay(Streams& io, std::size_t count, bool packing);

    // Input `index` (from 0) begins its work.
    void started(std::size_t index, const BatchItem& item);
    // How far the input begun last has come (drawn on a terminal only).
    void progress(const qivpak::Progress& progress);
    // Takes the progress bar off the terminal, if one is drawn, so that a message can take the line.
    void clear() { clear_bar(); }
    // Input `index` has its outcome.
    void ended(std::size_t index, const BatchItem& item);
    // The table of every input, then the count of each outcome.
    void summary(const std::vector<BatchItem>& items);

private:
    using Clock = std::chrono::steady_clock;

    std::string counter(std::size_t index) const;  // "[2/5]"
    std::string outcome_text(const BatchItem& item) const;  // the summary's result: "packed", "failed: WHY"
    std::string ratio(const BatchItem& item) const;         // the container's size in percent of the image's
    void draw(const std::string& line);            // replaces the bar on the terminal
    void clear_bar();

    Streams& io_;
    std::size_t count_;
    bool packing_;
    int columns_;                       // the terminal's width; 0 when unknown or not a terminal
    std::string bar_counter_;           // "[2/5]" of the input begun last
    std::string bar_name_;              // and its name
    std::size_t drawn_ = 0;             // columns of the bar now on the terminal; 0: none
    std::optional<qivpak::Stage> stage_;  // the stage the bar shows
    Clock::time_point stage_start_, last_draw_;
};

}  // namespace qiv
