// console.cpp - console output and the progress line's cursor, the parts every system shares
#include "cli/console.hpp"

#include <algorithm>

namespace qivpak {

Console::Console(std::FILE* out, bool terminal) : out_(out), terminal_(terminal) {}

std::optional<std::string> format_text(const char* format, std::va_list args) {
    std::va_list copy;
    va_copy(copy, args);
    const int len = std::vsnprintf(nullptr, 0, format, copy);
    va_end(copy);
    if (len < 0) return std::nullopt;
    std::string text(static_cast<std::size_t>(len), '\0');
    std::vsnprintf(text.data(), text.size() + 1, format, args);
    return text;
}

void Console::print(const char* format, ...) {
    std::va_list args;
    va_start(args, format);
    const std::optional<std::string> text = format_text(format, args);
    va_end(args);
    if (text) write(*text);
}

void Console::write(std::string_view text) {
    row_ += static_cast<int>(std::count(text.begin(), text.end(), '\n'));
    std::fwrite(text.data(), 1, text.size(), out_);
    std::fflush(out_);
}

void Console::set_cursor(int column, int row) {
    if (terminal_) move_native(column, row);
}

int Console::cursor_row() const { return terminal_ ? native_row() : row_; }

void Console::wait_for_key(std::FILE* in) {
    write("Press any key to continue");
    if (in != nullptr) std::fgetc(in);
}

}  // namespace qivpak
