// image_hash.hpp - CRC32, MD5 and SHA-1 of a container's plain image, in one parallel pass over its frames
#pragma once

#include <qivpak/reader.hpp>

#include <cstdint>
#include <functional>
#include <string>

namespace qiv {

struct ImageHashes {
    std::uint32_t crc32 = 0;  // the image's CRC-32 (zlib's)
    std::string md5;          // lower-case hex, 32 digits
    std::string sha1;         // lower-case hex, 40 digits
};

// Reads the whole plain image of `reader`, in chunks of IMAGE_HASH_CHUNK bytes,
// with `readers` reads at once (1 or more; fewer when the image has fewer
// chunks), and feeds the chunks, in order, to a CRC-32 and to an MD5 and
// a SHA-1 Digest, the three side by side: up to readers + 3 threads at work,
// the calling thread among them. Threads the system refuses are not an error: the
// pass goes on with fewer, down to the calling thread alone, and gives the
// same hashes. Memory: a fixed ring of at most 32 chunks.
//
// `should_stop` (optional) is asked from the calling thread only, every few
// milliseconds while the pass runs; true ends the pass: qivpak::Stopped.
// A damaged frame: the qivpak::QivFormatError of the first damaged frame in
// image order (its frame() names it), whatever order the readers met them in.
// std::runtime_error when the digest library fails.
// Every thread has ended when this returns or throws.
ImageHashes hash_image(const qivpak::QivReader& reader, unsigned readers, const std::function<bool()>& should_stop);

inline constexpr std::size_t IMAGE_HASH_CHUNK = std::size_t{1} << 20;  // 128 frames

}  // namespace qiv
