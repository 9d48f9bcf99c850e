// compressor_core_test.cpp - packing in memory: every way the analysis and the compressor fail, and where they stop
#include "compress/compressor.hpp"
#include "compress/nc_analysis.hpp"
#include "support/container.hpp"
#include "support/memory_io.hpp"

#include <gtest/gtest.h>

#include <numeric>

namespace {

using namespace qivpak;

TEST(Compressor, FailuresNameTheirCauseAndStopWhereTheyHappen) {
    enum Fails { none, seek, trial };  // the container's, or reading back the analysis's streams
    struct Row {
        const char* name;
        bool analyze;                // the analysis runs first, on one thread
        std::uint64_t fail_at;       // the container cannot grow past this byte
        Fails fails;                 // nor can it do this
        std::uint64_t short_from;    // the image gives nothing from here on
        std::uint32_t stop_before;   // the reporter asks to stop before this frame
        std::string ending;          // the tool's message, or "cancelled"
        const char* last_event;      // the log's last line begins with this
    };
    const std::string write_error = "I/O write error.";
    const Row rows[] = {
        {"header cannot be written", false, 10, none, UINT64_MAX, UINT32_MAX, write_error, "sized 3"},
        {"frame cannot be written", false, 60, none, UINT64_MAX, UINT32_MAX, write_error, "start packing 3"},
        {"seek back to the index fails", false, UINT64_MAX, seek, UINT64_MAX, UINT32_MAX, write_error, "end packing"},
        {"streams of the analysis lost: packed anew", true, UINT64_MAX, trial, UINT64_MAX, UINT32_MAX, "done", "end"},
        {"image shrinks under the packer", false, UINT64_MAX, none, 9000, UINT32_MAX,
         "Error: cannot read input file in", "frame 0"},
        {"image shrinks under the analysis", true, UINT64_MAX, none, 9000, UINT32_MAX,
         "Error analyzing input file in.", "frame 0"},
        {"asked to stop before frame 2", false, UINT64_MAX, none, UINT64_MAX, 2, "cancelled", "frame 1"},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.name);
        qivtest::Bytes image(20000);
        std::iota(image.begin(), image.end(), std::uint8_t{0});
        qivtest::MemorySource source(image);
        source.short_from = row.short_from;
        qivtest::MemorySink sink;
        sink.fail_at = row.fail_at;
        sink.seek_fails = row.fails == seek;
        qivtest::LogReporter log;
        log.stop_before = row.stop_before;
        NcPlan plan;
        EXPECT_EQ(qivtest::ending([&] {
                      if (row.analyze) analyze_nc_areas(source, 20000, {-1, 8192, 1, "."}, plan, log);
                      if (row.fails == trial) plan.trial.value().file = std::move(File::temporary_in(".").value());
                      compress_file(source, 20000, sink, plan, {-1, 2}, log);
                  }),
                  row.ending);
        ASSERT_FALSE(log.log.empty());
        EXPECT_EQ(log.log.back().rfind(row.last_event, 0), 0u) << log.log.back();
        if (row.ending != "done") continue;
        qivtest::Parsed parsed;  // what was packed is a sound container of the image
        EXPECT_EQ(qivtest::parse_container(sink.bytes, -1, parsed), "");
        EXPECT_TRUE(parsed.image == image);
    }
}

}  // namespace
