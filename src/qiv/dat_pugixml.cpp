// dat_pugixml.cpp - a DAT's XML read with pugixml
#include "qiv/dat.hpp"

#include <pugixml.hpp>

#include <cstring>

namespace qiv {

std::vector<DatRom> parse_dat(std::string_view xml) {
    check_dat_bytes(xml);
    pugi::xml_document document;
    // Read as a fragment, so that whatever stands beside the document element is kept to be judged.
    const pugi::xml_parse_result parsed =
        document.load_buffer(xml.data(), xml.size(), pugi::parse_default | pugi::parse_fragment);
    if (!parsed)
        throw DatError(std::string(parsed.description()) + " (at byte " + std::to_string(parsed.offset) + ")");
    // A document has one element at its top and no text beside it.
    int elements = 0;
    for (const pugi::xml_node node : document.children()) {
        if (node.type() == pugi::node_element && ++elements > 1)
            throw DatError("a second document element <" + std::string(node.name()) + ">");
        if (node.type() == pugi::node_pcdata || node.type() == pugi::node_cdata)
            throw DatError("text outside the document element");
    }
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
