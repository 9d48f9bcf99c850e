// progress_line.cpp - the progress line shared by the compressor, decompressor and analysis
#include "cli/progress_line.hpp"

namespace qivpak {

ProgressLine::ProgressLine(Console& console, const char* announcement, int column)
    : console_(console), column_(column) {
    console_.write(announcement);
    row_ = console_.cursor_row() - 1;
}

void ProgressLine::show(unsigned percent) {
    console_.set_cursor(percent == 100 ? column_ - 1 : column_, row_);
    console_.print("%u%%", percent);
}

void ProgressLine::finish() {
    console_.set_cursor(column_ - 1, row_);
    console_.write("100%\n");
}

}  // namespace qivpak
