// frame_inflater.hpp - inflating one stored frame, and turning stored bytes back into a plain frame
//
// Two inflaters with the same contract: ZlibFrameInflater (zlib's inflate,
// everywhere) and, where the build found libdeflate, LibdeflateFrameInflater
// (about twice as fast per frame). FrameInflater names the one the build
// chose; every reader of containers uses it.
#pragma once

#include "format/container_index.hpp"
#include "format/qiv_format.hpp"
#include "io/file.hpp"

#include <cstddef>
#include <cstdint>
#include <memory>
#include <optional>
#include <span>

namespace qivpak {

// One zlib inflate stream, reset for every frame; succeeds exactly when
// zlib's uncompress into a buffer of out.size() bytes would.
// Not safe for concurrent use; give every thread its own.
class ZlibFrameInflater {
public:
    ZlibFrameInflater();
    ~ZlibFrameInflater();
    ZlibFrameInflater(const ZlibFrameInflater&) = delete;
    ZlibFrameInflater& operator=(const ZlibFrameInflater&) = delete;

    // Inflates one zlib stream (bytes after its end are ignored) into `out`.
    // Returns 0 and sets out_len (and *in_len, when given, to the bytes the
    // stream took, its trailer included), or a nonzero error code (also when
    // it would not fit, or the stream needs a preset dictionary).
    int inflate(std::span<const std::uint8_t> stored, std::span<std::uint8_t> out, std::size_t& out_len,
                std::size_t* in_len = nullptr);

private:
    struct Stream;
    std::unique_ptr<Stream> stream_;
    int init_result_;
};

#if QIVPAK_HAVE_LIBDEFLATE
// libdeflate's zlib decompressor where its verdict is zlib's, zlib's inflate
// for the few streams where the two could differ: accepts and refuses exactly
// the streams ZlibFrameInflater does, with the same bytes out. Same contract
// as ZlibFrameInflater.
class LibdeflateFrameInflater {
public:
    LibdeflateFrameInflater();
    ~LibdeflateFrameInflater();
    LibdeflateFrameInflater(const LibdeflateFrameInflater&) = delete;
    LibdeflateFrameInflater& operator=(const LibdeflateFrameInflater&) = delete;

    int inflate(std::span<const std::uint8_t> stored, std::span<std::uint8_t> out, std::size_t& out_len,
                std::size_t* in_len = nullptr);

private:
    struct Decompressor;
    std::unique_ptr<Decompressor> decompressor_;  // null when libdeflate could not allocate one
    ZlibFrameInflater zlib_;
};
using FrameInflater = LibdeflateFrameInflater;
#else
using FrameInflater = ZlibFrameInflater;
#endif

// Where frame i's plain bytes are (in `stored` for a raw frame, in `plain`
// otherwise; exactly plain_length(i) bytes), or the fault that refuses it.
struct RestoredFrame {
    const std::uint8_t* bytes = nullptr;
    std::optional<ContainerFault> fault;
};

// Turns frame i's stored bytes (`stored`: what could be read, at most its
// stored length) into its plain bytes. `exact`: a compressed frame's stream
// must also fill its stored length (as every writer stores it), else it is
// refused as bad_stream; the unpacker ignores bytes after the stream.
RestoredFrame restore_frame(const ContainerIndex& index, std::uint32_t i, std::span<const std::uint8_t> stored,
                            FrameInflater& inflater, std::span<std::uint8_t, FRAME_SIZE> plain, bool exact = false);

// Reads the stored bytes of frames first .. first + stored.size() - 1 into
// `buffer`, which has room for stored.size() × COMP_BUF_SIZE bytes: with one
// positional read when they lie back to back in the container, as every
// writer stores them, else with one read per frame. stored[k] is then what
// could be read of frame first + k: its stored length, or fewer where the
// container is cut short.
void read_stored_frames(ByteSource& container, const ContainerIndex& index, std::uint32_t first,
                        std::uint8_t* buffer, std::span<std::span<const std::uint8_t>> stored);

}  // namespace qivpak
