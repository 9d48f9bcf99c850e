// console_posix.cpp - a terminal is a tty, and its cursor moves by ANSI sequences
#include "cli/console.hpp"

#include "io/terminal.hpp"

#include <string>

namespace qivpak {

Console Console::for_stdout() { return Console(stdout, is_terminal(stdout)); }

// ANSI sequences: up or down by the rows between, then to the column.
void Console::move_native(int column, int row) {
    std::string seq;
    if (row < row_) seq += "\x1b[" + std::to_string(row_ - row) + "A";
    if (row > row_) seq += "\x1b[" + std::to_string(row - row_) + "B";
    seq += "\x1b[" + std::to_string(column + 1) + "G";
    row_ = row;
    write(seq);
}

int Console::native_row() const { return row_; }

}  // namespace qivpak
