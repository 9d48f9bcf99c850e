// utf8.cpp - decoding UTF-8, and the columns of its characters on a terminal
#include "qiv/utf8.hpp"

#include <cstdint>
#include <cstdio>

namespace qiv {

namespace {

constexpr std::string_view REPLACEMENT = "\xEF\xBF\xBD";  // U+FFFD

// The character of the valid sequence of `length` bytes at text[at].
char32_t code_point(std::string_view text, std::size_t at, std::size_t length) {
    const auto byte = [&](std::size_t k) { return static_cast<char32_t>(static_cast<unsigned char>(text[at + k])); };
    if (length == 1) return byte(0);
    char32_t c = byte(0) & (0x7F >> length);
    for (std::size_t k = 1; k < length; ++k) c = c << 6 | (byte(k) & 0x3F);
    return c;
}

// Columns of one character, as terminals draw it.
std::size_t width_of(char32_t c) {
    if ((c >= 0x0300 && c <= 0x036F) || (c >= 0x200B && c <= 0x200F) || (c >= 0xFE00 && c <= 0xFE0F)) return 0;
    const bool wide = (c >= 0x1100 && c <= 0x115F) || (c >= 0x2E80 && c <= 0x303E) || (c >= 0x3041 && c <= 0x33FF) ||
                      (c >= 0x3400 && c <= 0x4DBF) || (c >= 0x4E00 && c <= 0x9FFF) || (c >= 0xA000 && c <= 0xA4CF) ||
                      (c >= 0xAC00 && c <= 0xD7A3) || (c >= 0xF900 && c <= 0xFAFF) || (c >= 0xFE30 && c <= 0xFE4F) ||
                      (c >= 0xFF00 && c <= 0xFF60) || (c >= 0xFFE0 && c <= 0xFFE6) ||
                      (c >= 0x1F300 && c <= 0x1F64F) || (c >= 0x1F900 && c <= 0x1F9FF) ||
                      (c >= 0x20000 && c <= 0x3FFFD);
    return wide ? 2 : 1;
}

// Calls each(at, length, columns) for every character of `text`; a byte that starts no valid
// sequence counts as one character of one column.
template <class Each>
void for_each_character(std::string_view text, Each each) {
    for (std::size_t at = 0; at < text.size();) {
        const std::size_t length = utf8_sequence(text, at);
        const std::size_t step = length == 0 ? 1 : length;
        if (!each(at, step, length == 0 ? 1 : width_of(code_point(text, at, length)))) return;
        at += step;
    }
}

}  // namespace

std::size_t utf8_sequence(std::string_view text, std::size_t at) {
    const auto byte = [&](std::size_t k) { return static_cast<unsigned char>(text[at + k]); };
    const unsigned char lead = byte(0);
    if (lead < 0x80) return 1;
    std::size_t length = 0;
    unsigned char low = 0x80, high = 0xBF;  // the range of the second byte
    if (lead >= 0xC2 && lead <= 0xDF) {
        length = 2;
    } else if (lead >= 0xE0 && lead <= 0xEF) {
        length = 3;
        if (lead == 0xE0) low = 0xA0;   // no overlong forms
        if (lead == 0xED) high = 0x9F;  // no surrogates
    } else if (lead >= 0xF0 && lead <= 0xF4) {
        length = 4;
        if (lead == 0xF0) low = 0x90;
        if (lead == 0xF4) high = 0x8F;  // nothing past U+10FFFF
    }
    if (length == 0 || at + length > text.size()) return 0;
    if (byte(1) < low || byte(1) > high) return 0;
    for (std::size_t k = 2; k < length; ++k)
        if (byte(k) < 0x80 || byte(k) > 0xBF) return 0;
    return length;
}

bool is_utf8(std::string_view text) {
    for (std::size_t at = 0; at < text.size();) {
        const std::size_t length = utf8_sequence(text, at);
        if (length == 0) return false;
        at += length;
    }
    return true;
}

std::string shown(std::string_view text) {
    std::string out;
    for (std::size_t at = 0; at < text.size();) {
        const std::size_t length = utf8_sequence(text, at);
        const auto c = static_cast<unsigned char>(text[at]);
        if (length == 0) {
            out += REPLACEMENT;
        } else if (c < 0x20 || c == 0x7F) {
            char escaped[8];
            std::snprintf(escaped, sizeof escaped, "\\u%04x", static_cast<unsigned>(c));
            out += escaped;
        } else {
            out.append(text.substr(at, length));
        }
        at += length == 0 ? 1 : length;
    }
    return out;
}

std::size_t columns_of(std::string_view text) {
    std::size_t columns = 0;
    for_each_character(text, [&](std::size_t, std::size_t, std::size_t width) { return columns += width, true; });
    return columns;
}

std::string cut_to(std::string_view text, std::size_t width) {
    std::size_t columns = 0, end = 0;
    for_each_character(text, [&](std::size_t at, std::size_t length, std::size_t w) {
        if (columns + w > width) return false;
        columns += w;
        end = at + length;
        return true;
    });
    return std::string(text.substr(0, end));
}

std::string fit_end(std::string_view text, std::size_t width) {
    const std::size_t total = columns_of(text);
    if (total <= width) return std::string(text);
    if (width <= 3) return "";
    // Drop characters from the start until what is left fits beside "...".
    std::size_t dropped = 0;
    std::size_t start = text.size();
    for_each_character(text, [&](std::size_t at, std::size_t length, std::size_t w) {
        if (total - dropped <= width - 3) {
            start = at;
            return false;
        }
        dropped += w;
        start = at + length;
        return true;
    });
    return "..." + std::string(text.substr(start));
}

}  // namespace qiv
