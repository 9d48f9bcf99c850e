// progress_line.cpp - the progress line shared by the compressor, decompressor and analysis
#include "cli/progress_line.hpp"

namespace qivpak {

ProgressLine::ProgressLine(Console& console, const char* announcement) : console_(console) {
    console_.write(announcement);
    row_ = console_.cursor_row() - 1;
}

void ProgressLine::show(int column, unsigned percent) {
    console_.set_cursor(column, row_);
    console_.print("%u%%", percent);
}

void ProgressLine::finish(int column) {
    console_.set_cursor(column, row_);
    console_.write("100%\n");
}

}  // namespace qivpak
