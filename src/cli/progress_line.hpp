// progress_line.hpp - a percentage overwritten in place on its announcement's line
#pragma once

#include "cli/console.hpp"

namespace qivpak {

// Prints the announcement (ending in a newline), remembers its row, and then
// prints each percentage on that row just after the announcement's text. On a
// terminal every percentage overwrites the previous one; elsewhere they
// follow each other. "100%" starts one column further left than the others,
// so that it ends in the same column as a two-digit percentage.
class ProgressLine {
public:
    // `column`: where percentages below 100 start; 100 starts at column - 1.
    ProgressLine(Console& console, const char* announcement, int column);

    // Prints "<percent>%".
    void show(unsigned percent);
    // Prints the closing "100%" and ends the line.
    void finish();

private:
    Console& console_;
    int row_;     // row of the announcement
    int column_;  // first column of a percentage below 100
};

}  // namespace qivpak
