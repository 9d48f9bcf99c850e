// console.hpp - the one place that writes to the person: messages and the progress line
#pragma once

#include <cstdio>
#include <string>
#include <string_view>

namespace qivpak {

// Everything the tool says goes through one Console. It knows whether its
// output is a terminal: only then does set_cursor move the cursor (with ANSI
// sequences, relative to the row it keeps track of), so on a pipe or file the
// percentages of a progress line simply follow each other. Every print is
// written out at once. Tests construct it over a string, either way.
class Console {
public:
    // Writes to `out` (normally stdout); `terminal` says whether cursor moves are honoured.
    Console(std::FILE* out, bool terminal);
    // Appends everything to `capture` instead (tests).
    Console(std::string& capture, bool terminal);

    // Console over the process's standard output, a terminal when isatty says so.
    static Console for_stdout();

    void print(const char* format, ...) __attribute__((format(printf, 2, 3)));
    void write(std::string_view text);

    // Puts the cursor at a zero-based column of a row counted as cursor_row() counts.
    // Does nothing when the output is not a terminal.
    void set_cursor(int column, int row);
    // Row of the cursor: the number of newlines written so far.
    int cursor_row() const { return row_; }

    // Prints "Press any key to continue" and reads one character from `in`.
    void wait_for_key(std::FILE* in);

private:
    std::FILE* out_ = nullptr;
    std::string* capture_ = nullptr;
    bool terminal_ = false;
    int row_ = 0;  // rows advanced since the console was made
};

}  // namespace qivpak
