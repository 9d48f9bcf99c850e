// hash_cache.cpp - the hash cache file: read and checked whole, merged, written beside and renamed into place
#include "qiv/hash_cache.hpp"

#include "io/file.hpp"
#include "qiv/dat_files.hpp"
#include "qiv/digest.hpp"
#include "qiv/paths.hpp"
#include "qiv/pending_output.hpp"

#include <algorithm>
#include <charconv>
#include <chrono>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <optional>
#include <string_view>
#include <system_error>
#include <vector>

namespace qiv {

namespace {

constexpr std::string_view kHeader = "qiv hash cache 1\n";
constexpr std::string_view kSumPrefix = "crc32 ";
constexpr std::int64_t kRefreshSeconds = 24 * 3600;  // a use younger than this is not written down again

std::int64_t now_seconds() {
    return std::chrono::duration_cast<std::chrono::seconds>(std::chrono::system_clock::now().time_since_epoch()).count();
}

// A whole field as a number (decimal, or hex for `base` 16); nothing before or after it.
template <typename T>
bool parse_number(std::string_view text, T& value, int base = 10) {
    if (text.empty()) return false;
    const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), value, base);
    return error == std::errc() && end == text.data() + text.size();
}

bool is_hex(std::string_view text, std::size_t digits) {
    return text.size() == digits &&
           std::all_of(text.begin(), text.end(), [](char c) { return (c >= '0' && c <= '9') || (c >= 'a' && c <= 'f'); });
}

// One entry line without its "\n"; false when it is not one.
template <typename Kept>
bool parse_entry(std::string_view line, Kept& kept) {
    std::string_view fields[9];
    for (std::string_view& field : fields) {
        const std::size_t space = line.find(' ');
        field = line.substr(0, space);
        line = space == std::string_view::npos ? std::string_view() : line.substr(space + 1);
        if (space == std::string_view::npos && &field != &fields[8]) return false;
    }
    if (!line.empty() || !is_hex(fields[5], 8) || !is_hex(fields[6], 32) || !is_hex(fields[7], 40)) return false;
    kept.entry.hashes.md5 = fields[6];
    kept.entry.hashes.sha1 = fields[7];
    return parse_number(fields[0], kept.stamp.device) && parse_number(fields[1], kept.stamp.file_id) &&
           parse_number(fields[2], kept.stamp.size) && parse_number(fields[3], kept.stamp.mtime_ns) &&
           parse_number(fields[4], kept.entry.image_size) && parse_number(fields[5], kept.entry.hashes.crc32, 16) &&
           parse_number(fields[8], kept.used);
}

}  // namespace

std::string HashCache::default_path() {
    const std::string folder = qivpak::user_cache_folder();
    return folder.empty() ? std::string() : to_utf8(to_path(folder) / "qiv" / "hashes");
}

HashCache::HashCache(std::string path, std::FILE* warnings) : path_(std::move(path)), warnings_(warnings) {
    // Read under the writers' lock where it can be had: on Windows a file open for reading cannot be
    // renamed over, so another run's save would fail while this one reads.
    std::error_code error;
    qivpak::IoStatus ignored;  // a folder that takes no lock file: read without it
    const std::optional<qivpak::FileLock> lock = std::filesystem::exists(to_path(path_), error)
                                                     ? qivpak::FileLock::acquire(path_ + ".lock", ignored)
                                                     : std::nullopt;
    if (!read(entries_)) warn_damaged();
}

void HashCache::warn_damaged() {
    if (warned_damaged_) return;
    warned_damaged_ = true;
    std::fprintf(warnings_, "qiv: %s: the hash cache is damaged; it is rebuilt\n", path_.c_str());
    changed_ = true;  // rewritten even if this run adds nothing
}

