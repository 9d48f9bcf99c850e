// frame_inflater.hpp - inflating one stored frame, and turning stored bytes back into a plain frame
#pragma once

#include "format/container_index.hpp"
#include "format/qiv_format.hpp"

#include <cstddef>
#include <cstdint>
#include <memory>
#include <optional>
#include <span>

namespace qivpak {

// One zlib inflate stream, reset for every frame; succeeds exactly when
// zlib's uncompress into a buffer of FRAME_SIZE bytes would.
// Not safe for concurrent use; give every thread its own.
class FrameInflater {
public:
    FrameInflater();
    ~FrameInflater();
    FrameInflater(const FrameInflater&) = delete;
    FrameInflater& operator=(const FrameInflater&) = delete;

    // Inflates one zlib stream (bytes after its end are ignored) into `out`.
    // Returns 0 and sets out_len, or a zlib error code (also when it would not fit).
    int inflate(std::span<const std::uint8_t> stored, std::span<std::uint8_t> out, std::size_t& out_len);

private:
    struct Stream;
    std::unique_ptr<Stream> stream_;
    int init_result_;
};

// Where frame i's plain bytes are (in `stored` for a raw frame, in `plain`
// otherwise; exactly plain_length(i) bytes), or the fault that refuses it.
struct RestoredFrame {
    const std::uint8_t* bytes = nullptr;
    std::optional<ContainerFault> fault;
};

// Turns frame i's stored bytes (`stored`: what could be read, at most its
// stored length) into its plain bytes.
RestoredFrame restore_frame(const ContainerIndex& index, std::uint32_t i, std::span<const std::uint8_t> stored,
                            FrameInflater& inflater, std::span<std::uint8_t, FRAME_SIZE> plain);

}  // namespace qivpak
