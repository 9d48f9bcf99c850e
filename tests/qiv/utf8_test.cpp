// utf8_test.cpp - names on a terminal: escaped, measured in columns, cut to fit
#include "qiv/utf8.hpp"

#include <gtest/gtest.h>

namespace {

TEST(QivUtf8, NamesAreShownEscapedAndMeasuredInTheColumnsATerminalGivesThem) {
    struct Row {
        std::string text;
        std::string shown;
        std::size_t columns;  // of `shown`
    };
    const Row rows[] = {
        {"game.iso", "game.iso", 8},
        {"caf\xc3\xa9", "caf\xc3\xa9", 4},                                  // one column a letter
        {"\xe6\x97\xa5\xe6\x9c\xac.iso", "\xe6\x97\xa5\xe6\x9c\xac.iso", 8},  // CJK: two columns each
        {"\xea\xb0\x80", "\xea\xb0\x80", 2},                                // Hangul
        {"\xf0\x9f\x92\xbf", "\xf0\x9f\x92\xbf", 2},                        // an emoji
        {"e\xcc\x81", "e\xcc\x81", 1},                                      // a combining accent takes none
        {"a\x1b[2Jb\n", "a\\u001b[2Jb\\u000a", 17},                         // control characters escaped
        {"bad\xff.iso", "bad\xef\xbf\xbd.iso", 8},                          // a byte that is no UTF-8
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.shown);
        EXPECT_EQ(qiv::shown(row.text), row.shown);
        EXPECT_EQ(qiv::columns_of(row.shown), row.columns);
    }
    const std::string wide = "\xe6\x97\xa5\xe6\x9c\xac\xe8\xaa\x9e.iso";  // 3 wide characters, then 4 columns
    EXPECT_EQ(qiv::fit_end(wide, 10), wide);
    EXPECT_EQ(qiv::fit_end(wide, 9), "...\xe8\xaa\x9e.iso");  // "..." and 6 columns
    EXPECT_EQ(qiv::fit_end(wide, 8), "....iso");               // a wide character that would need 9 goes whole
    EXPECT_EQ(qiv::cut_to(wide, 5), "\xe6\x97\xa5\xe6\x9c\xac");  // never half a wide character
    EXPECT_EQ(qiv::cut_to(wide, 20), wide);
}

}  // namespace
