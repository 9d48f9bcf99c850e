// wildcard.cpp - "*" and "?" in file names, matched with one step back to the last "*"
#include "io/wildcard.hpp"

namespace qivpak {

namespace {

char folded(char c) { return c >= 'A' && c <= 'Z' ? static_cast<char>(c + 32) : c; }

// The length of the character that starts name[at]: a byte and the UTF-8 continuation bytes after it.
std::size_t character_at(std::string_view name, std::size_t at) {
    std::size_t end = at + 1;
    while (end < name.size() && (static_cast<unsigned char>(name[end]) & 0xC0) == 0x80) ++end;
    return end - at;
}

}  // namespace

bool wildcard_matches(std::string_view pattern, std::string_view name) {
    std::size_t p = 0, n = 0;
    std::size_t star = std::string_view::npos, star_name = 0;  // the last "*" seen, and where its run ends so far
    while (n < name.size()) {
        if (p < pattern.size() && pattern[p] == '*') {
            star = p++;
            star_name = n;
        } else if (p < pattern.size() && pattern[p] == '?') {
            ++p;
            n += character_at(name, n);
        } else if (p < pattern.size() && folded(pattern[p]) == folded(name[n])) {
            ++p, ++n;
        } else if (star != std::string_view::npos) {
            p = star + 1;  // the "*" takes one more character
            star_name += character_at(name, star_name);
            n = star_name;
        } else {
            return false;
        }
    }
    while (p < pattern.size() && pattern[p] == '*') ++p;
    return p == pattern.size();
}

bool is_file_pattern(std::string_view word) {
    const std::size_t split = word.find_last_of("/\\:");
    const std::string_view folder = split == std::string_view::npos ? std::string_view() : word.substr(0, split);
    const std::string_view file = split == std::string_view::npos ? word : word.substr(split + 1);
    return file.find_first_of("*?") != std::string_view::npos && folder.find_first_of("*?") == std::string_view::npos;
}

}  // namespace qivpak
