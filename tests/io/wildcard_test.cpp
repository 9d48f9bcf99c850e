// wildcard_test.cpp - file-name patterns, matched as Windows matches them, and which words are patterns
#include "io/wildcard.hpp"

#include <gtest/gtest.h>

namespace {

TEST(Wildcard, MatchesStarsAndQuestionMarksWithoutRegardToCase) {
    const struct {
        const char* pattern;
        const char* name;
        bool matches;
    } cases[] = {
        {"*.qiv", "game.qiv", true},   {"*.qiv", "GAME.QIV", true},      {"*.qiv", "game.qiv.part", false},
        {"*.qiv", ".qiv", true},       {"*", "", true},                  {"", "a", false},
        {"g?me.iso", "game.iso", true}, {"g?me.iso", "gme.iso", false},  {"g?me.iso", "g\xc3\xa4me.iso", true},
        {"*a*b", "xaxxab", true},      {"*a*b", "xaxxabc", false},       {"a*b*c", "abbbc", true},
        {"**.bin", "x.bin", true},     {"?", "\xe2\x82\xac", true},      {"?", "ab", false},
        {"\xc3\xa4*", "\xc3\x84x", false},  // only A to Z are folded
    };
    for (const auto& c : cases) EXPECT_EQ(qivpak::wildcard_matches(c.pattern, c.name), c.matches) << c.pattern << " " << c.name;
}

TEST(Wildcard, OnlyAFileNamePartWithAWildcardIsAPattern) {
    const std::pair<const char*, bool> words[] = {
        {"*.qiv", true},   {"discs\\*.qiv", true}, {"c:*.iso", true}, {"d/sub/g?.bin", true},
        {"game.qiv", false}, {"d*/x.qiv", false}, {"dir*\\", false}, {"", false},
    };
    for (const auto& [word, pattern] : words) EXPECT_EQ(qivpak::is_file_pattern(word), pattern) << word;
}

}  // namespace
