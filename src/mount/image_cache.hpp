// image_cache.hpp - byte ranges of mounted images, served from a shared cache of recently inflated frames
//
// A mount serves one or more images, each read through its QivReader. Every
// read is cut along frame boundaries; frames already in the cache are copied
// from there, the others are inflated (in parallel when a read needs more
// than one, up to 16 consecutive frames with one call of the reader, which
// reads their stored bytes at once) and kept, the least recently used going
// first when the cache is full, together with the frames inflated with it. A frame that one thread is inflating is waited for by any other read
// that needs it, so no frame is inflated twice at the same time. When a read
// starts where the last read of the same image ended, workers inflate the
// frames after it (up to 64, and up to half the cache) while the caller
// copies, so sequential reading keeps every worker busy.
//
// Thread safety: read() may be called from any number of threads at once.
// Memory: the cache holds at most capacity_bytes / 8192 frames, plus the
// frames that reads in progress are inflating or copying.
// Damage: a frame that does not restore is never cached, and the read that
// touches it throws the reader's QivFormatError; no byte of it is copied out.
#pragma once

#include "mount/reader_shelf.hpp"

#include <qivpak/reader.hpp>

#include <cstddef>
#include <cstdint>
#include <memory>
#include <vector>

namespace qivpak {

class ImageCache {
public:
    // images: the containers to serve, addressed by their position from then
    // on (a vector of open readers, or a shelf that opens them when read).
    // capacity_bytes: room for inflated frames (0: nothing is kept between reads).
    // threads: workers inflating the frames of reads spanning several frames
    // (beside the calling thread) and ahead of sequential reads; 1 starts none,
    // every read then inflates on its own thread. Threads the system refuses
    // (a process limit) are not an error: the cache serves with those that
    // started, or with none. The destructor stops them.
    ImageCache(ReaderShelf images, std::size_t capacity_bytes, unsigned threads);
    ~ImageCache();
    ImageCache(const ImageCache&) = delete;
    ImageCache& operator=(const ImageCache&) = delete;

    // Bytes of the plain image `index`.
    std::uint64_t image_size(std::size_t index) const;

    // Copies up to `length` bytes of image `index`, from `offset` on, into
    // `buffer`, like QivReader::read: returns the count copied (fewer only
    // past the end of the image). Throws QivFormatError when a frame the range
    // touches is damaged, or its container cannot be opened.
    std::size_t read(std::size_t index, std::uint64_t offset, void* buffer, std::size_t length);

    // The reader of image `index`, for what reads its bytes other than through
    // the cache (the shelf's get(): it counts against the shelf's bound).
    std::shared_ptr<const QivReader> reader(std::size_t index);

    // Frames inflated since construction (for tests and statistics).
    std::uint64_t frames_inflated() const;

private:
    struct Impl;
    std::unique_ptr<Impl> impl_;
};

}  // namespace qivpak
