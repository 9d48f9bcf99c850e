// batch.cpp - qiv pack and qiv unpack: many inputs, each to one output that appears only when complete
#include "qiv/commands.hpp"

namespace qiv {

int pack_command(const PackArgs&, Streams& io) {
    std::fputs("qiv: pack is not built yet\n", io.err);
    return EXIT_SOME_FAILED;
}

int unpack_command(const UnpackArgs&, Streams& io) {
    std::fputs("qiv: unpack is not built yet\n", io.err);
    return EXIT_SOME_FAILED;
}

}  // namespace qiv
