// dat_pugixml.cpp - a DAT's XML read with pugixml
#include "qiv/dat.hpp"

#include <pugixml.hpp>

#include <cstring>

namespace qiv {

std::vector<DatRom> parse_dat(std::string_view xml) {
    pugi::xml_document document;
    const pugi::xml_parse_result parsed = document.load_buffer(xml.data(), xml.size());
    if (!parsed)
        throw DatError(std::string(parsed.description()) + " (at byte " + std::to_string(parsed.offset) + ")");
    const pugi::xml_node root = document.document_element();
    if (std::strcmp(root.name(), "datafile") != 0) throw DatError("the document element is not <datafile>");
    std::vector<DatRom> roms;
    for (const pugi::xml_node game : root.children()) {
        if (std::strcmp(game.name(), "game") != 0 && std::strcmp(game.name(), "machine") != 0) continue;
        for (const pugi::xml_node rom : game.children("rom"))
            add_rom(roms, game.attribute("name").value(), rom.attribute("name").value(), rom.attribute("size").value(),
                    rom.attribute("crc").value(), rom.attribute("md5").value(), rom.attribute("sha1").value());
    }
    return roms;
}

}  // namespace qiv
