// reader.hpp - random access to the plain image inside a QIV container
//
// A QIV container holds an image as 8192-byte frames, each stored by itself
// (a zlib stream, or raw inside an NC area), with an index of frame offsets
// and lengths. QivReader reads any byte range of the image through that
// index, inflating only the frames the range touches.
//
// Thread safety: a QivReader is immutable after construction. Any number of
// threads may call read() (and the other const members) on one QivReader at
// the same time; each call works in buffers of its own and uses positional
// reads of the file. Moving or destroying it while calls run is not allowed.
//
// Errors: a container that the unpacker would refuse is refused here with a
// QivFormatError whose what() is the unpacker's message (without the final
// newline) and whose fault() tells which refusal it is. No call ever returns
// a byte that is not the image's.
#pragma once

#include <qivpak/error.hpp>

#include <cstddef>
#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <vector>

namespace qivpak {

// Bytes of plain image in one frame; only the last frame of an image is shorter.
inline constexpr std::uint32_t FRAME_SIZE = 8192;
// Consecutive frames that an unpack or a cache inflates with one read of their
// stored bytes: the unit of work handed to a thread.
inline constexpr std::uint32_t RUN_FRAMES = 16;

enum class ContainerFault {
    cannot_open,      // "Cannot open input file <path>"
    not_qiv,          // "Input is not a valid QIV file."
    version_above,    // "The version of the file is greater than supported."
    corrupted_index,  // "Corrupted input file."  (tables cut short, or an index no writer makes)
    frame_cut,        // "Input seems to be corrupted."  (a frame's stored bytes cut short)
    bad_stream,       // "Error while decompressing (corrupt input?)"  (does not inflate to its frame)
};

// A container that cannot be opened or is damaged.
class QivFormatError : public Error {
public:
    QivFormatError(ContainerFault fault, const std::string& message, std::optional<std::uint32_t> frame = {})
        : Error(message), fault_(fault), frame_(frame) {}
    ContainerFault fault() const { return fault_; }
    // The frame refused (frame_cut and bad_stream, thrown by read()); none
    // when the container is refused as a whole.
    std::optional<std::uint32_t> frame() const { return frame_; }

private:
    ContainerFault fault_;
    std::optional<std::uint32_t> frame_;
};

struct QivNcArea {
    std::uint32_t frame_start;  // first frame stored raw
    std::uint32_t num_frames;   // frames in the area
};

// How closely a reader checks a container. `as_unpacker` accepts what the
// unpacker accepts. `exact` also refuses what no writer makes though the
// unpacker restores something from it: a frame that does not start where the
// stored lengths before it put it (frames lie back to back after the tables;
// refused when the reader is made, as corrupted_index naming that frame), and
// a compressed frame whose stream ends before its stored length (refused when
// read, as bad_stream).
enum class Checks { as_unpacker, exact };

class QivReader {
public:
    // Opens the container and checks its header and index (not its frames:
    // those are checked when read). Throws QivFormatError.
    explicit QivReader(const std::string& path, Checks checks = Checks::as_unpacker);
    ~QivReader();
    QivReader(QivReader&&) noexcept;
    QivReader& operator=(QivReader&&) noexcept;

    std::uint64_t size() const;           // bytes of the plain image
    std::uint32_t frame_count() const;    // frames of 8192 bytes, the last one possibly shorter
    std::vector<QivNcArea> nc_areas() const;  // the areas whose frames are stored raw
    std::uint32_t version() const;        // the header's version: 1 with NC areas, else 0
    std::uint64_t container_size() const; // bytes of the container file when it was opened

    // Copies up to `length` bytes of the image, from `offset` on, into
    // `buffer`. Returns the count copied: `length`, or fewer when the range
    // passes the end of the image (0 from the end on). Throws QivFormatError
    // when a frame that the range touches is damaged.
    std::size_t read(std::uint64_t offset, void* buffer, std::size_t length) const;

private:
    struct Impl;
    std::unique_ptr<Impl> impl_;
};

}  // namespace qivpak
