// ls.cpp - qiv ls: the files and folders of the disc inside a container, as paths, a long listing or JSON
#include "qiv/commands.hpp"
#include "qiv/failure.hpp"
#include "qiv/json.hpp"
#include "qiv/utf8.hpp"

#include <qivpak/disc.hpp>

#include <algorithm>
#include <cstdio>

namespace qiv {

namespace {

// One line of the listing: an entry and its path relative to the root.
struct Listed {
    std::string path;  // "Docs/readme.txt"; a folder without its final "/"
    qivpak::DiscEntry entry;
};

// The date of a count of days since 1970-01-01 (proleptic Gregorian).
void civil_from_days(std::int64_t z, std::int64_t& y, unsigned& m, unsigned& d) {
    z += 719468;
    const std::int64_t era = (z >= 0 ? z : z - 146096) / 146097;
    const auto doe = static_cast<unsigned>(z - era * 146097);
    const unsigned yoe = (doe - doe / 1460 + doe / 36524 - doe / 146096) / 365;
    const unsigned doy = doe - (365 * yoe + yoe / 4 - yoe / 100);
    const unsigned mp = (5 * doy + 2) / 153;
    d = doy - (153 * mp + 2) / 5 + 1;
    m = mp < 10 ? mp + 3 : mp - 9;
    y = static_cast<std::int64_t>(yoe) + era * 400 + (m <= 2);
}

// "2024-03-05 06:07" (iso: "2024-03-05T06:07:08Z"), in UTC.
std::string utc_text(std::int64_t seconds, bool iso) {
    const std::int64_t days = (seconds >= 0 ? seconds : seconds - 86399) / 86400;
    const std::int64_t in_day = seconds - days * 86400;
    std::int64_t y = 0;
    unsigned m = 0, d = 0;
    civil_from_days(days, y, m, d);
    char text[64];
    const auto h = static_cast<int>(in_day / 3600), mi = static_cast<int>(in_day / 60 % 60), s = static_cast<int>(in_day % 60);
    if (iso) std::snprintf(text, sizeof text, "%04lld-%02u-%02uT%02d:%02d:%02dZ", static_cast<long long>(y), m, d, h, mi, s);
    else std::snprintf(text, sizeof text, "%04lld-%02u-%02u %02d:%02d", static_cast<long long>(y), m, d, h, mi);
    return text;
}

char type_letter(qivpak::EntryKind kind) {
    return kind == qivpak::EntryKind::folder ? 'd' : kind == qivpak::EntryKind::symlink ? 'l' : '-';
}

// The permissions as ls -l writes them: "drwxr-xr-x", set-id and sticky bits as s/S and t/T. Without
// Rock Ridge a disc is read-only: "dr-xr-xr-x" for folders, "-r--r--r--" otherwise.
std::string mode_text(const qivpak::DiscEntry& entry) {
    const std::uint32_t mode = entry.mode ? *entry.mode : entry.kind == qivpak::EntryKind::folder ? 0555 : 0444;
    std::string text(1, type_letter(entry.kind));
    const char* const letters = "rwxrwxrwx";
    for (int bit = 8; bit >= 0; --bit) text += (mode >> bit & 1) ? letters[8 - bit] : '-';
    const auto special = [&](std::size_t at, std::uint32_t flag, char set) {
        if (mode & flag) text[at] = text[at] == 'x' ? set : static_cast<char>(set - 'a' + 'A');
    };
    special(3, 04000, 's'), special(6, 02000, 's'), special(9, 01000, 't');
    return text;
}

const char* type_name(qivpak::EntryKind kind) {
    return kind == qivpak::EntryKind::folder ? "folder" : kind == qivpak::EntryKind::symlink ? "symlink" : "file";
}

std::string shown_path(const Listed& item) {
    return shown(item.path) + (item.entry.kind == qivpak::EntryKind::folder ? "/" : "");
}

void print_listing(std::FILE* out, const std::vector<Listed>& items, bool long_format) {
    std::size_t width = 0;
    for (const Listed& item : items) width = std::max(width, std::to_string(item.entry.size).size());
    for (const Listed& item : items) {
        if (!long_format) {
            std::fprintf(out, "%s\n", shown_path(item).c_str());
            continue;
        }
        std::string line = mode_text(item.entry) + " ";
        const std::string size = std::to_string(item.entry.size);
        line += std::string(width - size.size(), ' ') + size + " " + utc_text(item.entry.mtime, false) + " " +
                shown_path(item);
        if (item.entry.kind == qivpak::EntryKind::symlink) line += " -> " + shown(item.entry.target);
        std::fprintf(out, "%s\n", line.c_str());
    }
}

void print_json(std::FILE* out, const std::vector<Listed>& items) {
    JsonArrayWriter json(out);
    for (const Listed& item : items) {
        JsonObject object;
        object.add_name("path", item.path).add("type", type_name(item.entry.kind)).add("size", item.entry.size);
        object.add("mtime", utc_text(item.entry.mtime, true));
        if (item.entry.mode) {
            char mode[16];
            std::snprintf(mode, sizeof mode, "%04o", static_cast<unsigned>(*item.entry.mode & 07777));
            object.add("mode", mode);
        }
        if (item.entry.kind == qivpak::EntryKind::symlink) object.add_name("target", item.entry.target);
        json.add(object);
    }
}

}  // namespace

int ls_command(const LsArgs& args, Streams& io) {
    std::optional<qivpak::QivReader> reader;
    std::optional<qivpak::DiscTree> tree;
    if (!open_disc(args.container, reader, tree, io.err)) return EXIT_SOME_FAILED;
    int status = EXIT_ALL_WELL;
    std::vector<Listed> items;
    const auto add = [&](const qivpak::DiscEntry& entry) { items.push_back({entry.path.substr(1), entry}); };
    const std::vector<std::string> paths = args.paths.empty() ? std::vector<std::string>{"/"} : args.paths;
    for (const std::string& path : paths) {
        try {
            const std::optional<qivpak::DiscEntry> entry = tree->find(path);
            if (!entry) {
                std::fprintf(io.err, "qiv: %s: %s: no such file or folder\n", args.container.c_str(), shown(path).c_str());
                status = EXIT_SOME_FAILED;
                continue;
            }
            if (entry->path != "/") add(*entry);
            if (entry->kind == qivpak::EntryKind::folder) tree->walk(*entry, add);
        } catch (const std::exception& error) {
            print_disc_failure(io.err, args.container, error);
            status = EXIT_SOME_FAILED;
        }
    }
    if (args.json) print_json(io.out, items);
    else print_listing(io.out, items, args.long_format);
    return with_output_checked(io, status);
}

}  // namespace qiv
