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

// The reader of the container `file`, its index checked as exactly as a
// writer makes it (qivpak::Checks::exact): a frame that lies elsewhere is
// damage, not a different image. A folder is refused as what it is (the
// reader would call it no container). Throws qivpak::Error.
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

// The words of a failure: the library's what(), after "frame N: " when a
// frame is named, and with the system's reason after a colon where the
// library gives one ("I/O write error: No space left on device").
inline std::string failure_text(const std::exception& error) {
    const auto frame = failed_frame(error);
    std::string text = (frame ? "frame " + std::to_string(*frame) + ": " : std::string()) + error.what();
    const auto* library = dynamic_cast<const qivpak::Error*>(&error);
    if (library && !library->reason().empty()) {
        if (text.ends_with('.')) text.pop_back();
        text += ": " + library->reason();
    }
    return text;
}

// "qiv: FILE: " and the failure's words.
inline void print_failure(std::FILE* err, const std::string& file, const std::exception& error) {
    std::fprintf(err, "qiv: %s: %s\n", file.c_str(), failure_text(error).c_str());
}

// As print_failure, for ls and cat PATH: a disc's messages name its folders
// and files, so they are shown as names are, never with their control bytes.
inline void print_disc_failure(std::FILE* err, const std::string& file, const std::exception& error) {
    if (dynamic_cast<const qivpak::DiscError*>(&error))
        std::fprintf(err, "qiv: %s: %s\n", file.c_str(), shown(error.what()).c_str());
    else
        print_failure(err, file, error);
}

// Opens the container `file` into `reader` and its disc's tree over it into
// `tree`, for the commands that read a disc's files; false after the message
// of the failure.
inline bool open_disc(const std::string& file, std::optional<qivpak::QivReader>& reader,
                      std::optional<qivpak::DiscTree>& tree, std::FILE* err) {
    try {
        reader.emplace(open_container(file));
        tree.emplace(*reader);
        return true;
    } catch (const std::exception& error) {
        print_disc_failure(err, file, error);
        return false;
    }
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
