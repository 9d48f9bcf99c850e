// run_report_test.cpp - console lines of events no command line of the table can bring about
#include "cli/run_report.hpp"

#include <gtest/gtest.h>

#include <cstdio>

namespace {

TEST(RunReport, AnImageThatGrewIsWarnedOfWithItsSizes) {
    std::FILE* out = std::tmpfile();
    ASSERT_NE(out, nullptr);
    qivpak::Console console(out, false);
    qivpak::InfoFile info(console, std::nullopt);
    const std::string input = "disc.iso", output = "disc.qiv";
    qivpak::ConsoleReporter reporter(console, info, input, output);
    reporter.image_grew(24576, 24580);
    std::rewind(out);
    char text[200] = {};
    EXPECT_EQ(std::string(text, std::fread(text, 1, sizeof text - 1, out)),
              "Warning: input file disc.iso grew from 24576 to 24580 bytes while it was packed; the bytes added are "
              "not packed\n");
    std::fclose(out);
}

}  // namespace
