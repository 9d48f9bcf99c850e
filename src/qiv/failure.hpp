// failure.hpp - how info, verify and cat tell that a container failed: one message line, or a JSON object
#pragma once

#include "qiv/commands.hpp"
#include "qiv/json.hpp"
#include "qiv/paths.hpp"

#include <qivpak/disc.hpp>
#include <qivpak/reader.hpp>

#include <cstdio>
#include <exception>
#include <filesystem>
#include <optional>
#include <string>

namespace qiv {

// The reader of the container `file`. A folder is refused as what it is (the
// reader would call it no container). Throws qivpak::Error.
// Its index is checked as exactly as a writer makes it (qivpak::Checks::exact):
// a frame that lies elsewhere is damage, not a different image.
inline qivpak::QivReader open_container(const std::string& file) {
    std::error_code error;
    if (std::filesystem::is_directory(to_path(file), error)) throw qivpak::Error("is a folder");
    return qivpak::QivReader(file, qivpak::Checks::exact);
}

// The frame a failure names: the damaged frame of a QivFormatError thrown by a read.
inline std::optional<std::uint32_t> failed_frame(const std::exception& error) {
    const auto* format = dynamic_cast<const qivpak::QivFormatError*>(&error);
    return format ? format->frame() : std::nullopt;
}

// "qiv: FILE: MESSAGE", or "qiv: FILE: frame N: MESSAGE" when a frame is named;
// MESSAGE is the library's what().
inline void print_failure(std::FILE* err, const std::string& file, const std::exception& error) {
    if (const auto frame = failed_frame(error))
        std::fprintf(err, "qiv: %s: frame %u: %s\n", file.c_str(), static_cast<unsigned>(*frame), error.what());
    else
        std::fprintf(err, "qiv: %s: %s\n", file.c_str(), error.what());
}

// As print_failure, for ls and cat PATH: a disc's messages name its folders
// and files, so they are shown as names are, never with their control bytes.
inline void print_disc_failure(std::FILE* err, const std::string& file, const std::exception& error) {
    if (dynamic_cast<const qivpak::DiscError*>(&error))
        std::fprintf(err, "qiv: %s: %s\n", file.c_str(), shown(error.what()).c_str());
    else
        print_failure(err, file, error);
}

// {"file": FILE, "error": MESSAGE} with "frame": N when a frame is named.
inline JsonObject failure_json(const std::string& file, const std::exception& error) {
    JsonObject object;
    object.add_name("file", file).add("error", error.what());
    if (const auto frame = failed_frame(error)) object.add("frame", std::uint64_t{*frame});
    return object;
}

// The status of a command once its results are out: `status`, or
// EXIT_SOME_FAILED with a message when standard output did not take all of
// them (a full device, a closed pipe), so that lost output is never a success.
inline int with_output_checked(Streams& io, int status) {
    if (std::fflush(io.out) == 0 && std::ferror(io.out) == 0) return status;
    std::fputs("qiv: cannot write to standard output\n", io.err);
    return EXIT_SOME_FAILED;
}

}  // namespace qiv
