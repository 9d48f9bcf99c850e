// console.hpp - the one place that writes to the person: messages and the progress line
#pragma once

#include <cstdarg>
#include <cstdio>
#include <optional>
#include <string>
#include <string_view>

namespace qivpak {

// Everything the tool says goes through one Console. It knows whether its
// output is a terminal: only then does set_cursor move the cursor, so on a
// pipe or file the percentages of a progress line simply follow each other.
// Every print is written out at once.
//
// The cursor of a real terminal is moved by the system's means, chosen by the
// build: ANSI sequences relative to the row the console keeps track of
// (POSIX), or the console's own cursor position in its screen buffer
// (Windows, where the console also shows text as UTF-8).
class Console {
public:
    // Writes to `out` (normally stdout); `terminal` says whether cursor moves are honoured.
    Console(std::FILE* out, bool terminal);

    // Console over the process's standard output, a terminal when the system
    // says it is one (a tty on POSIX, a console on Windows).
    static Console for_stdout();

    void print(const char* format, ...) __attribute__((format(printf, 2, 3)));
    void write(std::string_view text);

    // Puts the cursor at a zero-based column of a row counted as cursor_row() counts.
    // Does nothing when the output is not a terminal; a failed move is ignored.
    void set_cursor(int column, int row);
    // Row of the cursor: the number of newlines written so far, or on a
    // Windows console the cursor's row in the screen buffer.
    int cursor_row() const;

    // Prints "Press any key to continue" and reads one character from `in`.
    void wait_for_key(std::FILE* in);

private:
    // The system's halves, in console_posix.cpp and console_win.cpp: the
    // cursor of a real terminal.
    void move_native(int column, int row);
    int native_row() const;

    std::FILE* out_ = nullptr;
    bool terminal_ = false;
    int row_ = 0;  // rows advanced since the console was made
};

// The text a printf format makes of its arguments, whatever its length;
// nothing when the format cannot be applied.
std::optional<std::string> format_text(const char* format, std::va_list args);

}  // namespace qivpak
