// iso_search.cpp - ISO 9660 directory search: the depth-first walk and the four filter tests
#include "iso/iso_search.hpp"

#include <algorithm>
#include <climits>
#include <cstring>
#include <string>
#include <vector>

namespace qivpak {
namespace {

// Sectors the image touches, a short last one included.
std::uint64_t sectors_of(const ByteSource& image) { return (image.size() + SECTOR_SIZE - 1) / SECTOR_SIZE; }

// Where the walk stands in one directory.
struct DirCursor {
    std::uint64_t rec_offset;     // byte offset of the record in hand
    std::uint8_t prev_len = 0;    // length byte of the last record with a nonzero one
    bool matched = false;         // the record in hand passed the filter
    bool descended = false;       // the walk went beneath the record in hand and has come back
};

// Reads the record at `offset`; what the image does not hold stays zero.
void read_record(ByteSource& image, std::uint64_t offset, IsoDirRecord& record) {
    record.bytes.fill(0);
    image.read_at(offset, record.bytes.data(), record.bytes.size());
}

// The image's bytes as the walk reads them: a block of 16 sectors per read,
// the last few blocks kept, so that a directory costs one read per block
// instead of one per record, a walk over many sectors (or many small
// directories side by side, as discs lay them out) few reads, and the block a
// walk comes back to after a descent is usually still at hand. Bytes the image
// does not hold read as zero. The image must not change while the cache is in
// use.
class BlockCache {
public:
    explicit BlockCache(ByteSource& image) : image_(image), image_size_(image.size()), bytes_(SLOTS * BLOCK) {}

    // The record at `offset`: its 289 bytes, across a block boundary when it straddles one.
    void read_record(std::uint64_t offset, IsoDirRecord& record) {
        std::uint8_t* out = record.bytes.data();
        for (std::size_t left = record.bytes.size(); left > 0;) {
            const std::size_t within = static_cast<std::size_t>(offset % BLOCK);
            const std::size_t n = std::min<std::size_t>(left, BLOCK - within);
            std::memcpy(out, block(offset / BLOCK) + within, n);
            out += n;
            offset += n;
            left -= n;
        }
    }

private:
    static constexpr std::size_t BLOCK = 16 * SECTOR_SIZE;
    static constexpr std::size_t SLOTS = 8;
    static constexpr std::uint64_t NO_BLOCK = UINT64_MAX;

    struct Slot {
        std::uint64_t index = NO_BLOCK;  // which block the slot's bytes are
        std::uint64_t last_use = 0;      // use_count_ when it was last asked for
    };

    // The bytes of block `index`, read when none of the slots holds them
    // (into the slot least recently used).
    const std::uint8_t* block(std::uint64_t index) {
        ++use_count_;
        std::size_t victim = 0;
        for (std::size_t k = 0; k < SLOTS; ++k) {
            if (slots_[k].index == index) {
                slots_[k].last_use = use_count_;
                return &bytes_[k * BLOCK];
            }
            if (slots_[k].last_use < slots_[victim].last_use) victim = k;
        }
        slots_[victim] = {index, use_count_};
        std::uint8_t* bytes = &bytes_[victim * BLOCK];
        const std::size_t got =
            index * BLOCK < image_size_ ? image_.read_at(index * BLOCK, bytes, BLOCK) : 0;
        std::fill(bytes + got, bytes + BLOCK, std::uint8_t{0});
        return bytes;
    }

