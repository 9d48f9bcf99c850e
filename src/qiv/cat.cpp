// cat.cpp - qiv cat: the plain image, or a byte range of it, to standard output
#include "qiv/commands.hpp"

namespace qiv {

int cat_command(const CatArgs&, Streams& io) {
    std::fputs("qiv: cat is not built yet\n", io.err);
    return EXIT_SOME_FAILED;
}

}  // namespace qiv
