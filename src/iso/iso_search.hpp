// iso_search.hpp - ISO 9660 directory search: walks the tree from the root and keeps the records a filter passes
//
// Of ISO 9660 only this is read: the Directory Record for Root Directory in the
// Primary Volume Descriptor (byte 32924, logical sector 16) and the directory
// records reached from it, with 2048-byte logical blocks. No volume descriptor
// is checked; an image that is not ISO 9660 is read by the same rules. Nothing
// is reported and no read error ends a search: bytes that cannot be read count
// as zero. Safe to run concurrently on different ByteSources (each search with
// its own IsoExtentHeads).
#pragma once

#include "format/qiv_format.hpp"
#include "io/file.hpp"

#include <array>
#include <cstddef>
#include <cstdint>
#include <span>
#include <string_view>
#include <vector>

namespace qivpak {

inline constexpr std::uint32_t SECTOR_SIZE = 2048;  // logical block: block number × 2048 is a byte offset
inline constexpr std::uint64_t ISO_ROOT_RECORD_OFFSET = 16 * SECTOR_SIZE + 156;
// Most records one search examines per sector of the image (see iso_find_files).
inline constexpr std::uint64_t ISO_RECORDS_PER_SECTOR = 64;

// One directory record as read: the image's bytes from the record's first byte
// on, the 33-byte fixed part and 256 bytes after it (room for the longest File
// Identifier). Bytes past the record's own end are whatever the image holds
// there; bytes past the end of the image are zero. Numbers are the
// little-endian halves of the both-byte-order fields.
struct IsoDirRecord {
    static constexpr std::size_t SIZE = 289;
    std::array<std::uint8_t, SIZE> bytes{};

    // Length of Directory Record: distance to the next record; 0 means no record starts here.
    std::uint8_t length() const { return bytes[0]; }
    // Location of Extent: first logical block of the file's or directory's data.
    std::uint32_t extent() const { return load_le32(&bytes[2]); }
    std::uint64_t extent_offset() const { return std::uint64_t{extent()} * SECTOR_SIZE; }
    // Data Length: size of the file in bytes.
    std::uint32_t data_length() const { return load_le32(&bytes[10]); }
    // File Flags bit 1.
    bool is_directory() const { return (bytes[25] & 2) != 0; }
    // File Identifier: the Length of File Identifier bytes from offset 33, as
    // stored (version suffix ";1" included). A first byte 0x00 names the
    // directory itself, 0x01 its parent.
    std::string_view name() const {
        static_assert(SIZE >= 33 + 255, "every File Identifier lies inside the buffer");
        return {reinterpret_cast<const char*>(&bytes[33]), bytes[32]};
    }
};

inline constexpr std::int32_t ISO_MATCH_NAME = 1;   // name_part occurs in the name
inline constexpr std::int32_t ISO_MATCH_DIR = 2;    // directory or not, by dir_mode
inline constexpr std::int32_t ISO_MATCH_SIZE = 4;   // Data Length against ref_length, by length_mode
inline constexpr std::int32_t ISO_MATCH_MAGIC = 8;  // the extent begins with magic (only without ISO_MATCH_SIZE)

// Search criteria. A record passes when every test selected in `criteria`
// passes; the tests run in the order of the fields. A field is read only when
// its test is selected.
struct IsoFilter {
    std::int32_t criteria = 0;      // bit set of ISO_MATCH_*
    std::string_view name_part;     // must occur in the name, byte for byte, case-sensitive; empty always does
    std::int32_t dir_mode = 0;      // 0: not a directory; 2: a directory; other values: no condition
    std::uint32_t ref_length = 0;   // the byte count the Data Length is compared with
    std::int32_t length_mode = 0;   // 0: equal; 1: Data Length greater; 2: Data Length less; other: no condition
    std::string_view magic;         // bytes the extent must begin with
    std::int32_t magic_len = 0;     // how many bytes of magic are compared: 0 or less passes; more than
                                    // magic.size(), or more than the image holds at the extent, fails
};

// The leading bytes of extents, each read once and kept for all the searches
// of one scan (the movie and the audio search of the media scan share one),
// so that the magic tests cost one read per distinct extent however many
// records name it: at most one read per sector of the image, none for an
// extent past its end. Holds KEPT + 1 bytes per sector of the image from the
// first test on (10 MiB for a 4 GiB image). Bound to one image, which must not
// change while it is in use; serves one search at a time.
class IsoExtentHeads {
public:
    static constexpr std::size_t KEPT = 4;  // bytes kept per extent; a longer magic is read at every test