    ByteSource& image_;
    std::uint64_t image_size_;
    std::uint64_t use_count_ = 0;  // blocks asked for so far
    std::array<Slot, SLOTS> slots_{};
    std::vector<std::uint8_t> bytes_;  // slot k's block at k × BLOCK
};

// Reads the next record of `dir` into `record`, moving on to the next sector
// over the unused tail of one. false when the directory has ended.
bool next_record(BlockCache& cache, DirCursor& dir, IsoDirRecord& record) {
    cache.read_record(dir.rec_offset, record);
    if (record.length() != 0) return true;
    std::uint64_t room = SECTOR_SIZE - dir.rec_offset % SECTOR_SIZE;
    if (room > dir.prev_len) return false;
    dir.rec_offset += room;
    cache.read_record(dir.rec_offset, record);
    return record.length() != 0;
}

bool is_self_or_parent(const IsoDirRecord& record) {
    return record.bytes[33] == 0x00 || record.bytes[33] == 0x01;
}

bool extent_begins_with(IsoExtentHeads& heads, const IsoDirRecord& record, const IsoFilter& filter) {
    if (filter.magic_len <= 0) return true;
    auto len = static_cast<std::size_t>(filter.magic_len);
    return len <= filter.magic.size() && heads.begins_with(record.extent(), filter.magic.substr(0, len));
}

bool passes(IsoExtentHeads& heads, const IsoDirRecord& record, const IsoFilter* filter) {
    if (filter == nullptr) return true;
    const IsoFilter& f = *filter;
    if ((f.criteria & ISO_MATCH_NAME) != 0 && record.name().find(f.name_part) == std::string_view::npos)
        return false;
    if ((f.criteria & ISO_MATCH_DIR) != 0) {
        if (f.dir_mode == 0 && record.is_directory()) return false;
        if (f.dir_mode == 2 && !record.is_directory()) return false;
    }
    if ((f.criteria & ISO_MATCH_SIZE) != 0) {
        std::uint32_t len = record.data_length();
        if (f.length_mode == 0 && len != f.ref_length) return false;
        if (f.length_mode == 1 && len <= f.ref_length) return false;
        if (f.length_mode == 2 && len >= f.ref_length) return false;
    } else if ((f.criteria & ISO_MATCH_MAGIC) != 0 && !extent_begins_with(heads, record, f)) {
        return false;
    }
    return true;
}

void advance(DirCursor& dir, const IsoDirRecord& record) {
    dir.prev_len = record.length();
    dir.rec_offset += record.length();
}

}  // namespace

bool IsoExtentHeads::begins_with(std::uint32_t extent, std::string_view magic) {
    if (extent >= sectors_) return magic.empty();  // past the image's end
    const std::uint64_t offset = std::uint64_t{extent} * SECTOR_SIZE;
    if (magic.size() > KEPT) {
        std::string bytes(magic.size(), '\0');
        return image_.read_at(offset, bytes.data(), bytes.size()) == bytes.size() && bytes == magic;
    }
    if (heads_.empty()) heads_.resize(sectors_);
    Head& head = heads_[extent];
    if (head.count < 0) head.count = static_cast<std::int8_t>(image_.read_at(offset, head.bytes.data(), KEPT));
    return magic.size() <= static_cast<std::size_t>(head.count) &&
           std::string_view(head.bytes.data(), magic.size()) == magic;
}

int iso_find_files(ByteSource& image, std::span<IsoDirRecord> results, const IsoFilter* filter,
                   IsoExtentHeads* heads) {
    if (image.size() < ISO_ROOT_RECORD_OFFSET + 6) return 0;
    IsoDirRecord root;
    read_record(image, ISO_ROOT_RECORD_OFFSET, root);
    IsoExtentHeads own(image);
    IsoSearch search{image, results.first(std::min<std::size_t>(results.size(), INT_MAX)), filter,
                     heads != nullptr ? *heads : own, {}};
    return static_cast<int>(iso_walk_dir(search, root.extent_offset(), 0));
}

// Depth first, like a recursive walk, but with the open directories on a stack
// of our own: a crafted image can nest directories as deep as it has sectors,
// which must not exhaust the call stack. A cursor holds no record buffer; after
// a descent the record is read again from its offset (the image does not change
// during a search).
std::size_t iso_walk_dir(IsoSearch& search, std::uint64_t dir_offset, std::size_t found) {
    const std::size_t capacity = search.results.size();
    const std::uint64_t sectors = sectors_of(search.image);
    const std::uint64_t bound = ISO_RECORDS_PER_SECTOR * sectors;
    if (search.walked.size() < sectors) search.walked.resize(sectors);
    // Marks the directory at `offset` walked; false when it was already, or lies past the image's end.
    auto first_walk = [&walked = search.walked](std::uint64_t offset) {
        const std::uint64_t sector = offset / SECTOR_SIZE;
        if (sector >= walked.size() || walked[sector]) return false;
        walked[sector] = true;
        return true;
    };
    BlockCache cache(search.image);
    std::vector<DirCursor> open;  // innermost last
    if (first_walk(dir_offset)) open.push_back(DirCursor{dir_offset});
    IsoDirRecord record;
    while (!open.empty()) {
        DirCursor& dir = open.back();
        if (dir.descended) {
            dir.descended = false;
            cache.read_record(dir.rec_offset, record);
        } else {
            if (!next_record(cache, dir, record)) {
                open.pop_back();
                continue;
            }
            if (++search.records_examined > bound) return found;
            if (is_self_or_parent(record)) {
                advance(dir, record);
                continue;
            }
            dir.matched = passes(search.heads, record, search.filter);
            if (record.is_directory() && first_walk(record.extent_offset())) {
                dir.descended = true;
                open.push_back(DirCursor{record.extent_offset()});  // dir is not used after this
                continue;
            }
        }
        if (found >= capacity) return found;
        if (dir.matched) search.results[found++] = record;
        advance(dir, record);
    }
    return found;
}

}  // namespace qivpak
