// disc_files.cpp - looking up the paths of mounted discs and reading their files through the image cache
#include "mount/disc_files.hpp"

#include <algorithm>

namespace qivpak {

DiscFiles::DiscFiles(ImageCache& cache, std::vector<DiscEntry> roots, std::size_t max_entries)
    : cache_(cache), roots_(std::move(roots)), max_entries_(max_entries) {}

std::optional<DiscEntry> DiscFiles::find(std::size_t index, std::string_view path) {
    DiscEntry at = roots_.at(index);
    for (std::size_t from = 0, to; from < path.size(); from = to + 1) {
        to = std::min(path.find('/', from), path.size());
        if (to == from) continue;  // "//", or the leading "/"
        if (at.kind != EntryKind::folder) return std::nullopt;
        const Listing listing = list(index, at);
        const std::string_view name = path.substr(from, to - from);
        const auto match = std::find_if(listing->begin(), listing->end(), [&](const DiscEntry& e) { return e.name == name; });
        if (match == listing->end()) return std::nullopt;
        at = *match;
    }
    return at;
}

DiscFiles::Listing DiscFiles::list(std::size_t index, const DiscEntry& folder) {
    Key key{index, folder.path};
    {
        std::lock_guard lock(mutex_);
        if (const auto it = kept_.find(key); it != kept_.end()) {
            recent_.splice(recent_.begin(), recent_, it->second.place);
            return it->second.listing;
        }
    }
    // Read without the lock: two threads may read the same folder at once, and keep it once.
    const std::shared_ptr<const QivReader> reader = cache_.reader(index);
    std::vector<DiscEntry> entries = DiscTree(*reader).list(folder);
    std::erase_if(entries, [](const DiscEntry& e) { return e.unsafe_name; });
    auto listing = std::make_shared<const std::vector<DiscEntry>>(std::move(entries));

    std::lock_guard lock(mutex_);
    if (kept_.count(key) != 0) return listing;
    recent_.push_front(key);
    kept_.emplace(std::move(key), Kept{listing, recent_.begin()});
    entries_ += listing->size();
    while (entries_ > max_entries_ && recent_.size() > 1) {
        const auto oldest = kept_.find(recent_.back());
        entries_ -= oldest->second.listing->size();
        kept_.erase(oldest);
        recent_.pop_back();
    }
    return listing;
}

std::size_t DiscFiles::read(std::size_t index, const DiscEntry& file, std::uint64_t offset, void* buffer,
                            std::size_t length) {
    if (file.kind == EntryKind::folder) throw DiscError("is a folder: " + file.path);
    auto* out = static_cast<std::uint8_t*>(buffer);
    std::size_t done = 0;
    std::uint64_t extent_start = 0;  // the file's offset of the extent in hand
    for (auto extent = file.extents.begin(); extent != file.extents.end() && done < length; ++extent) {
        const std::uint64_t extent_end = extent_start + extent->length;
        if (offset < extent_end) {
            const auto count = static_cast<std::size_t>(std::min<std::uint64_t>(length - done, extent_end - offset));
            const std::uint64_t at = std::uint64_t{extent->block} * 2048 + (offset - extent_start);
            if (cache_.read(index, at, out + done, count) != count) throw DiscError("the image ends inside " + file.path);
            done += count;
            offset += count;
        }
        extent_start = extent_end;
    }
    return done;
}

}  // namespace qivpak
