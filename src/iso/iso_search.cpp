// iso_search.cpp - ISO 9660 directory search: the depth-first walk and the four filter tests
#include "iso/iso_search.hpp"

#include <algorithm>
#include <climits>
#include <cstring>
#include <string>
#include <vector>

namespace qivpak {
namespace {

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

// The image's bytes as the walk reads them: a whole sector per read, the last
// few sectors kept, so that a directory costs one read per sector instead of
// one per record, and the sector a walk comes back to after a descent is
// usually still at hand. Bytes the image does not hold read as zero. The image
// must not change while the cache is in use.
class SectorCache {
public:
    explicit SectorCache(ByteSource& image)
        : image_(image), image_sectors_((image.size() + SECTOR_SIZE - 1) / SECTOR_SIZE) {}

    // The record at `offset`: its 289 bytes, across a sector boundary when it straddles one.
    void read_record(std::uint64_t offset, IsoDirRecord& record) {
        std::uint8_t* out = record.bytes.data();
        for (std::size_t left = record.bytes.size(); left > 0;) {
            const std::size_t within = static_cast<std::size_t>(offset % SECTOR_SIZE);
            const std::size_t n = std::min<std::size_t>(left, SECTOR_SIZE - within);
            std::memcpy(out, sector(offset / SECTOR_SIZE) + within, n);
            out += n;
            offset += n;
            left -= n;
        }
    }

private:
    static constexpr std::size_t SLOTS = 8;
    static constexpr std::uint64_t NO_SECTOR = UINT64_MAX;

    struct Slot {
        std::uint64_t index = NO_SECTOR;  // which sector the bytes are
        std::uint64_t last_use = 0;       // use_count_ when it was last asked for
        std::array<std::uint8_t, SECTOR_SIZE> bytes{};
    };

    // The bytes of sector `index`, read when none of the slots holds them
    // (into the slot least recently used).
    const std::uint8_t* sector(std::uint64_t index) {
        ++use_count_;
        Slot* victim = &slots_[0];
        for (Slot& slot : slots_) {
            if (slot.index == index) {
                slot.last_use = use_count_;
                return slot.bytes.data();
            }
            if (slot.last_use < victim->last_use) victim = &slot;
        }
        victim->index = index;
        victim->last_use = use_count_;
        victim->bytes.fill(0);
        if (index < image_sectors_) image_.read_at(index * SECTOR_SIZE, victim->bytes.data(), SECTOR_SIZE);
        return victim->bytes.data();
    }

    ByteSource& image_;
    std::uint64_t image_sectors_;  // sectors the image touches, a short last one included
    std::uint64_t use_count_ = 0;  // sectors asked for so far
    std::array<Slot, SLOTS> slots_;
};

// Reads the next record of `dir` into `record`, moving on to the next sector
// over the unused tail of one. false when the directory has ended.
bool next_record(SectorCache& cache, DirCursor& dir, IsoDirRecord& record) {
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

bool extent_begins_with(ByteSource& image, const IsoDirRecord& record, const IsoFilter& filter) {
    if (filter.magic_len <= 0) return true;
    auto len = static_cast<std::size_t>(filter.magic_len);
    if (len > filter.magic.size()) return false;
    std::string head(len, '\0');
    return image.read_at(record.extent_offset(), head.data(), len) == len &&
           head == filter.magic.substr(0, len);
}

bool passes(ByteSource& image, const IsoDirRecord& record, const IsoFilter* filter) {
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
    } else if ((f.criteria & ISO_MATCH_MAGIC) != 0 && !extent_begins_with(image, record, f)) {
        return false;
    }
    return true;
}

void advance(DirCursor& dir, const IsoDirRecord& record) {
    dir.prev_len = record.length();
    dir.rec_offset += record.length();
}

}  // namespace

int iso_find_files(ByteSource& image, std::span<IsoDirRecord> results, const IsoFilter* filter) {
    if (image.size() < ISO_ROOT_RECORD_OFFSET + 6) return 0;
    IsoDirRecord root;
    read_record(image, ISO_ROOT_RECORD_OFFSET, root);
    IsoSearch search{image, results.first(std::min<std::size_t>(results.size(), INT_MAX)), filter, {}};
    return static_cast<int>(iso_walk_dir(search, root.extent_offset(), 0));
}

// Depth first, like a recursive walk, but with the open directories on a stack
// of our own: a crafted image can nest directories as deep as it has sectors,
// which must not exhaust the call stack. A cursor holds no record buffer; after
// a descent the record is read again from its offset (the image does not change
// during a search).
std::size_t iso_walk_dir(IsoSearch& search, std::uint64_t dir_offset, std::size_t found) {
    const std::size_t capacity = search.results.size();
    const std::uint64_t bound = ISO_RECORDS_PER_SECTOR * ((search.image.size() + SECTOR_SIZE - 1) / SECTOR_SIZE);
    SectorCache cache(search.image);
    std::vector<DirCursor> open{DirCursor{dir_offset}};  // innermost last
    search.walked.insert(dir_offset);
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
            dir.matched = passes(search.image, record, search.filter);
            if (record.is_directory() && search.walked.insert(record.extent_offset()).second) {
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
