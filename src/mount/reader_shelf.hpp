// reader_shelf.hpp - the readers of a mount's containers, with a bound on how many files are open at once
//
// A library of thousands of containers cannot keep every one of them open:
// the process may open only so many files (ulimit -n), and FUSE needs some
// of them too. A shelf made from paths opens a container when it is first
// read and keeps the `max_open` most recently read ones open, closing the
// least recently read first. A shelf made from open readers keeps them open
// throughout.
//
// Thread safety: get() may be called from any number of threads at once. A
// reader handed out stays valid while its holder keeps it, even after the
// shelf has closed it for others, so at most max_open plus the reads in
// progress hold a file open.
#pragma once

#include <qivpak/reader.hpp>

#include <cstddef>
#include <cstdint>
#include <list>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

namespace qivpak {

class ReaderShelf {
public:
    // These readers, open throughout.
    ReaderShelf(std::vector<QivReader> readers);  // not explicit: a vector of open readers is a shelf
    // The containers at `paths`, whose images have `sizes` bytes (as found when
    // they were checked), opened when read; at most `max_open` (at least 1) at once.
    ReaderShelf(std::vector<std::string> paths, std::vector<std::uint64_t> sizes, std::size_t max_open);
    // Moved only before any get(): the new shelf has a mutex of its own.
    ReaderShelf(ReaderShelf&& other) noexcept;
    ReaderShelf& operator=(ReaderShelf&&) = delete;

    std::size_t count() const { return sizes_.size(); }
    std::uint64_t size(std::size_t index) const { return sizes_.at(index); }

    // The reader of container `index`, opened when it is not open. Throws the
    // reader's QivFormatError when the container cannot be opened (anymore).
    std::shared_ptr<const QivReader> get(std::size_t index);

    // Containers open now (for tests).
    std::size_t open_count() const;

private:
    struct Slot {
        std::shared_ptr<const QivReader> reader;   // null while closed
        std::list<std::size_t>::iterator place;    // in recent_, while open
    };

    std::vector<std::string> paths_;  // empty for a shelf of open readers
    std::vector<std::uint64_t> sizes_;
    std::size_t max_open_;
    mutable std::mutex mutex_;
    std::vector<Slot> slots_;       // guarded by mutex_
    std::list<std::size_t> recent_;  // open containers, most recently read first; guarded by mutex_
};

}  // namespace qivpak
