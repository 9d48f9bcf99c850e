// dat_files.hpp - DAT files read from disk for verify, report and rename, and a DAT of what is missing written out
#pragma once

#include "qiv/dat.hpp"

#include <cstdint>
#include <cstdio>
#include <string>
#include <vector>

namespace qiv {

// The roms of every DAT file of `dats` (UTF-8 names), in the order given,
// appended to `roms`; false after a message on `err` naming the first that
// could not be read ("qiv: F: cannot open the DAT file: ...") or parsed
// ("qiv: F: not a DAT file: ...").
bool read_dats(const std::vector<std::string>& dats, std::vector<DatRom>& roms, std::FILE* err);

// A CRC32 as eight lower-case hex digits.
std::string crc_hex(std::uint32_t crc);

// `text` for an XML attribute or element: & < > " ' as entities, and tab,
// line feed and carriage return as character references, so that a reader
// gives them back as they were.
std::string xml_escaped(std::string_view text);

// A DAT (Logiqx XML, the same on every system) of the roms `missing`: a
// <header> whose name is "fixdat of " and the DAT names `sources` (joined by
// ", "), then one <game> per game in the order its first rom comes, each with
// its roms in order and every hash and size they list.
std::string fixdat_xml(const std::vector<const DatRom*>& missing, const std::vector<std::string>& sources);

}  // namespace qiv
