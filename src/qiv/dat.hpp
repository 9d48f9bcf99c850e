// dat.hpp - DAT files (Logiqx XML): the roms they list, and finding an image among them
//
// A DAT lists known good dumps: <datafile><game name=...><rom name= size= crc=
// md5= sha1=/>...</game>...</datafile>, with <machine> also taken for <game>.
// Reading the XML is the system's business (pugixml on POSIX systems, the
// system's XmlLite on Windows): parse_dat has one source per system; the
// rest of the reading and the matching are the same everywhere.
#pragma once

#include "qiv/image_hash.hpp"

#include <cstdint>
#include <optional>
#include <stdexcept>
#include <string>
#include <string_view>
#include <vector>

namespace qiv {

struct DatRom {
    std::string game;                    // name of the game (or machine) that lists it
    std::string name;                    // the rom's file name, as the DAT writes it
    std::uint64_t size = 0;              // bytes
    std::optional<std::uint32_t> crc32;  // none when the DAT gives none
    std::string md5, sha1;               // lower-case hex; empty when the DAT gives none
};

// A DAT that cannot be parsed; what() says why, e.g. "Start-end tags mismatch (at byte 57)".
class DatError : public std::runtime_error {
    using runtime_error::runtime_error;
};

// The roms of the DAT whose bytes are `xml`, in document order. Attributes
// are read as add_rom reads them. Throws DatError when the bytes are not one
// well-formed XML document (a NUL byte, a second document element or text
// after it included), the document element is not <datafile>, or a rom's
// hash is malformed.
std::vector<DatRom> parse_dat(std::string_view xml);

// Refuses what no XML reader should let through: a NUL byte anywhere.
// Throws DatError; parse_dat calls it before the system's reader.
void check_dat_bytes(std::string_view xml);

// Appends the rom with these attribute values (as written in the DAT) to
// `roms`. A rom whose size is not a decimal number is left out. A hash given
// empty is absent; a crc that is not 1 to 8 hex digits, an md5 not 32 or a
// sha1 not 40 throws DatError naming the game and the rom. Hex is read
// without regard to case.
void add_rom(std::vector<DatRom>& roms, std::string_view game, std::string_view name, std::string_view size,
             std::string_view crc, std::string_view md5, std::string_view sha1);

struct DatVerdict {
    enum class Kind {
        verified,    // a rom of this size whose every listed hash agrees (it lists one at least)
        mismatch,    // none matched, but the container is named after `rom`: its stem, or its game's name
        not_listed,  // neither
    } kind;
    const DatRom* rom = nullptr;  // the rom matched or named (the first in list order); null for not_listed
};

// For a verified rom without a SHA-1: the hashes it was verified by ("CRC32",
// "MD5" or "CRC32 and MD5"); empty when the rom lists a SHA-1.
std::string weak_hashes(const DatRom& rom);

// Finds the image of `size` bytes and `hashes`, held by the container at
// `container_path`, among `roms`.
DatVerdict find_image(const std::vector<DatRom>& roms, std::uint64_t size, const ImageHashes& hashes,
                      std::string_view container_path);

// The file name of `path` without its folders (either slash) and its extension: "a/b.c.qiv" gives "b.c".
std::string_view file_stem(std::string_view path);

}  // namespace qiv
