// console_posix.cpp - a terminal is a tty, and its cursor moves by ANSI sequences
#include "cli/console.hpp"

#include <unistd.h>

namespace qivpak {

Console Console::for_stdout() { return Console(stdout, ::isatty(STDOUT_FILENO) == 1); }

void Console::move_native(int column, int row) { move_by_escapes(column, row); }

int Console::native_row() const { return row_; }

}  // namespace qivpak
