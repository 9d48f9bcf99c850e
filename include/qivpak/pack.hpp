// pack.hpp - packing a disc image into a QIV container and unpacking it, from another program
//
// pack() and unpack() do what `qivpak` and `qivpak -d` do, without a console:
// the same container bytes, the same checks, the same failures (as Error,
// whose what() is the tool's message without its newline). Nothing is printed
// and no info file is written.
//
// Thread safety: both functions may run at the same time in several threads
// on different files. Each uses worker threads of its own and returns only
// when they have ended. The progress and should_stop callbacks are called
// from the calling thread only, never concurrently with themselves.
//
// Failure: on an Error (Stopped included) the output may exist and hold part
// of the result (as after a failed run of the tool); it is not removed.
#pragma once

#include <qivpak/error.hpp>
#include <qivpak/progress.hpp>
#include <qivpak/reader.hpp>

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

namespace qivpak {

// The most worker threads a caller may ask for (QIVPAK_THREADS, --threads, `threads`)...
inline constexpr unsigned MAX_REQUESTED_THREADS = 1024;
// ... and the most that a run starts: beyond this more threads only cost memory.
inline constexpr unsigned MAX_WORKERS = 64;

// The settings of a pack, as every front end gives them (normalize() below
// turns them into the ones a run uses).
struct PackOptions {
    int level = -1;                      // zlib level: -1 (zlib's default) or 1..9; 0 means -1
    bool analyze = false;                // trial-compression NC areas, as -a
    std::uint32_t threshold = FRAME_SIZE;  // -a's n (1..8192); 0 means 8192
    bool movies = false, audio = false;  // as -v and -s; either one also runs the analysis, as on the command line
    unsigned threads = 0;                // 0: every CPU the process may run on, else at most MAX_REQUESTED_THREADS
    // Where the analysis keeps the frames it compressed, in a nameless file,
    // for the packing to take; empty: the container's folder.
    std::string scratch_folder;
    std::function<void(const Progress&)> progress;  // optional; called from the calling thread only
    // Optional; asked before every frame from the calling thread. true ends
    // the run at once: pack() throws Stopped.
    std::function<bool()> should_stop;
};

// The options a run uses: level 0 becomes -1, threshold 0 becomes 8192, and
// movies or audio turn the analysis on. Throws Error when the level is not
// -1 to 9, the threshold above 8192 or threads above MAX_REQUESTED_THREADS.
PackOptions normalize(PackOptions options);

struct PackResult {
    std::uint64_t image_size;           // bytes of the plain image
    std::uint32_t frames;               // frames in the container
    std::uint64_t container_size;       // bytes of the container written
    std::vector<QivNcArea> nc_areas;    // the NC areas stored in the container, in table order
    // The image was larger when the container was closed than when it was
    // opened: the container holds its first image_size bytes only.
    bool image_grew = false;
};

// Packs the image at `image` into a new container at `container` (replaced if
// it exists). Throws Error: the image cannot be opened or read or is larger
// than 4294967295 bytes, the container cannot be created or written, the two
// paths name the same file, or the options are out of range; Stopped when
// should_stop said so (before a frame, or once the container is closed).
PackResult pack(const std::string& image, const std::string& container, const PackOptions& = {});

struct UnpackOptions {
    unsigned threads = 0;                           // 0: every CPU the process may run on
    std::function<void(const Progress&)> progress;  // optional; called from the calling thread only
    std::function<bool()> should_stop;              // optional; as in PackOptions: unpack() throws Stopped
};

// Restores the image held by `container` into `image` (replaced if it exists).
// Throws Error when the container cannot be opened or is damaged (what() as the
// unpacker prints it, e.g. "Input is not a valid QIV file."; a QivFormatError
// naming the frame where a frame is refused), or the image
// cannot be created or written; Stopped when should_stop said so. A damaged
// container is refused before the first frame whose bytes are wrong: the image
// then holds only whole, correct frames.
void unpack(const std::string& container, const std::string& image, const UnpackOptions& = {});

}  // namespace qivpak
