// dat.cpp - the roms of a DAT from their attributes, and which of them an image is
#include "qiv/dat.hpp"

#include <algorithm>
#include <charconv>

namespace qiv {

namespace {

bool is_hex(std::string_view text) {
    return std::all_of(text.begin(), text.end(), [](char c) {
        return (c >= '0' && c <= '9') || (c >= 'a' && c <= 'f') || (c >= 'A' && c <= 'F');
    });
}

// `text` in lower case when it is `digits` hex digits, else empty.
std::string hex_of_length(std::string_view text, std::size_t digits) {
    if (text.size() != digits || !is_hex(text)) return {};
    std::string lower(text);
    std::transform(lower.begin(), lower.end(), lower.begin(), [](char c) { return c >= 'A' && c <= 'F' ? c + 32 : c; });
    return lower;
}

}  // namespace

void check_dat_bytes(std::string_view xml) {
    if (const std::size_t nul = xml.find('\0'); nul != std::string_view::npos)
        throw DatError("a NUL byte (at byte " + std::to_string(nul) + ")");
}

void add_rom(std::vector<DatRom>& roms, std::string_view game, std::string_view name, std::string_view size,
             std::string_view crc, std::string_view md5, std::string_view sha1) {
    const auto malformed = [&](const char* hash, const char* digits) {
        return DatError("game \"" + std::string(game) + "\", rom \"" + std::string(name) + "\": the " + hash +
                        " is not " + digits + " hex digits");
    };
    DatRom rom{std::string(game), std::string(name), 0, std::nullopt, hex_of_length(md5, 32), hex_of_length(sha1, 40)};
    if (!md5.empty() && rom.md5.empty()) throw malformed("md5", "32");
    if (!sha1.empty() && rom.sha1.empty()) throw malformed("sha1", "40");
    if (!crc.empty()) {
        std::uint32_t crc32 = 0;
        const auto [crc_end, crc_error] = std::from_chars(crc.data(), crc.data() + crc.size(), crc32, 16);
        if (crc.size() > 8 || !is_hex(crc) || crc_error != std::errc() || crc_end != crc.data() + crc.size())
            throw malformed("crc", "1 to 8");
        rom.crc32 = crc32;
    }
    const auto [size_end, size_error] = std::from_chars(size.data(), size.data() + size.size(), rom.size);
    if (size.empty() || size_error != std::errc() || size_end != size.data() + size.size()) return;
    roms.push_back(std::move(rom));
}

std::string_view file_stem(std::string_view path) {
    const std::size_t slash = path.find_last_of("/\\");
    if (slash != std::string_view::npos) path.remove_prefix(slash + 1);
    const std::size_t dot = path.rfind('.');
    return dot == std::string_view::npos || dot == 0 ? path : path.substr(0, dot);
}

std::string weak_hashes(const DatRom& rom) {
    if (!rom.sha1.empty()) return "";
    if (rom.crc32 && !rom.md5.empty()) return "CRC32 and MD5";
    return rom.crc32 ? "CRC32" : "MD5";
}

DatVerdict find_image(const std::vector<DatRom>& roms, std::uint64_t size, const ImageHashes& hashes,
                      std::string_view container_path) {
    // Every hash the rom lists must agree, and it must list one: a size alone tells nothing.
    const auto matches = [&](const DatRom& rom) {
        const bool listed = rom.crc32 || !rom.md5.empty() || !rom.sha1.empty();
        return listed && rom.size == size && (!rom.crc32 || *rom.crc32 == hashes.crc32) &&
               (rom.md5.empty() || rom.md5 == hashes.md5) && (rom.sha1.empty() || rom.sha1 == hashes.sha1);
    };
    if (auto it = std::find_if(roms.begin(), roms.end(), matches); it != roms.end())
        return {DatVerdict::Kind::verified, &*it};
    const std::string_view name = file_stem(container_path);
    const auto named = [&](const DatRom& rom) { return file_stem(rom.name) == name || rom.game == name; };
    if (auto it = std::find_if(roms.begin(), roms.end(), named); it != roms.end())
        return {DatVerdict::Kind::mismatch, &*it};
    return {DatVerdict::Kind::not_listed};
}

}  // namespace qiv
