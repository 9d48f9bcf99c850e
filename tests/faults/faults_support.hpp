// faults_support.hpp - running the built tool on damaged and hostile inputs, and what a refused unpack must print
#pragma once

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "support/container_reader.hpp"
#include "support/process.hpp"
#include "support/temp_dir.hpp"

namespace qivfaults {

using namespace qivtest;

inline const std::string kBanner = "QIV Creator 0.3 (by Brenlo)\n\n";
inline const std::string kNotQiv = "Input is not a valid QIV file.\n";
inline const std::string kCorrupted = "Corrupted input file.\n";
inline const std::string kCut = "Input seems to be corrupted.\n";
inline const std::string kBadStream = "Error while decompressing (corrupt input?)\n";
inline const std::string kFinished = "Finished.\n\n";
constexpr int kQuitFailure = 255;  // quit(-1) as the shell sees it

// Runs the built tool in `dir` with `args`.
inline ProcessResult qivpak(const TempDir& dir, std::vector<std::string> args, ProcessOptions opt = {}) {
    args.insert(args.begin(), QIVPAK_BINARY);
    opt.cwd = dir.path().string();
    return run_process(args, opt);
}

// The first `count` frames of an image.
inline Bytes frames_prefix(const Bytes& image, std::size_t count) {
    const std::size_t len = std::min(image.size(), kFrame * count);
    return Bytes(image.begin(), image.begin() + static_cast<std::ptrdiff_t>(len));
}

// Where an unpack stops.
enum class Stop {
    header,  // refused on the header: only the message follows the banner
    tables,  // refused after "N of frames": nothing restored
    frame,   // refused at frame `frame`: the frames before it restored
};

// The whole console text of a refused unpack of a container of n frames
// whose frame 0 is compressed (so a run past it prints the progress "0%").
inline std::string refused_unpack_text(Stop stop, std::uint32_t n, std::uint32_t frame, const std::string& message) {
    std::string text = kBanner;
    if (stop != Stop::header) text += "N of frames: " + std::to_string(n) + "\n";
    if (stop == Stop::frame) text += std::string("Decompressing...\n") + (frame > 0 ? "0%" : "");
    return text + message;
}

// The whole console text of a finished unpack of fewer than 600 frames, frame 0 compressed.
inline std::string finished_unpack_text(std::uint32_t n) {
    return kBanner + "N of frames: " + std::to_string(n) + "\nDecompressing...\n0%100%\n" + kFinished;
}

}  // namespace qivfaults
