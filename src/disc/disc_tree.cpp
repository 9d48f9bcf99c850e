// disc_tree.cpp - the ISO 9660 tree of a container's image: volume descriptors, directory records, Rock Ridge, Joliet
#include <qivpak/disc.hpp>

#include "format/qiv_format.hpp"

#include <algorithm>
#include <array>
#include <set>
#include <utility>

namespace qivpak {

namespace {

constexpr std::uint64_t BLOCK = 2048;                // logical block
constexpr std::uint32_t FIRST_DESCRIPTOR = 16;       // sector of the first volume descriptor
constexpr std::uint32_t MAX_DESCRIPTORS = 64;        // descriptors read before giving up on a terminator
constexpr std::size_t RECORD_FIXED = 33;             // bytes of a directory record before its name
constexpr std::uint8_t FLAG_DIRECTORY = 0x02;
constexpr std::uint8_t FLAG_MULTI_EXTENT = 0x80;
constexpr std::uint32_t MODE_TYPE = 0170000;
constexpr std::uint32_t MODE_SYMLINK = 0120000;

// Days from 1970-01-01 to the given day of the proleptic Gregorian calendar.
std::int64_t days_from_civil(std::int64_t y, unsigned m, unsigned d) {
    y -= m <= 2;
    const std::int64_t era = (y >= 0 ? y : y - 399) / 400;
    const auto yoe = static_cast<unsigned>(y - era * 400);
    const unsigned doy = (153 * (m > 2 ? m - 3 : m + 9) + 2) / 5 + d - 1;
    const unsigned doe = yoe * 365 + yoe / 4 - yoe / 100 + doy;
    return era * 146097 + static_cast<std::int64_t>(doe) - 719468;
}

// A time in UTC from local fields and an offset from UTC in 15-minute steps;
// 0 when the fields name no day.
std::int64_t utc_seconds(int year, int month, int day, int hour, int minute, int second, std::int8_t quarters) {
    if (month < 1 || month > 12 || day < 1 || day > 31) return 0;
    return days_from_civil(year, static_cast<unsigned>(month), static_cast<unsigned>(day)) * 86400 + hour * 3600 +
           minute * 60 + second - std::int64_t{quarters} * 15 * 60;
}

// The 7-byte time of a directory record (and of Rock Ridge TF's short form).
std::int64_t short_time(const std::uint8_t* t) {
    return utc_seconds(1900 + t[0], t[1], t[2], t[3], t[4], t[5], static_cast<std::int8_t>(t[6]));
}

// The 17-byte time of TF's long form: "YYYYMMDDHHMMSScc" and the offset.
std::int64_t long_time(const std::uint8_t* t) {
    const auto digits = [t](int at, int count) {
        int value = 0;
        for (int i = 0; i < count; ++i) value = value * 10 + (t[at + i] >= '0' && t[at + i] <= '9' ? t[at + i] - '0' : 0);
        return value;
    };
    return utc_seconds(digits(0, 4), digits(4, 2), digits(6, 2), digits(8, 2), digits(10, 2), digits(12, 2),
                       static_cast<std::int8_t>(t[16]));
}

void append_utf8(std::string& out, std::uint32_t c) {
    if (c < 0x80) {
        out += static_cast<char>(c);
    } else if (c < 0x800) {
        out += static_cast<char>(0xc0 | c >> 6);
        out += static_cast<char>(0x80 | (c & 0x3f));
    } else if (c < 0x10000) {
        out += static_cast<char>(0xe0 | c >> 12);
        out += static_cast<char>(0x80 | (c >> 6 & 0x3f));
        out += static_cast<char>(0x80 | (c & 0x3f));
    } else {
        out += static_cast<char>(0xf0 | c >> 18);
        out += static_cast<char>(0x80 | (c >> 12 & 0x3f));
        out += static_cast<char>(0x80 | (c >> 6 & 0x3f));
        out += static_cast<char>(0x80 | (c & 0x3f));
    }
}

// A Joliet name (UCS-2 big-endian, surrogate pairs for what lies past U+FFFF)
// in UTF-8; a lone surrogate becomes U+FFFD, an odd last byte is dropped.
std::string joliet_name(const std::uint8_t* p, std::size_t bytes) {
    std::string out;
    const std::size_t units = bytes / 2;
    for (std::size_t i = 0; i < units; ++i) {
        const std::uint32_t unit = std::uint32_t{p[2 * i]} << 8 | p[2 * i + 1];
        if (unit >= 0xd800 && unit < 0xdc00 && i + 1 < units) {
            const std::uint32_t low = std::uint32_t{p[2 * i + 2]} << 8 | p[2 * i + 3];
            if (low >= 0xdc00 && low < 0xe000) {
                append_utf8(out, 0x10000 + ((unit - 0xd800) << 10) + (low - 0xdc00));
                ++i;
                continue;
            }
        }
        append_utf8(out, unit >= 0xd800 && unit < 0xe000 ? 0xfffd : unit);
    }
    return out;
}

// A name without its version (";1") and, then, a trailing dot ("README." is "README"; "." and ".." stay).
std::string without_version(std::string name) {
    if (const std::size_t semicolon = name.rfind(';'); semicolon != std::string::npos) name.resize(semicolon);
    if (name.size() > 1 && name.back() == '.' && name != "..") name.pop_back();
    return name;
}

bool is_unsafe(const std::string& name) {
    return name.empty() || name == "." || name == ".." || name.find('/') != std::string::npos ||
           name.find('\0') != std::string::npos;
}

std::string child_path(const std::string& folder, const std::string& name) {
    return folder == "/" ? "/" + name : folder + "/" + name;
}

// What the System Use entries of one record say.
struct RockRidge {
    bool sharing_protocol = false;  // SP
    bool any = false;               // RR, NM or PX
    std::optional<std::string> name;
    std::optional<std::uint32_t> mode;
    std::optional<std::int64_t> mtime;
    std::vector<std::string> link;  // SL components; a leading "" is the root
    bool link_continues = false;    // the last component goes on in the next SL
    bool has_link = false;
    std::optional<std::uint32_t> child;  // CL: the relocated folder's block
    bool relocated = false;              // RE: a stand-in for a relocated folder
};

void read_entries(const std::uint8_t* p, std::size_t n, RockRidge& rr, std::optional<std::array<std::uint32_t, 3>>& next) {
    while (n >= 4) {
        const std::size_t len = p[2];
        if (len < 4 || len > n) return;
        const std::string_view sig(reinterpret_cast<const char*>(p), 2);
        if (sig == "ST") return;
        if (sig == "SP" && len >= 7 && p[4] == 0xbe && p[5] == 0xef) rr.sharing_protocol = true;
        else if (sig == "CE" && len >= 28) next = {{load_le32(p + 4), load_le32(p + 12), load_le32(p + 20)}};
        else if (sig == "RR") rr.any = true;
        else if (sig == "NM" && len >= 5) {
            rr.any = true;
            std::string& name = rr.name ? *rr.name : rr.name.emplace();
            if (p[4] & 0x02) name += ".";
            else if (p[4] & 0x04) name += "..";
            else name.append(reinterpret_cast<const char*>(p + 5), len - 5);
        } else if (sig == "PX" && len >= 36) {
            rr.any = true;
            rr.mode = load_le32(p + 4);
        } else if (sig == "TF" && len >= 5) {
            const std::size_t size = (p[4] & 0x80) ? 17 : 7;
            std::size_t at = 5;
            for (int bit = 0; bit < 2; ++bit) {  // creation, then modification
                if (!(p[4] & (1 << bit))) continue;
                if (at + size > len) break;
                if (bit == 1) rr.mtime = size == 17 ? long_time(p + at) : short_time(p + at);
                at += size;
            }
        } else if (sig == "SL" && len >= 5) {
            rr.has_link = true;
            for (std::size_t at = 5; at + 2 <= len && at + 2 + p[at + 1] <= len; at += 2 + p[at + 1]) {
                const std::uint8_t flags = p[at];
                std::string text = (flags & 0x02)   ? "."
                                   : (flags & 0x04) ? ".."
                                   : (flags & 0x08) ? ""
                                                    : std::string(reinterpret_cast<const char*>(p + at + 2), p[at + 1]);
                if (rr.link_continues && !rr.link.empty()) rr.link.back() += text;
                else rr.link.push_back(std::move(text));
                rr.link_continues = (flags & 0x01) != 0;
            }
        } else if (sig == "CL" && len >= 12) {
            rr.child = load_le32(p + 4);
        } else if (sig == "RE") {
            rr.relocated = true;
        }
        p += len;
        n -= len;
    }
}

// A symlink target from its SL components: "" first is the root.
std::string joined_link(const std::vector<std::string>& components) {
    std::string target;
    for (std::size_t i = 0; i < components.size(); ++i) {
        if (i == 0 && components[0].empty()) {
            target = "/";
            continue;
        }
        if (!target.empty() && target.back() != '/') target += '/';
        target += components[i];
    }
    return target;
}

// Reads bytes that were checked to lie inside the image.
std::vector<std::uint8_t> read_bytes(const QivReader& reader, std::uint64_t offset, std::size_t length) {
    std::vector<std::uint8_t> bytes(length);
    if (reader.read(offset, bytes.data(), length) != length) throw DiscError("the image ends inside a volume descriptor");
    return bytes;
}

bool inside(const QivReader& reader, std::uint64_t offset, std::uint64_t length) {
    return offset <= reader.size() && length <= reader.size() - offset;
}

// The System Use entries of the record at `record` (its bytes), those of its
// continuation areas included.
RockRidge system_use(const QivReader& reader, const std::uint8_t* record, std::uint32_t skip, const std::string& where) {
    RockRidge rr;
    const std::size_t length = record[0], name_length = record[32];
    const std::size_t start = RECORD_FIXED + name_length + (name_length % 2 == 0 ? 1 : 0) + skip;
    std::optional<std::array<std::uint32_t, 3>> next;
    if (start < length) read_entries(record + start, length - start, rr, next);
    std::set<std::pair<std::uint32_t, std::uint32_t>> seen;
    while (next) {
        const auto [block, offset, size] = *next;
        next.reset();
        if (seen.size() == MAX_CONTINUATIONS || !seen.emplace(block, offset).second)
            throw DiscError("continuation loop at " + where);
        if (offset >= BLOCK || size > BLOCK - offset || !inside(reader, block * BLOCK + offset, size))
            throw DiscError("continuation area past the end of the image at " + where);
        const std::vector<std::uint8_t> area = read_bytes(reader, block * BLOCK + offset, size);
        read_entries(area.data(), area.size(), rr, next);
    }
    return rr;
}

}  // namespace

DiscTree::DiscTree(const QivReader& reader) : reader_(reader) {
    std::optional<std::vector<std::uint8_t>> primary, joliet;
    for (std::uint32_t sector = FIRST_DESCRIPTOR; sector < FIRST_DESCRIPTOR + MAX_DESCRIPTORS; ++sector) {
        if (!inside(reader, sector * BLOCK, BLOCK)) break;
        std::vector<std::uint8_t> descriptor = read_bytes(reader, sector * BLOCK, BLOCK);
        if (std::string_view(reinterpret_cast<const char*>(&descriptor[1]), 5) != "CD001") break;
        const std::uint8_t type = descriptor[0];
        if (type == 255) break;
        const bool ucs2 = descriptor[88] == '%' && descriptor[89] == '/' &&
                          (descriptor[90] == '@' || descriptor[90] == 'C' || descriptor[90] == 'E');
        if (type == 1 && !primary) primary = std::move(descriptor);
        else if (type == 2 && ucs2 && !joliet) joliet = std::move(descriptor);
    }
    if (!primary) throw DiscError("not an ISO 9660 disc");

    const auto root_of = [&](const std::vector<std::uint8_t>& descriptor) {
        DiscEntry root;
        root.path = "/";
        root.kind = EntryKind::folder;
        root.extents = {{load_le32(&descriptor[156 + 2]), load_le32(&descriptor[156 + 10])}};
        root.size = root.extents[0].length;
        root.mtime = short_time(&descriptor[156 + 18]);
        return root;
    };
    root_ = root_of(*primary);
    // Rock Ridge shows in the "." record of the primary root.
    const std::uint64_t at = std::uint64_t{root_.extents[0].block} * BLOCK;
    if (inside(reader, at, BLOCK)) {
        const std::vector<std::uint8_t> first = read_bytes(reader, at, BLOCK);
        if (first[0] >= RECORD_FIXED + 1 && first[32] == 1 && first[33] == 0) {
            const RockRidge rr = system_use(reader, first.data(), 0, "/");
            if (rr.sharing_protocol || rr.any) {
                names_ = DiscNames::rock_ridge;
                for (std::size_t i = RECORD_FIXED + 1; i + 7 <= first[0]; ++i)
                    if (first[i] == 'S' && first[i + 1] == 'P' && first[i + 4] == 0xbe && first[i + 5] == 0xef) {
                        su_skip_ = first[i + 6];
                        break;
                    }
                if (rr.mode) root_.mode = rr.mode;
                if (rr.mtime) root_.mtime = *rr.mtime;
            }
        }
    }
    if (names_ != DiscNames::rock_ridge && joliet) {
        names_ = DiscNames::joliet;
        root_ = root_of(*joliet);
    }
}

std::vector<DiscEntry> DiscTree::list(const DiscEntry& folder) const { return read_folder(folder, nullptr); }

std::vector<DiscEntry> DiscTree::read_folder(const DiscEntry& folder, std::uint64_t* budget) const {
    const std::string& where = folder.path;
    if (folder.kind != EntryKind::folder || folder.extents.size() != 1) throw DiscError("not a folder: " + where);
    const DiscExtent extent = folder.extents[0];
    const std::vector<std::uint32_t> none;
    const std::vector<std::uint32_t>& above = folder.ancestors ? *folder.ancestors : none;
    if (std::find(above.begin(), above.end(), extent.block) != above.end())
        throw DiscError("directory loop at " + where);
    if (above.size() > MAX_DEPTH) throw DiscError("folders nest too deep at " + where);
    if (!inside(reader_, extent.block * BLOCK, extent.length))
        throw DiscError("extent past the end of the image at " + where);
    if (budget) {
        if (extent.length > *budget) throw DiscError("more folder bytes than the image holds at " + where);
        *budget -= extent.length;
    }
    const std::vector<std::uint8_t> data = read_bytes(reader_, extent.block * BLOCK, extent.length);

    std::vector<DiscEntry> entries;
    std::optional<DiscEntry> pending;  // a multi-extent file whose last record is still to come
    auto chain = std::make_shared<std::vector<std::uint32_t>>(above);
    chain->push_back(extent.block);
    const std::shared_ptr<const std::vector<std::uint32_t>> ancestors = std::move(chain);
    for (std::size_t pos = 0; pos < data.size();) {
        const std::size_t length = data[pos];
        if (length == 0) {
            pos = (pos / BLOCK + 1) * BLOCK;
            continue;
        }
        if (length < RECORD_FIXED + 1 || pos % BLOCK + length > BLOCK || pos + length > data.size() ||
            RECORD_FIXED + data[pos + 32] > length)
            throw DiscError("damaged folder record at " + where);
        const std::uint8_t* record = &data[pos];
        pos += length;
        const std::size_t name_length = record[32];
        if (name_length == 1 && record[33] <= 1) continue;  // "." and ".."

        const std::string identifier(reinterpret_cast<const char*>(record + 33), name_length);
        const std::string provisional = child_path(where, without_version(identifier));
        RockRidge rr;
        if (names_ == DiscNames::rock_ridge) rr = system_use(reader_, record, su_skip_, provisional);
        if (rr.relocated) continue;  // shown where its CL entry is

        DiscEntry entry;
        if (rr.name) entry.name = *rr.name;
        else if (names_ == DiscNames::joliet) entry.name = without_version(joliet_name(record + 33, name_length));
        else entry.name = without_version(identifier);
        entry.path = child_path(where, entry.name);
        entry.unsafe_name = is_unsafe(entry.name);
        entry.mtime = rr.mtime ? *rr.mtime : short_time(record + 18);
        entry.mode = rr.mode;
        entry.ancestors = ancestors;
        DiscExtent part{load_le32(record + 2), load_le32(record + 10)};
        if ((record[25] & FLAG_DIRECTORY) || rr.child) {
            entry.kind = EntryKind::folder;
            if (rr.child) {
                // The relocated folder's size is in its own "." record.
                if (!inside(reader_, std::uint64_t{*rr.child} * BLOCK, BLOCK))
                    throw DiscError("extent past the end of the image at " + entry.path);
                const std::vector<std::uint8_t> self = read_bytes(reader_, std::uint64_t{*rr.child} * BLOCK, RECORD_FIXED + 1);
                part = {*rr.child, load_le32(&self[10])};
            }
        } else if (rr.has_link || (rr.mode && (*rr.mode & MODE_TYPE) == MODE_SYMLINK)) {
            entry.kind = EntryKind::symlink;
            entry.target = joined_link(rr.link);
        }
        if (!inside(reader_, part.block * BLOCK, part.length))
            throw DiscError("extent past the end of the image at " + entry.path);

        if (pending) {  // the next record of a multi-extent file: the same file, one more extent
            pending->extents.push_back(part);
            pending->size += part.length;
        } else {
            entry.extents = {part};
            entry.size = part.length;
            pending = std::move(entry);
        }
        if (!(record[25] & FLAG_MULTI_EXTENT) || pending->kind == EntryKind::folder) {
            entries.push_back(std::move(*pending));
            pending.reset();
        }
    }
    if (pending) entries.push_back(std::move(*pending));
    return entries;
}

std::optional<DiscEntry> DiscTree::find(std::string_view path) const {
    DiscEntry here = root_;
    while (!path.empty()) {
        const std::size_t slash = path.find('/');
        const std::string_view name = path.substr(0, slash);
        path = slash == std::string_view::npos ? std::string_view() : path.substr(slash + 1);
        if (name.empty()) continue;
        if (here.kind != EntryKind::folder) return std::nullopt;
        std::vector<DiscEntry> children = list(here);
        const auto match = std::find_if(children.begin(), children.end(),
                                        [&](const DiscEntry& e) { return !e.unsafe_name && e.name == name; });
        if (match == children.end()) return std::nullopt;
        here = std::move(*match);
    }
    return here;
}

DiscEntry DiscTree::lookup(std::string_view path) const {
    std::optional<DiscEntry> entry = find(path);
    if (!entry) throw DiscError("no such file: " + std::string(path.starts_with('/') ? "" : "/") + std::string(path));
    return std::move(*entry);
}

void DiscTree::walk(const DiscEntry& folder, const std::function<void(const DiscEntry&)>& visit) const {
    std::uint64_t budget = reader_.size();
    std::set<std::uint32_t> walked;
    const std::function<void(const DiscEntry&)> into = [&](const DiscEntry& here) {
        const std::uint32_t block = here.extents.empty() ? 0 : here.extents[0].block;
        const bool loop = here.ancestors &&
                          std::find(here.ancestors->begin(), here.ancestors->end(), block) != here.ancestors->end();
        if (!loop && !walked.insert(block).second) throw DiscError("folder reached twice at " + here.path);
        for (const DiscEntry& entry : read_folder(here, &budget)) {
            visit(entry);
            if (entry.kind == EntryKind::folder) into(entry);
        }
    };
    into(folder);
}

std::size_t DiscTree::read(const DiscEntry& file, std::uint64_t offset, void* buffer, std::size_t length) const {
    if (file.kind == EntryKind::folder) throw DiscError("is a folder: " + file.path);
    auto* out = static_cast<std::uint8_t*>(buffer);
    std::size_t copied = 0;
    std::uint64_t start = 0;  // the file's offset of the extent in hand
    for (const DiscExtent& extent : file.extents) {
        if (copied == length) break;
        const std::uint64_t end = start + extent.length;
        if (offset < end) {
            const std::uint64_t within = offset - start;
            const auto count = static_cast<std::size_t>(std::min<std::uint64_t>(length - copied, extent.length - within));
            const std::size_t got = reader_.read(extent.block * BLOCK + within, out + copied, count);
            copied += got;
            offset += got;
            if (got < count) break;
        }
        start = end;
    }
    return copied;
}

}  // namespace qivpak
