// reader_shelf.cpp - opening containers on demand and closing the least recently read
#include "mount/reader_shelf.hpp"

#include <algorithm>
#include <utility>

namespace qivpak {

namespace {

std::vector<std::uint64_t> sizes_of(const std::vector<QivReader>& readers) {
    std::vector<std::uint64_t> sizes;
    for (const QivReader& reader : readers) sizes.push_back(reader.size());
    return sizes;
}

}  // namespace

ReaderShelf::ReaderShelf(std::vector<QivReader> readers)
    : sizes_(sizes_of(readers)), max_open_(readers.size()), slots_(readers.size()) {
    for (std::size_t i = 0; i < readers.size(); ++i)
        slots_[i].reader = std::make_shared<const QivReader>(std::move(readers[i]));
}

ReaderShelf::ReaderShelf(std::vector<std::string> paths, std::vector<std::uint64_t> sizes, std::size_t max_open)
    : paths_(std::move(paths)), sizes_(std::move(sizes)), max_open_(std::max<std::size_t>(max_open, 1)),
      slots_(sizes_.size()) {}

ReaderShelf::ReaderShelf(ReaderShelf&& other) noexcept
    : paths_(std::move(other.paths_)), sizes_(std::move(other.sizes_)), max_open_(other.max_open_),
      slots_(std::move(other.slots_)), recent_(std::move(other.recent_)) {}

std::shared_ptr<const QivReader> ReaderShelf::get(std::size_t index) {
    if (paths_.empty()) return slots_.at(index).reader;  // open throughout: nothing changes, no lock needed
    std::lock_guard lock(mutex_);
    Slot& slot = slots_.at(index);
    if (slot.reader) {
        recent_.splice(recent_.begin(), recent_, slot.place);
        return slot.reader;
    }
    // Room first, so that the open below does not need one more file than allowed.
    if (recent_.size() >= max_open_) {
        Slot& oldest = slots_[recent_.back()];
        oldest.reader.reset();
        recent_.pop_back();
    }
    slot.reader = std::make_shared<const QivReader>(paths_[index]);
    recent_.push_front(index);
    slot.place = recent_.begin();
    return slot.reader;
}

std::size_t ReaderShelf::open_count() const {
    std::lock_guard lock(mutex_);
    return paths_.empty() ? slots_.size() : recent_.size();
}

}  // namespace qivpak
