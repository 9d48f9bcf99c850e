// progress_line.hpp - a percentage overwritten in place on its announcement's line
#pragma once

#include "cli/console.hpp"

namespace qivpak {

// Prints the announcement (ending in a newline), remembers its row, and then
// prints each percentage at a given column of that row. On a terminal every
// percentage overwrites the previous one; elsewhere they follow each other.
class ProgressLine {
public:
    ProgressLine(Console& console, const char* announcement);

    // Prints "<percent>%" from `column` of the announcement's row.
    void show(int column, unsigned percent);
    // Prints the closing "100%" from `column` and ends the line.
    void finish(int column);

private:
    Console& console_;
    int row_;  // row of the announcement
};

}  // namespace qivpak
