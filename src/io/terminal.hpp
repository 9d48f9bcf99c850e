// terminal.hpp - what a standard stream is joined to: a terminal and its width, binary output, a pipe that closes
#pragma once

#include <cstdio>

namespace qivpak {

// Whether `stream` is a terminal (a tty; on Windows a console).
bool is_terminal(std::FILE* stream);

// Switches `stream` to binary output (on Windows no "\n" becomes "\r\n"; elsewhere nothing changes).
void set_binary(std::FILE* stream);

// The width in columns of the terminal that `stream` writes to; 0 when it is none or it cannot be told.
int terminal_columns(std::FILE* stream);

// From here on, writing to a pipe whose reader has gone (`qiv pack *.iso | head`) fails instead of
// ending the process (SIGPIPE is ignored on POSIX; Windows never ends a process for it), so that a run
// always gets to remove its temporary files.
void keep_running_when_a_pipe_closes();

}  // namespace qivpak
