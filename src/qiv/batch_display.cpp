// batch_display.cpp - the lines, progress bars and summary table of qiv pack and qiv unpack
#include "qiv/batch_display.hpp"

#include "io/terminal.hpp"
#include "qiv/table.hpp"
#include "qiv/text.hpp"
#include "qiv/utf8.hpp"

#include <algorithm>
#include <array>

namespace qiv {

namespace {

constexpr std::size_t kBarWidth = 20;  // characters between the brackets
constexpr std::size_t kMinName = 16;   // columns of the name below which the bar is left out
constexpr auto kRedrawEvery = std::chrono::milliseconds(200);

const char* stage_name(qivpak::Stage stage) {
    switch (stage) {
    case qivpak::Stage::media_scan: return "media scan";
    case qivpak::Stage::analysis: return "analysis";
    case qivpak::Stage::packing: return "packing";
    case qivpak::Stage::unpacking: return "unpacking";
    }
    return "";
}

std::string size_cell(const std::optional<std::uint64_t>& bytes) { return bytes ? megabytes(*bytes) : "-"; }

}  // namespace

BatchDisplay::BatchDisplay(Streams& io, std::size_t count, bool packing)
    : io_(io), count_(count), packing_(packing), columns_(io.out_is_terminal ? qivpak::terminal_columns(io.out) : 0) {}

std::string BatchDisplay::counter(std::size_t index) const {
    return "[" + std::to_string(index + 1) + "/" + std::to_string(count_) + "]";
}

std::string BatchDisplay::outcome_text(const BatchItem& item) const {
    switch (item.outcome) {
    case Outcome::not_started: return "not started";
    case Outcome::done: return packing_ ? "packed" : "unpacked";
    case Outcome::skipped: return "skipped: output exists";
    case Outcome::failed: return "failed: " + item.why;
    case Outcome::interrupted: return "interrupted";
    }
    return "";
}

std::string BatchDisplay::ratio(const BatchItem& item) const {
    const std::uint64_t in = item.in_size.value_or(0), out = item.out_size.value_or(0);
    return packing_ ? percent(out, in) : percent(in, out);
}

void BatchDisplay::started(std::size_t index, const BatchItem& item) {
    bar_counter_ = counter(index);
    bar_name_ = shown(item.input);
    stage_.reset();
    if (io_.out_is_terminal) return;  // the bar shows it from the first progress on
    std::fprintf(io_.out, "%s %s -> %s\n", bar_counter_.c_str(), shown(item.input).c_str(), shown(item.output).c_str());
    std::fflush(io_.out);
}

void BatchDisplay::progress(const qivpak::Progress& progress) {
    if (!io_.out_is_terminal) return;
    const Clock::time_point now = Clock::now();
    if (stage_ != progress.stage) {
        stage_ = progress.stage;
        stage_start_ = now;
    } else if (now - last_draw_ < kRedrawEvery && progress.done < progress.total) {
        return;
    }
    last_draw_ = now;
    // ": packing  45.2% [####......] 123.4 MB/s, 0:12 left"
    std::string share, bar, rate;
    if (progress.total > 0) {
        share = percent(progress.done, progress.total);
        share.insert(0, 7 - std::min<std::size_t>(share.size(), 6), ' ');
        const auto filled = static_cast<std::size_t>(kBarWidth * progress.done / progress.total);
        bar = " [" + std::string(filled, '#') + std::string(kBarWidth - filled, '.') + "]";
        const double seconds = std::chrono::duration<double>(now - stage_start_).count();
        if (progress.done > 0 && seconds > 0) {
            const double done = static_cast<double>(progress.done), left = static_cast<double>(progress.total - progress.done);
            char text[96];
            std::snprintf(text, sizeof text, " %.1f MB/s, %s left", done * 8192 / seconds / 1e6,
                          clock_time(seconds * left / done).c_str());
            rate = text;
        }
    }
    // The line must never wrap, or \r would not bring the cursor back to its start: on a narrow
    // terminal the bar goes first, then the name gives way.
    const std::size_t room = columns_ > 0 ? static_cast<std::size_t>(columns_) - 1 : SIZE_MAX;
    std::string status = std::string(": ") + stage_name(progress.stage) + share + bar + rate;
    const std::size_t counter_width = columns_of(bar_counter_) + 1;
    if (counter_width + std::min(kMinName, columns_of(bar_name_)) + columns_of(status) > room)
        status = std::string(": ") + stage_name(progress.stage) + share + rate;
    const std::size_t fixed = counter_width + columns_of(status);
    // However narrow the terminal, the line is cut to it.
    draw(cut_to(bar_counter_ + " " + fit_end(bar_name_, room > fixed ? room - fixed : 0) + status, room));
}

void BatchDisplay::draw(const std::string& line) {
    const std::size_t width = columns_of(line);
    std::fprintf(io_.out, "\r%s%s", line.c_str(), std::string(drawn_ > width ? drawn_ - width : 0, ' ').c_str());
    std::fflush(io_.out);
    drawn_ = width;
}

void BatchDisplay::clear_bar() {
    if (drawn_ == 0) return;
    std::fprintf(io_.out, "\r%s\r", std::string(drawn_, ' ').c_str());
    drawn_ = 0;
}

void BatchDisplay::ended(std::size_t index, const BatchItem& item) {
    clear_bar();
    std::string result;
    switch (item.outcome) {
    case Outcome::done:
        result = outcome_text(item) + ", " + size_cell(item.in_size) + " -> " + size_cell(item.out_size) + " (" +
                 ratio(item) + ") in " + clock_time(item.seconds.value_or(0));
        break;
    case Outcome::skipped: result = "skipped, " + shown(item.output) + " exists (--force replaces it)"; break;
    case Outcome::failed:
        result = "failed";  // why: on the error stream, and in the summary
        std::fflush(io_.out);
        std::fprintf(io_.err, "qiv: %s: %s\n", item.input.c_str(), item.why.c_str());
        std::fflush(io_.err);
        break;
    default: result = outcome_text(item); break;
    }
    std::fprintf(io_.out, "%s %s -> %s: %s\n", counter(index).c_str(), shown(item.input).c_str(),
                 shown(item.output).c_str(), result.c_str());
    std::fflush(io_.out);
}

void BatchDisplay::summary(const std::vector<BatchItem>& items) {
    std::vector<std::vector<std::string>> rows = {{"input", "output", "in size", "out size", "ratio", "time", "result"}};
    std::array<std::size_t, 5> counts{};  // of each Outcome
    for (const BatchItem& item : items) {
        const bool done = item.outcome == Outcome::done;
        rows.push_back({shown(item.input), shown(item.output), size_cell(item.in_size), size_cell(done ? item.out_size : std::nullopt),
                        done ? ratio(item) : "-", item.seconds ? clock_time(*item.seconds) : "-", shown(outcome_text(item))});
        ++counts[static_cast<std::size_t>(item.outcome)];
    }
    std::fprintf(io_.out, "\n%s", aligned_table(rows, {false, false, true, true, true, true, false}).c_str());
    // "3 inputs: 1 packed, 1 skipped, 1 failed": the outcomes that occur, in this order.
    const std::pair<Outcome, const char*> order[] = {{Outcome::done, packing_ ? "packed" : "unpacked"},
                                                     {Outcome::skipped, "skipped"},
                                                     {Outcome::failed, "failed"},
                                                     {Outcome::interrupted, "interrupted"},
                                                     {Outcome::not_started, "not started"}};
    std::string totals = std::to_string(items.size()) + (items.size() == 1 ? " input:" : " inputs:");
    const char* separator = " ";
    for (const auto& [outcome, word] : order) {
        const std::size_t n = counts[static_cast<std::size_t>(outcome)];
        if (n == 0) continue;
        totals += separator + std::to_string(n) + " " + word;
        separator = ", ";
    }
    std::fprintf(io_.out, "%s\n", totals.c_str());
    std::fflush(io_.out);
}

}  // namespace qiv
