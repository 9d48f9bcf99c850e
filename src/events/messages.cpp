// messages.cpp - the failure texts, each in one place
#include "events/messages.hpp"

namespace qivpak {

std::string container_fault_text(ContainerFault fault, const std::string& path) {
    switch (fault) {
    case ContainerFault::cannot_open: return "Cannot open input file " + path;
    case ContainerFault::not_qiv: return "Input is not a valid QIV file.";
    case ContainerFault::version_above: return "The version of the file is greater than supported.";
    case ContainerFault::corrupted_index: return "Corrupted input file.";
    case ContainerFault::frame_cut: return "Input seems to be corrupted.";
    case ContainerFault::bad_stream: return "Error while decompressing (corrupt input?)";
    }
    return "Corrupted input file.";
}

std::string fault_text(const RunError& error, const std::string& input, const std::string& output) {
    switch (error.fault) {
    case Fault::open_image: return "Error: cannot open input file " + input;
    case Fault::image_not_a_file:
        return "Error: input file " + input + " is not a regular file or a disc drive";
    case Fault::image_too_large: return "Error: input file " + input + " is larger than 4294967295 bytes";
    case Fault::read_image: return "Error: cannot read input file " + input;
    case Fault::analyze_image: return "Error analyzing input file " + input + ".";
    case Fault::create_container: return "Error: cannot create output file " + output;
    case Fault::write_container: return "I/O write error.";
    case Fault::compress_buffer: return "Not enough memory in compressed buffer!";
    case Fault::compress_failed: return "Memory error while compressing.";
    case Fault::container_too_large:
        return "Error: output file " + output + " would be larger than the format allows";
    case Fault::output_is_input: return "Error: output file " + output + " is the input file";
    case Fault::open_container: return container_fault_text(ContainerFault::cannot_open, input);
    case Fault::create_image: return "Cannot create output file " + output;
    case Fault::damaged_container: return container_fault_text(error.container, input);
    case Fault::write_image: return "I/O error writing to output file.";
    case Fault::image_is_container: return "Output file " + output + " is the input file";
    }
    return "Error";
}

}  // namespace qivpak
