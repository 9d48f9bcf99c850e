// console.cpp - console output and the progress line's cursor, the parts every system shares
#include "cli/console.hpp"

#include <algorithm>
#include <cstdarg>
#include <vector>

namespace qivpak {

Console::Console(std::FILE* out, bool terminal) : out_(out), terminal_(terminal) {}

Console::Console(std::string& capture, bool terminal) : capture_(&capture), terminal_(terminal) {}

void Console::print(const char* format, ...) {
    std::va_list args;
    va_start(args, format);
    std::va_list copy;
    va_copy(copy, args);
    char small[512];
    int len = std::vsnprintf(small, sizeof small, format, args);
    va_end(args);
    if (len < 0) {
        va_end(copy);
        return;
    }
    if (static_cast<std::size_t>(len) < sizeof small) {
        va_end(copy);
        write(std::string_view(small, static_cast<std::size_t>(len)));
        return;
    }
    std::vector<char> big(static_cast<std::size_t>(len) + 1);
    std::vsnprintf(big.data(), big.size(), format, copy);
    va_end(copy);
    write(std::string_view(big.data(), static_cast<std::size_t>(len)));
}

void Console::write(std::string_view text) {
    row_ += static_cast<int>(std::count(text.begin(), text.end(), '\n'));
    if (capture_ != nullptr) {
        capture_->append(text);
        return;
    }
    std::fwrite(text.data(), 1, text.size(), out_);
    std::fflush(out_);
}

void Console::set_cursor(int column, int row) {
    if (!terminal_) return;
    if (capture_ != nullptr)
        move_by_escapes(column, row);
    else
        move_native(column, row);
}

int Console::cursor_row() const { return capture_ != nullptr || !terminal_ ? row_ : native_row(); }

void Console::move_by_escapes(int column, int row) {
    std::string seq;
    if (row < row_) seq += "\x1b[" + std::to_string(row_ - row) + "A";
    if (row > row_) seq += "\x1b[" + std::to_string(row - row_) + "B";
    seq += "\x1b[" + std::to_string(column + 1) + "G";
    row_ = row;
    write(seq);
}

void Console::wait_for_key(std::FILE* in) {
    write("Press any key to continue");
    if (in != nullptr) std::fgetc(in);
}

}  // namespace qivpak
