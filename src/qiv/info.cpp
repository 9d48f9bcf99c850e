// info.cpp - qiv info: what each container holds, from its header and tables
#include "qiv/commands.hpp"
#include "qiv/failure.hpp"
#include "qiv/json.hpp"
#include "qiv/text.hpp"

#include <qivpak/reader.hpp>

#include <algorithm>
#include <utility>

namespace qiv {

namespace {

// Frames stored raw: the union of the areas, each clipped to the image's
// frames (a table may list areas that overlap, come in any order or run past
// the end; a frame is raw when any area covers it).
std::uint64_t raw_frames(const std::vector<qivpak::QivNcArea>& areas, std::uint32_t frames) {
    std::vector<std::pair<std::uint64_t, std::uint64_t>> spans;  // [first, end) frames
    for (const qivpak::QivNcArea& area : areas) {
        const std::uint64_t end = std::min<std::uint64_t>(std::uint64_t{area.frame_start} + area.num_frames, frames);
        if (area.frame_start < end) spans.emplace_back(area.frame_start, end);
    }
    std::sort(spans.begin(), spans.end());
    std::uint64_t raw = 0, covered = 0;  // every frame below `covered` is counted
    for (const auto& [first, end] : spans) {
        if (end > covered) raw += end - std::max(first, covered);
        covered = std::max(covered, end);
    }
    return raw;
}

struct Summary {
    std::uint64_t image_size, container_size;
    std::uint32_t frames, version;
    std::size_t nc_areas;
    std::uint64_t raw_frames;
};

Summary summarize(const qivpak::QivReader& reader) {
    const std::vector<qivpak::QivNcArea> areas = reader.nc_areas();
    return {reader.size(),  reader.container_size(), reader.frame_count(), reader.version(),
            areas.size(),   raw_frames(areas, reader.frame_count())};
}

void print_summary(std::FILE* out, const std::string& file, const Summary& s) {
    const auto line = [out](const char* label, const std::string& value) {
        std::fprintf(out, "  %-16s %s\n", label, value.c_str());
    };
    std::fprintf(out, "%s\n", file.c_str());
    line("image size:", std::to_string(s.image_size) + " bytes (" + megabytes(s.image_size) + ")");
    line("frames:", std::to_string(s.frames));
    line("container size:", std::to_string(s.container_size) + " bytes (" + megabytes(s.container_size) + ")");
    line("ratio:", percent(s.container_size, s.image_size));
    line("NC areas:", std::to_string(s.nc_areas));
    line("raw frames:", std::to_string(s.raw_frames));
    line("version:", std::to_string(s.version));
}

JsonObject summary_json(const std::string& file, const Summary& s) {
    const std::string ratio = percent(s.container_size, s.image_size);  // "46.5%", or "-" for an empty image
    JsonObject object;
    object.add_name("file", file)
        .add("image_size", s.image_size)
        .add("frames", std::uint64_t{s.frames})
        .add("container_size", s.container_size)
        .add_json("ratio_percent", ratio == "-" ? "null" : ratio.substr(0, ratio.size() - 1))
        .add("nc_areas", std::uint64_t{s.nc_areas})
        .add("raw_frames", s.raw_frames)
        .add("version", std::uint64_t{s.version});
    return object;
}

}  // namespace

int info_command(const InfoArgs& args, Streams& io) {
    int status = EXIT_ALL_WELL;
    std::optional<JsonArrayWriter> json;
    if (args.json) json.emplace(io.out);
    bool first = true;
    for (const std::string& file : args.containers) {
        try {
            const Summary summary = summarize(open_container(file));
            if (json) {
                json->add(summary_json(file, summary));
            } else {
                if (!first) std::fputs("\n", io.out);
                print_summary(io.out, file, summary);
                first = false;
            }
        } catch (const std::exception& error) {
            status = EXIT_SOME_FAILED;
            if (json) json->add(failure_json(file, error));
            else print_failure(io.err, file, error);
        }
    }
    if (json) json->close();
    return with_output_checked(io, status);
}

}  // namespace qiv
