// man_page_test.cpp - every option of the usage text has its entry in the man page
#include "support/process.hpp"
#include "support/temp_dir.hpp"

#include <gtest/gtest.h>

#include <regex>
#include <set>
#include <sstream>

namespace {

TEST(ManPage, DescribesEveryOptionOfTheUsageText) {
    const auto usage = qivtest::run_process({QIVPAK_BINARY});
    ASSERT_EQ(usage.status, 255);
    std::set<char> options;
    std::istringstream lines(usage.out);
    for (std::string line; std::getline(lines, line);)
        if (line.size() > 2 && line[0] == '-' && std::isalpha(static_cast<unsigned char>(line[1]))) options.insert(line[1]);
    ASSERT_EQ(options, (std::set<char>{'a', 'd', 'l', 's', 'v', 'w'}));

    const std::string page = qivtest::read_text(std::string(QIVPAK_SOURCE_DIR) + "/docs/qivpak.1");
    for (char option : options) {
        // An option entry: a tagged paragraph whose tag is the option in bold.
        const std::regex entry(std::string("\\.TP\\n\\.BI? \\\\-") + option + "( |\\n)");
        EXPECT_TRUE(std::regex_search(page, entry)) << "no entry for -" << option;
    }
    EXPECT_NE(page.find("QIVPAK_THREADS"), std::string::npos);
    EXPECT_NE(page.find(".SH EXIT STATUS"), std::string::npos);
}

}  // namespace
