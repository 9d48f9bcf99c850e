// dat_files.cpp - reading DAT files from disk, and writing the DAT of the missing roms
#include "qiv/dat_files.hpp"

#include "qiv/paths.hpp"

#include <cerrno>
#include <cstring>
#include <fstream>
#include <iterator>

namespace qiv {

namespace {

// The whole file at the UTF-8 path `file` into `bytes`; false with errno's reason in `why`.
// A folder, or a file whose reading fails midway, fails here too: the stream
// reports a failed read by throwing, and that is its reason.
bool read_whole_file(const std::string& file, std::string& bytes, std::string& why) {
    errno = 0;
    try {
        std::ifstream in(to_path(file), std::ios::binary);
        if (in) bytes.assign(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
        if (in && !in.bad()) return true;
    } catch (const std::ios_base::failure&) {
    }
    why = errno != 0 ? std::strerror(errno) : "cannot be read";
    return false;
}

}  // namespace

bool read_dats(const std::vector<std::string>& dats, std::vector<DatRom>& roms, std::FILE* err) {
    for (const std::string& dat : dats) {
        std::string bytes, why;
        if (!read_whole_file(dat, bytes, why)) {
            std::fprintf(err, "qiv: %s: cannot open the DAT file: %s\n", dat.c_str(), why.c_str());
            return false;
        }
        try {
            std::vector<DatRom> listed = parse_dat(bytes);
            roms.insert(roms.end(), std::make_move_iterator(listed.begin()), std::make_move_iterator(listed.end()));
        } catch (const DatError& error) {
            std::fprintf(err, "qiv: %s: not a DAT file: %s\n", dat.c_str(), error.what());
            return false;
        }
    }
    return true;
}

std::string crc_hex(std::uint32_t crc) {
    char text[9];
    std::snprintf(text, sizeof text, "%08x", static_cast<unsigned>(crc));
    return text;
}

std::string xml_escaped(std::string_view text) {
    std::string out;
    for (const char c : text) {
        switch (c) {
        case '&': out += "&amp;"; break;
        case '<': out += "&lt;"; break;
        case '>': out += "&gt;"; break;
        case '"': out += "&quot;"; break;
        case '\'': out += "&apos;"; break;
        case '\t': out += "&#9;"; break;
        case '\n': out += "&#10;"; break;
        case '\r': out += "&#13;"; break;
        default: out += c;
        }
    }
    return out;
}

std::string fixdat_xml(const std::vector<const DatRom*>& missing, const std::vector<std::string>& sources) {
    std::string names;
    for (const std::string& source : sources) names += (names.empty() ? "" : ", ") + source;
    std::string xml = "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<datafile>\n  <header>\n";
    xml += "    <name>fixdat of " + xml_escaped(names) + "</name>\n";
    xml += "    <description>the roms of " + xml_escaped(names) + " that no container holds</description>\n";
    xml += "  </header>\n";
    std::vector<bool> written(missing.size());
    for (std::size_t g = 0; g < missing.size(); ++g) {
        if (written[g]) continue;
        const std::string game = xml_escaped(missing[g]->game);
        xml += "  <game name=\"" + game + "\">\n    <description>" + game + "</description>\n";
        for (std::size_t r = g; r < missing.size(); ++r) {
            if (written[r] || missing[r]->game != missing[g]->game) continue;
            written[r] = true;
            const DatRom& rom = *missing[r];
            xml += "    <rom name=\"" + xml_escaped(rom.name) + "\" size=\"" + std::to_string(rom.size) + "\"";
            if (rom.crc32) xml += " crc=\"" + crc_hex(*rom.crc32) + "\"";
            if (!rom.md5.empty()) xml += " md5=\"" + rom.md5 + "\"";
            if (!rom.sha1.empty()) xml += " sha1=\"" + rom.sha1 + "\"";
            xml += "/>\n";
        }
        xml += "  </game>\n";
    }
    return xml + "</datafile>\n";
}

}  // namespace qiv
