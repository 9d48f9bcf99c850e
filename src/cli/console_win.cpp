// console_win.cpp - a terminal is a Windows console: its screen buffer's cursor, UTF-8 text
#include "cli/console.hpp"

#include "io/terminal.hpp"
#include "io/terminal_win.hpp"

#include <fcntl.h>
#include <io.h>
#include <windows.h>

namespace qivpak {

namespace {

// The console's output code page is UTF-8 while the process runs, so that
// names (UTF-8 inside the program) show as they are; the code page the
// console had is put back when the process ends normally.
class Utf8ConsoleOutput {
public:
    Utf8ConsoleOutput() : before_(::GetConsoleOutputCP()) {
        if (before_ != CP_UTF8) ::SetConsoleOutputCP(CP_UTF8);
    }
    ~Utf8ConsoleOutput() {
        if (before_ != 0 && before_ != CP_UTF8) ::SetConsoleOutputCP(before_);
    }
    Utf8ConsoleOutput(const Utf8ConsoleOutput&) = delete;
    Utf8ConsoleOutput& operator=(const Utf8ConsoleOutput&) = delete;

private:
    UINT before_;
};

}  // namespace

Console Console::for_stdout() {
    // Text mode: every "\n" reaches the console, pipe or file as "\r\n".
    ::_setmode(::_fileno(stdout), _O_TEXT);
    const bool console = is_terminal(stdout);
    if (console) static const Utf8ConsoleOutput utf8;
    return Console(stdout, console);
}

// The row is a row of the screen buffer, as native_row() reports it; a
// failure (no console after all) is ignored.
void Console::move_native(int column, int row) {
    const COORD at{static_cast<SHORT>(column), static_cast<SHORT>(row)};
    ::SetConsoleCursorPosition(stream_handle(out_), at);
}

// The cursor's row in the screen buffer (not in the visible window). When the
// buffer is full, a newline scrolls its contents up and leaves the cursor on
// the last row, so the line just ended is still on the row above the cursor.
int Console::native_row() const {
    CONSOLE_SCREEN_BUFFER_INFO info{};
    if (!::GetConsoleScreenBufferInfo(stream_handle(out_), &info)) return row_;
    return info.dwCursorPosition.Y;
}

}  // namespace qivpak
