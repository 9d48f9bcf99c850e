// report.cpp - qiv report: which roms of the DAT files the containers hold, which are missing or bad, and what else is there
#include "io/file.hpp"
#include "io/interrupt.hpp"
#include "qiv/commands.hpp"
#include "qiv/container_hashes.hpp"
#include "qiv/dat_files.hpp"
#include "qiv/failure.hpp"
#include "qiv/json.hpp"
#include "qiv/paths.hpp"
#include "qiv/pending_output.hpp"
#include "qiv/table.hpp"

#include <array>
#include <optional>

namespace qiv {

namespace {

enum class Status { have, missing, bad, duplicate, unknown };
constexpr std::array<const char*, 5> kStatusNames = {"have", "missing", "bad", "duplicate", "unknown"};

// One line of the report: a rom of the DATs, or a container that holds none of them (or a second copy).
struct Line {
    Status status;
    const DatRom* rom;     // null for an unknown container
    std::string container; // empty for a missing rom
};

// What the pass over the containers found of each one that could be read.
struct Found {
    std::string file;
    DatVerdict verdict;
};

// The lines: every rom in DAT order (held, else bad when a container is named after it, else missing),
// then, in the order given, the containers that no rom's line names.
std::vector<Line> lines_of(const std::vector<DatRom>& roms, const std::vector<Found>& found) {
    std::vector<std::optional<std::size_t>> holder(roms.size()), named(roms.size());
    std::vector<bool> on_rom_line(found.size());
    for (std::size_t c = 0; c < found.size(); ++c) {
        const DatVerdict& verdict = found[c].verdict;
        if (!verdict.rom) continue;
        const std::size_t r = static_cast<std::size_t>(verdict.rom - roms.data());
        auto& slot = verdict.kind == DatVerdict::Kind::verified ? holder[r] : named[r];
        if (!slot) slot = c;
    }
    std::vector<Line> lines;
    for (std::size_t r = 0; r < roms.size(); ++r) {
        const std::optional<std::size_t> shown_by = holder[r] ? holder[r] : named[r];
        if (shown_by) on_rom_line[*shown_by] = true;
        lines.push_back({holder[r] ? Status::have : named[r] ? Status::bad : Status::missing, &roms[r],
                         shown_by ? found[*shown_by].file : ""});
    }
    for (std::size_t c = 0; c < found.size(); ++c) {
        if (on_rom_line[c]) continue;
        const DatVerdict& verdict = found[c].verdict;
        const Status status = verdict.kind == DatVerdict::Kind::verified ? Status::duplicate
                              : verdict.kind == DatVerdict::Kind::mismatch ? Status::bad
                                                                           : Status::unknown;
        lines.push_back({status, verdict.rom, found[c].file});
    }
    return lines;
}

void print_table(std::FILE* out, const std::vector<Line>& lines) {
    std::vector<std::vector<std::string>> rows = {{"status", "game", "rom", "container"}};
    for (const Line& line : lines)
        rows.push_back({kStatusNames[static_cast<std::size_t>(line.status)], line.rom ? shown(line.rom->game) : "-",
                        line.rom ? shown(line.rom->name) : "-", line.container.empty() ? "-" : shown(line.container)});
    std::fputs(aligned_table(rows, {false, false, false, false}).c_str(), out);
}

std::string json_of(const std::vector<Line>& lines, const std::array<std::uint64_t, 5>& counts, std::uint64_t failed) {
    std::string results;
    for (const Line& line : lines) {
        JsonObject object;
        object.add("status", kStatusNames[static_cast<std::size_t>(line.status)]);
        if (line.rom) object.add("game", line.rom->game).add("rom", line.rom->name);
        if (!line.container.empty()) object.add_name("container", line.container);
        results += (results.empty() ? "\n  " : ",\n  ") + object.text();
    }
    JsonObject totals;
    for (std::size_t s = 0; s < counts.size(); ++s) totals.add(kStatusNames[s], counts[s]);
    totals.add("failed", failed);
    return "{\"results\": [" + results + "\n],\n\"counts\": " + totals.text() + "}\n";
}

// Writes the DAT of the missing roms to `out` through a temporary file; false after a message.
bool write_fixdat(const std::string& out, const std::vector<Line>& lines, const std::vector<std::string>& dats,
                  std::FILE* err) {
    std::vector<const DatRom*> missing;
    for (const Line& line : lines)
        if (line.status == Status::missing) missing.push_back(line.rom);
    std::vector<std::string> sources;
    for (const std::string& dat : dats) sources.push_back(to_utf8(to_path(dat).filename()));
    const std::string xml = fixdat_xml(missing, sources);
    try {
        PendingOutput pending(out);
        std::optional<qivpak::File> file = qivpak::File::open(pending.temp_path(), qivpak::File::Mode::truncate);
        if (!file) throw InputFailed("cannot open the temporary file");
        const bool written = file->write_all(xml.data(), xml.size());
        if (!file->close() || !written) throw InputFailed(file->failure().empty() ? "cannot be written" : file->failure());
        pending.put_in_place(true);
    } catch (const InputFailed& failure) {
        std::fprintf(err, "qiv: %s: cannot write the fixdat: %s\n", out.c_str(), failure.what());
        return false;
    }
    return true;
}

}  // namespace

int report_command(const ReportArgs& args, Streams& io) {
    std::vector<DatRom> roms;
    if (!read_dats(args.dats, roms, io.err)) return EXIT_SOME_FAILED;
    std::vector<Found> found;
    std::uint64_t failed = 0;
    const auto each = [&](const std::string& file, const ContainerHashes* hashed, const std::exception* failure) {
        if (failure) {
            print_failure(io.err, file, *failure);
            ++failed;
        } else {
            found.push_back({file, find_image(roms, hashed->size, hashed->hashes, file)});
        }
    };
    try {
        hash_containers(args.containers, {args.threads, !args.no_cache, io.err}, each);
    } catch (const qivpak::Stopped&) {
        io.interrupted = qivpak::pending_interrupt();
        return EXIT_INTERRUPTED;
    }
    const std::vector<Line> lines = lines_of(roms, found);
    std::array<std::uint64_t, 5> counts{};
    for (const Line& line : lines) ++counts[static_cast<std::size_t>(line.status)];
    if (args.json) {
        std::fputs(json_of(lines, counts, failed).c_str(), io.out);
    } else {
        print_table(io.out, lines);
        std::string totals;
        for (std::size_t s = 0; s < counts.size(); ++s) totals += std::string(kStatusNames[s]) + " " + std::to_string(counts[s]) + ", ";
        std::fprintf(io.out, "%sfailed %llu\n", totals.c_str(), static_cast<unsigned long long>(failed));
    }
    bool well = counts[static_cast<std::size_t>(Status::bad)] == 0 && failed == 0;
    if (args.fixdat && !write_fixdat(*args.fixdat, lines, args.dats, io.err)) well = false;
    return with_output_checked(io, well ? EXIT_ALL_WELL : EXIT_SOME_FAILED);
}

}  // namespace qiv
