// disc_files.hpp - the files of mounted containers' discs: paths looked up through a bounded cache of listed folders
//
// Each container of a mount shows its disc's tree. A path is looked up from
// the disc's root one folder at a time; every folder listed is kept, the
// least recently used going first once the folders kept hold more than
// `max_entries` entries between them (the folder in hand is kept whatever its
// size), so that the many lookups of one folder's files read it once. The
// folders are read with a DiscTree over the container's reader from the
// image cache's shelf (which bounds the files open); files' bytes are read
// through the image cache, frames cached and inflated ahead as for the image.
// Entries whose names cannot be file names (unsafe_name) are left out.
//
// Thread safety: every member may be called from any number of threads at once.
// Errors: a damaged frame is the reader's QivFormatError, a folder that cannot
// be read as ISO 9660 a DiscError; no byte of a damaged frame is copied out.
#pragma once

#include "mount/image_cache.hpp"

#include <qivpak/disc.hpp>

#include <cstddef>
#include <cstdint>
#include <list>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace qivpak {

class DiscFiles {
public:
    using Listing = std::shared_ptr<const std::vector<DiscEntry>>;

    // roots[i]: the root folder of image i's disc, as a DiscTree over it found it.
    DiscFiles(ImageCache& cache, std::vector<DiscEntry> roots, std::size_t max_entries);

    // The entry at `path` ("/" the root, "/A/b.txt") of image `index`'s disc,
    // or none: names match exactly, the first of equal names wins.
    std::optional<DiscEntry> find(std::size_t index, std::string_view path);

    // What `folder` of image `index`'s disc holds, in stored order.
    Listing list(std::size_t index, const DiscEntry& folder);

    // Copies up to `length` bytes of `file` from `offset` on, as DiscTree::read
    // does; throws DiscError when the image ends before the file does.
    std::size_t read(std::size_t index, const DiscEntry& file, std::uint64_t offset, void* buffer, std::size_t length);

private:
    using Key = std::pair<std::size_t, std::string>;  // image, folder path
    struct Kept {
        Listing listing;
        std::list<Key>::iterator place;  // in recent_
    };

    ImageCache& cache_;
    const std::vector<DiscEntry> roots_;
    const std::size_t max_entries_;
    mutable std::mutex mutex_;
    std::map<Key, Kept> kept_;   // guarded by mutex_
    std::list<Key> recent_;      // most recently used first; guarded by mutex_
    std::size_t entries_ = 0;    // in kept_; guarded by mutex_
};

}  // namespace qivpak
