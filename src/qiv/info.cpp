// info.cpp - qiv info: what each container holds
#include "qiv/commands.hpp"

namespace qiv {

int info_command(const InfoArgs&, Streams& io) {
    std::fputs("qiv: info is not built yet\n", io.err);
    return EXIT_SOME_FAILED;
}

}  // namespace qiv