    explicit IsoExtentHeads(ByteSource& image)
        : image_(image), sectors_((image.size() + SECTOR_SIZE - 1) / SECTOR_SIZE) {}

    // Whether the data at logical block `extent` begin with `magic`; false when
    // the image ends (or its read fails) before magic.size() bytes.
    bool begins_with(std::uint32_t extent, std::string_view magic);

private:
    struct Head {
        std::array<char, KEPT> bytes{};
        std::int8_t count = -1;  // bytes the image gave at the extent; -1: not read yet
    };
    ByteSource& image_;
    std::uint64_t sectors_;    // sectors the image touches, a short last one included
    std::vector<Head> heads_;  // by logical block; empty until the first test
};

// What one search carries through the tree.
struct IsoSearch {
    ByteSource& image;
    std::span<IsoDirRecord> results;          // capacity = results.size()
    const IsoFilter* filter = nullptr;        // nullptr: every record passes
    IsoExtentHeads& heads;                    // leading bytes for ISO_MATCH_MAGIC, of the same image
    std::vector<bool> walked;                 // by logical block: the directory extents walked so far
                                              // (grown to the image's sectors by the walk)
    std::uint64_t records_examined = 0;       // records read so far, self and parent records included
};

// Searches the tree whose root the Primary Volume Descriptor names and stores
// the records that pass `filter` (every record when nullptr) in `results` from
// index 0, depth first in the order of the records in each directory; a
// directory is stored after what was stored from beneath it. Self and parent
// records are never tested or stored. Returns the count stored, at most
// results.size() (and at most INT32_MAX). An image shorter than the root
// record's Location of Extent (32930 bytes) gives 0.
//
// Work bound: one search examines at most ISO_RECORDS_PER_SECTOR (64) records
// per 2048-byte sector of the image (a short last sector counts as one), all
// directories together, self and parent records included. A sector holds at
// most 60 records and a well-formed disc has each directory sector walked once,
// so no real disc comes near the bound; but as a directory runs on until a zero
// length byte ends it, a crafted image can make every walk read on to its end.
// The record that would pass the bound is neither tested nor stored: the search
// ends there with what it has stored, as when the results are full, and the
// directories still open are not stored. A search so costs at most a small
// multiple of one pass over the image, whatever its records say: directories
// are read in blocks of 16 sectors, once each time a walk passes over them,
// and the magic tests make at most one read of a few bytes per distinct extent
// inside the image (none past its end), none at all for the extents that
// `heads` already holds.
//
// `heads`: the leading bytes of the image's extents, kept from an earlier
// search of the same image; nullptr: the search keeps its own.
int iso_find_files(ByteSource& image, std::span<IsoDirRecord> results, const IsoFilter* filter,
                   IsoExtentHeads* heads = nullptr);

// Walks the directory whose records begin at byte `dir_offset` (a multiple of
// SECTOR_SIZE), and every directory below it not yet in search.walked,
// storing matches from index `found` on (found ≤ results.size()). Returns the
// new count. The walk stops at once, without storing the record in hand, when
// the results are full after a record was tested and, for a directory,
// walked, and when the record read brings search.records_examined past the
// work bound of iso_find_files. The image is read in blocks of 16 sectors, the
// last 8 kept at hand for the walk. A directory whose extent lies past the end
// of the image is not entered: it holds no records.
//
// A directory ends at a zero length byte when more bytes are left up to the
// next 2048-byte boundary than the previous record's length; otherwise the
// walk goes on at that boundary (and ends there too when its length byte is
// 0). The directory's Data Length is not consulted, so a directory that fills
// its last sector is followed into the bytes after it.
std::size_t iso_walk_dir(IsoSearch& search, std::uint64_t dir_offset, std::size_t found);

}  // namespace qivpak