bool HashCache::read(Entries& entries) const {
    std::error_code error;
    if (!std::filesystem::exists(to_path(path_), error)) return true;
    std::string bytes;
    try {
        std::ifstream in(to_path(path_), std::ios::binary);
        if (!in) return false;
        bytes.assign(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
        if (in.bad()) return false;
    } catch (const std::ios_base::failure&) {
        return false;
    }
    const std::string_view text = bytes;
    // The last line: "crc32 " and the CRC-32 of everything before it.
    const std::size_t sum_at = text.size() < 2 ? std::string_view::npos : text.rfind('\n', text.size() - 2) + 1;
    std::uint32_t sum = 0;
    if (!text.starts_with(kHeader) || sum_at == std::string_view::npos || sum_at < kHeader.size() ||
        !text.ends_with('\n') || !text.substr(sum_at).starts_with(kSumPrefix) ||
        !is_hex(text.substr(sum_at + kSumPrefix.size(), text.size() - 1 - sum_at - kSumPrefix.size()), 8) ||
        !parse_number(text.substr(sum_at + kSumPrefix.size(), 8), sum, 16) || crc32_update(0, text.data(), sum_at) != sum)
        return false;
    Entries read;
    for (std::size_t at = kHeader.size(); at < sum_at;) {
        const std::size_t end = text.find('\n', at);
        Kept kept;
        if (!parse_entry(text.substr(at, end - at), kept)) return false;
        read[{kept.stamp.device, kept.stamp.file_id}] = kept;
        at = end + 1;
    }
    entries = std::move(read);
    return true;
}

const HashCache::Entry* HashCache::find(const qivpak::FileStamp& stamp) {
    const auto it = entries_.find({stamp.device, stamp.file_id});
    if (it == entries_.end() || !(it->second.stamp == stamp)) return nullptr;
    const std::int64_t now = now_seconds();
    if (now - it->second.used >= kRefreshSeconds) {
        it->second.used = now;
        changed_ = true;
    }
    return &it->second.entry;
}

void HashCache::add(const qivpak::FileStamp& stamp, const Entry& entry) {
    entries_[{stamp.device, stamp.file_id}] = Kept{stamp, entry, now_seconds()};
    changed_ = true;
}

void HashCache::save() {
    if (!changed_) return;
    const auto cannot = [&](const std::string& why) {
        std::fprintf(warnings_, "qiv: %s: the hash cache cannot be written: %s\n", path_.c_str(), why.c_str());
    };
    std::error_code error;
    std::filesystem::create_directories(to_path(path_).parent_path(), error);
    if (error) return cannot(error.message());
    qivpak::IoStatus locked;
    const std::optional<qivpak::FileLock> lock = qivpak::FileLock::acquire(path_ + ".lock", locked);
    if (!lock) return cannot(locked.reason());

    // What other runs wrote meanwhile; for a file both know, the entry used last.
    Entries on_disk;
    if (!read(on_disk)) warn_damaged();
    for (auto& [key, kept] : on_disk) {
        const auto [it, added] = entries_.try_emplace(key, kept);
        if (!added && kept.used > it->second.used) it->second = kept;
    }
    std::vector<const Kept*> kept;
    for (const auto& [key, entry] : entries_) kept.push_back(&entry);
    if (kept.size() > MAX_ENTRIES) {
        std::nth_element(kept.begin(), kept.begin() + MAX_ENTRIES, kept.end(),
                         [](const Kept* a, const Kept* b) { return a->used > b->used; });
        kept.resize(MAX_ENTRIES);
    }

    std::string text(kHeader);
    for (const Kept* k : kept) {
        text += std::to_string(k->stamp.device) + ' ' + std::to_string(k->stamp.file_id) + ' ' +
                std::to_string(k->stamp.size) + ' ' + std::to_string(k->stamp.mtime_ns) + ' ' +
                std::to_string(k->entry.image_size) + ' ' + crc_hex(k->entry.hashes.crc32) + ' ' + k->entry.hashes.md5 +
                ' ' + k->entry.hashes.sha1 + ' ' + std::to_string(k->used) + '\n';
    }
    text += std::string(kSumPrefix) + crc_hex(crc32_update(0, text.data(), text.size())) + '\n';
    try {
        PendingOutput output(path_);
        std::optional<qivpak::File> file = qivpak::File::open(output.temp_path(), qivpak::File::Mode::truncate);
        if (!file) return cannot("cannot open a temporary file beside it");
        if (!file->write_all(text.data(), text.size()) || !file->close())
            return cannot(file->failure().empty() ? "a write failed" : file->failure());
        output.put_in_place(true);
    } catch (const InputFailed& failure) {
        return cannot(failure.what());
    }
    changed_ = false;
}

}  // namespace qiv
