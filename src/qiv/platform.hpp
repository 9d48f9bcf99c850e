// platform.hpp - what qiv asks of the system beyond the library: terminals, binary output, finishing outputs
#pragma once

#include <cstdio>
#include <string>

namespace qiv {

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

// How a file operation below ended. Paths are UTF-8.
struct FileOutcome {
    bool ok = true;
    bool name_taken = false;  // it failed because a file of the target name exists
    std::string reason;       // when it failed: the system's words ("No space left on device")
};

// Creates `path` as a new, empty file; fails (name_taken) when anything of that name exists.
FileOutcome create_new_file(const std::string& path);

// Writes every byte of the closed file `path` that the system still holds in memory to the device,
// so that it survives a crash once renamed (fsync; FlushFileBuffers on Windows).
FileOutcome flush_to_device(const std::string& path);

// Gives the file `from` the name `to` in the same folder, in one step: a reader of `to` sees either
// what was there before or the whole new file. Without `replace` a file already named `to` is never
// replaced (the call fails with name_taken and leaves both as they are); with it, it is replaced. On
// POSIX the folder is then flushed to the device too, so that the new name survives a crash.
FileOutcome rename_into_place(const std::string& from, const std::string& to, bool replace);

}  // namespace qiv
