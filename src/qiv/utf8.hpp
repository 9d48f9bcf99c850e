// utf8.hpp - names as qiv shows them: valid UTF-8, no control characters, in the columns a terminal gives them
#pragma once

#include <cstddef>
#include <string>
#include <string_view>

namespace qiv {

// The length of the valid UTF-8 sequence that starts text[at] (1 to 4), or 0
// when none does (an overlong form, a surrogate, past U+10FFFF, cut short).
std::size_t utf8_sequence(std::string_view text, std::size_t at);

// Whether `text` is valid UTF-8 throughout.
bool is_utf8(std::string_view text);

// `text` for a line of a terminal or a log: valid UTF-8 as it is, each
// control character as a JSON \u escape ("\u001b"), and each byte that
// starts no valid sequence as U+FFFD, so that no name moves the cursor or
// breaks a table.
std::string shown(std::string_view text);

// The columns `text` (UTF-8) takes on a terminal: two for a wide character
// (CJK, Hangul, fullwidth forms, most emoji), none for a combining mark, one
// for any other.
std::size_t columns_of(std::string_view text);

// `text` in at most `width` columns: its end after "..." when it is longer.
std::string fit_end(std::string_view text, std::size_t width);

// The start of `text` that fits in `width` columns.
std::string cut_to(std::string_view text, std::size_t width);

}  // namespace qiv
