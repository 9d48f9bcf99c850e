// messages.hpp - the words of every failure of a pack, an unpack or a read, without line ends
#pragma once

#include "events/run_error.hpp"

#include <qivpak/reader.hpp>

#include <string>

namespace qivpak {

// How the unpacker and the reader refuse a container: "Input is not a valid
// QIV file." and the like; `path` is named where the text names the file
// ("Cannot open input file <path>").
std::string container_fault_text(ContainerFault fault, const std::string& path);

// The message for a failed run: `input` and `output` are its file names (the
// image and the container when packing, the container and the image when
// unpacking).
std::string fault_text(const RunError& error, const std::string& input, const std::string& output);

}  // namespace qivpak
