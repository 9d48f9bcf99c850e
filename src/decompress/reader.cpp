// reader.cpp - the random-access reader: one positional read per run of frames, one inflate per frame touched
#include <qivpak/reader.hpp>

#include "decompress/frame_inflater.hpp"
#include "events/messages.hpp"

#include <algorithm>
#include <cstring>
#include <mutex>
#include <vector>

namespace qivpak {

namespace {

// Refuses the container with the unpacker's words; only an open names the file.
[[noreturn]] void refuse(ContainerFault fault, std::optional<std::uint32_t> frame = {}, const std::string& path = {}) {
    throw QivFormatError(fault, container_fault_text(fault, path), frame);
}

// What one read() call works with: the stored bytes of up to RUN_FRAMES frames,
// read with one positional read where they lie back to back, a frame's room
// and an inflater.
struct ReadWorkspace {
    FrameInflater inflater;
    std::vector<std::uint8_t> stored_bytes = std::vector<std::uint8_t>(RUN_FRAMES * COMP_BUF_SIZE);
    std::array<std::uint8_t, FRAME_SIZE> plain{};
};

// A workspace on loan to one read() call, of any reader, from the spares that
// all readers share: a new one when none is free, so there are as many as
// calls ever ran at once; back among the spares when the call returns.
// Concurrent calls thus share nothing but the file, which they read with
// positional reads. The workspaces belong to no thread, so however and
// whenever the calling threads end, nothing of the readers ends with them.
class BorrowedWorkspace {
public:
    BorrowedWorkspace() {
        {
            const std::lock_guard lock(spares_mutex);
            if (!spares.empty()) {
                workspace_ = std::move(spares.back());
                spares.pop_back();
            }
        }
        if (!workspace_) workspace_ = std::make_unique<ReadWorkspace>();
    }
    ~BorrowedWorkspace() {
        const std::lock_guard lock(spares_mutex);
        try {
            spares.push_back(std::move(workspace_));
        } catch (const std::bad_alloc&) {
            // no room to keep it: it goes, and a later call makes another
        }
    }
    BorrowedWorkspace(const BorrowedWorkspace&) = delete;
    BorrowedWorkspace& operator=(const BorrowedWorkspace&) = delete;

    ReadWorkspace& operator*() const { return *workspace_; }

private:
    static inline std::mutex spares_mutex;
    static inline std::vector<std::unique_ptr<ReadWorkspace>> spares;
    std::unique_ptr<ReadWorkspace> workspace_;
};

}  // namespace

struct QivReader::Impl {
    File file;
    ContainerIndex index;
    std::uint64_t file_size = 0;
    bool exact = false;
};

QivReader::QivReader(const std::string& path, Checks checks) {
    std::optional<File> file = File::open(path, File::Mode::read);
    if (!file) refuse(ContainerFault::cannot_open, std::nullopt, path);
    const std::uint64_t file_size = file->size();
    impl_ = std::make_unique<Impl>(Impl{std::move(*file), {}, file_size, checks == Checks::exact});
    if (auto fault = read_header(impl_->file, impl_->index)) refuse(*fault);
    if (auto fault = read_tables(impl_->file, impl_->index)) refuse(*fault);
    if (!impl_->exact) return;
    // Every writer stores the frames back to back from the end of the tables.
    const ContainerIndex& index = impl_->index;
    std::uint64_t expected = data_start(index.frames, index.header.nc_count != 0);
    for (std::uint32_t i = 0; i < index.frames; ++i) {
        if (index.offsets[i] != expected) refuse(ContainerFault::corrupted_index, i);
        expected += index.lengths[i];
    }
}

QivReader::~QivReader() = default;
QivReader::QivReader(QivReader&&) noexcept = default;
QivReader& QivReader::operator=(QivReader&&) noexcept = default;

std::uint64_t QivReader::size() const { return impl_->index.header.total_size; }

std::uint32_t QivReader::frame_count() const { return impl_->index.frames; }

std::uint32_t QivReader::version() const { return impl_->index.header.version; }

std::uint64_t QivReader::container_size() const { return impl_->file_size; }

std::vector<QivNcArea> QivReader::nc_areas() const {
    const ContainerIndex& index = impl_->index;
    std::vector<QivNcArea> areas;
    for (std::uint32_t i = 0; i < index.header.nc_count; ++i)
        areas.push_back({index.nc_areas[i].frame_start, index.nc_areas[i].num_frames});
    return areas;
}

std::size_t QivReader::read(std::uint64_t offset, void* buffer, std::size_t length) const {
    const ContainerIndex& index = impl_->index;
    const std::uint64_t size = index.header.total_size;
    if (offset >= size || length == 0) return 0;
    const std::uint64_t end = offset + std::min<std::uint64_t>(length, size - offset);

    const BorrowedWorkspace borrowed;
    ReadWorkspace& work = *borrowed;
    std::array<std::span<const std::uint8_t>, RUN_FRAMES> stored;
    auto* out = static_cast<std::uint8_t*>(buffer);
    const auto last = static_cast<std::uint32_t>((end - 1) / FRAME_SIZE);
    for (auto first = static_cast<std::uint32_t>(offset / FRAME_SIZE); first <= last;) {
        const std::uint32_t count = std::min(RUN_FRAMES, last - first + 1);
        read_stored_frames(impl_->file, index, first, work.stored_bytes.data(), std::span(stored.data(), count));
        for (std::uint32_t k = 0; k < count; ++k) {
            const std::uint32_t i = first + k;
            const std::uint64_t at = offset + static_cast<std::uint64_t>(out - static_cast<std::uint8_t*>(buffer));
            const std::uint64_t frame_start = std::uint64_t{i} * FRAME_SIZE;
            const std::uint64_t take = std::min<std::uint64_t>(end, frame_start + index.plain_length(i)) - at;
            // A whole frame is inflated straight into the caller's buffer, which then has a frame's room.
            const std::span<std::uint8_t, FRAME_SIZE> target(take == FRAME_SIZE ? out : work.plain.data(), FRAME_SIZE);
            const RestoredFrame frame = restore_frame(index, i, stored[k], work.inflater, target, impl_->exact);
            if (frame.fault) refuse(*frame.fault, i);
            if (frame.bytes != out) std::memcpy(out, frame.bytes + (at - frame_start), take);
            out += take;
        }
        first += count;
    }
    return static_cast<std::size_t>(end - offset);
}

}  // namespace qivpak
