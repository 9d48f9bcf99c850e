// disc.hpp - the files of the ISO 9660 disc inside a QIV container: folders, names, sizes, times and bytes
//
// A DiscTree reads the volume descriptors, and the directories it is asked
// for, through a QivReader: nothing is unpacked. Names come from Rock Ridge
// where the disc has it (the SUSP "SP" entry in the root's "." record, or
// RR, NM or PX entries in it), else from Joliet (a Supplementary Volume
// Descriptor of UCS-2 names), else from the primary directory records
// without their ";1" version and trailing dot. Names are UTF-8.
//
// Ownership: a DiscTree keeps a reference to the QivReader it is opened over;
// the reader must outlive it.
//
// Thread safety: a DiscTree is immutable after construction; any number of
// threads may call its members on one DiscTree at the same time (the reader's
// own contract).
//
// Errors: a disc is untrusted. What cannot be read as ISO 9660 is refused
// with a DiscError (a qivpak::Error) whose what() says what and where ("not
// an ISO 9660 disc", "directory loop at /A/B", "no such file: /x"); a
// damaged frame of the container is the reader's QivFormatError. Every call
// reads and keeps at most a bounded multiple of the image's size: a folder
// or file must lie inside the image, continuation areas are followed at most
// MAX_CONTINUATIONS times, folders nest at most MAX_DEPTH deep, and a walk
// reads every folder at most once and no more folder bytes than the image
// holds.
#pragma once

#include <qivpak/error.hpp>
#include <qivpak/reader.hpp>

#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace qivpak {

// Continuation areas (SUSP "CE") followed for one directory record.
inline constexpr std::size_t MAX_CONTINUATIONS = 32;
// Folders below the root on one path.
inline constexpr std::size_t MAX_DEPTH = 256;

// A disc that cannot be read as ISO 9660, or a path it does not hold.
class DiscError : public Error {
public:
    using Error::Error;
};

enum class EntryKind { file, folder, symlink };

// Where the names of a disc come from.
enum class DiscNames { rock_ridge, joliet, primary };

// A run of bytes of a file or folder on the disc.
struct DiscExtent {
    std::uint32_t block = 0;    // first 2048-byte logical block
    std::uint32_t length = 0;   // bytes
};

// One file, folder or symlink.
struct DiscEntry {
    std::string name;                   // as read, UTF-8; empty for the root
    std::string path;                   // "/" for the root, else "/A/B/c.txt" (names joined as read)
    EntryKind kind = EntryKind::file;
    std::uint64_t size = 0;             // bytes (the sum of a multi-extent file's extents)
    std::int64_t mtime = 0;             // modification time, seconds since 1970-01-01 00:00 UTC
    std::optional<std::uint32_t> mode;  // POSIX mode (type and permission bits), from Rock Ridge PX only
    std::string target;                 // symlink target (Rock Ridge SL), components joined with "/"
    // The name holds "/" or NUL, or is "." or "..": it cannot be a file name.
    // Such an entry is listed as read, but lookup() never matches it.
    bool unsafe_name = false;
    std::vector<DiscExtent> extents;    // where the bytes lie, in order
    // First blocks of the folders above (root first), for the loop checks;
    // shared by the entries of one folder, so a listing costs no more per
    // entry however deep it lies. None for the root.
    std::shared_ptr<const std::vector<std::uint32_t>> ancestors;
};

class DiscTree {
public:
    // Reads the volume descriptors and the root folder's record. Throws
    // DiscError "not an ISO 9660 disc" when sector 16 holds no volume
    // descriptor or no Primary Volume Descriptor comes before the terminator.
    explicit DiscTree(const QivReader& reader);

    DiscNames names() const { return names_; }
    const DiscEntry& root() const { return root_; }

    // What `folder` holds, in stored order, without "." and "..". The
    // records of a multi-extent file are one entry; folders that Rock Ridge
    // relocated are listed where they belong (CL), and their stand-ins (RE)
    // not at all. Throws DiscError for a folder that is not one, lies past
    // the image, is its own ancestor or nests deeper than MAX_DEPTH, and for
    // records that cannot be read.
    std::vector<DiscEntry> list(const DiscEntry& folder) const;

    // The entry at `path` ("/" or "" the root, "/A/B/c.txt"; "A/B" is read as
    // "/A/B", and empty components are skipped), or none when the disc holds
    // no such path. Names match exactly (byte for byte).
    std::optional<DiscEntry> find(std::string_view path) const;
    // As find(), throwing DiscError "no such file: PATH" when there is none.
    DiscEntry lookup(std::string_view path) const;

    // Calls `visit` for everything below `folder`, depth first in stored
    // order: a folder, then what it holds. Each folder is read once: a folder
    // reached a second time, and more folder bytes than the image holds, end
    // the walk with a DiscError.
    void walk(const DiscEntry& folder, const std::function<void(const DiscEntry&)>& visit) const;

    // Copies up to `length` bytes of `file`, from `offset` on, into `buffer`.
    // Returns the count copied: fewer when the range passes the end of the
    // file (0 from its end on). Throws DiscError for a folder.
    std::size_t read(const DiscEntry& file, std::uint64_t offset, void* buffer, std::size_t length) const;

private:
    std::vector<DiscEntry> read_folder(const DiscEntry& folder, std::uint64_t* budget) const;

    const QivReader& reader_;
    DiscNames names_ = DiscNames::primary;
    std::uint32_t su_skip_ = 0;  // bytes of each System Use field before its entries (SUSP "SP")
    DiscEntry root_;
};

}  // namespace qivpak
