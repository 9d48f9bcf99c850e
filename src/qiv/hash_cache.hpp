// hash_cache.hpp - the hashes of containers already read, kept between runs in one file per user
#pragma once

#include "io/file_stamp.hpp"
#include "qiv/image_hash.hpp"

#include <cstdint>
#include <cstdio>
#include <map>
#include <string>
#include <utility>

namespace qiv {

// The file (FOLDER/qiv/hashes, FOLDER being qivpak::user_cache_folder()) and
// its format, text in UTF-8 and "\n" line ends on every system:
//
//   qiv hash cache 1
//   DEVICE FILE_ID SIZE MTIME_NS IMAGE_SIZE CRC32 MD5 SHA1 USED     (one line a container)
//   crc32 XXXXXXXX
//
// DEVICE, FILE_ID, SIZE (of the container file), MTIME_NS (signed), IMAGE_SIZE
// and USED (seconds since 1970 when the entry was last made or found useful)
// in decimal; CRC32 in 8, MD5 in 32 and SHA1 in 40 lower-case hex digits. The
// last line holds the CRC-32 of every byte before it. A file that breaks any
// of this (cut short, garbage, another version) is damaged: it is taken as
// empty, said once, and replaced by the next write.
//
// An entry serves a file only when its device, file id, size and time all
// match: a file written since (a new time) or replaced by another (a new
// identity) is read again. It holds at most MAX_ENTRIES entries, the ones
// last used; an entry of a file that is gone lives on until it is among the
// oldest.
class HashCache {
public:
    static constexpr std::size_t MAX_ENTRIES = 20000;

    struct Entry {
        std::uint64_t image_size = 0;
        ImageHashes hashes;
    };

    // The cache file's path; empty when the system names no cache folder.
    static std::string default_path();

    // Reads the cache file at `path` (none there: an empty cache). Warnings
    // (one line each, "qiv: FILE: ...") go to `warnings`.
    HashCache(std::string path, std::FILE* warnings);

    // What is kept for the file of `stamp`; nullptr when nothing matches.
    const Entry* find(const qivpak::FileStamp& stamp);
    // Keeps `entry` for the file of `stamp`, replacing what was kept for its identity.
    void add(const qivpak::FileStamp& stamp, const Entry& entry);

    // When anything was added or used: merges what the file holds now (other
    // runs may have written it meanwhile), under a lock shared with them
    // (FILE.lock beside it), writes the result to a new file beside it and
    // renames that over it. A failure is one warning; the cache is then left
    // as it was.
    void save();

private:
    struct Kept {
        qivpak::FileStamp stamp;
        Entry entry;
        std::int64_t used = 0;
    };
    using Entries = std::map<std::pair<std::uint64_t, std::uint64_t>, Kept>;  // by device and file id

    // The entries of the file at path_; false when it is there but damaged.
    bool read(Entries& entries) const;
    void warn_damaged();

    std::string path_;
    std::FILE* warnings_;
    Entries entries_;
    bool changed_ = false;
    bool warned_damaged_ = false;
};

}  // namespace qiv
