// decompressor_core_test.cpp - the unpacker in memory: a failed write and a stop end it after whole frames
// (damaged containers are in tests/format)
#include "compress/compressor.hpp"
#include "decompress/decompressor.hpp"
#include "support/memory_io.hpp"
#include "support/support.hpp"

#include <gtest/gtest.h>

namespace {

using namespace qivpak;

TEST(Decompressor, WriteFailureAndStopEndTheRunAfterTheWholeFramesBefore) {
    qivtest::MemorySource image(qivtest::make_image("t", 20000, 4));
    qivtest::MemorySink packed;
    qivtest::LogReporter quiet;
    NcPlan plan;
    compress_file(image, 20000, packed, plan, {9, 1}, quiet);
    const struct {
        const char* name;
        std::uint64_t fail_at;      // the restored image cannot grow past this
        std::uint32_t stop_before;  // the reporter asks to stop before this frame
        std::string ending;         // the tool's message, or "cancelled"
    } rows[] = {
        {"image cannot be written", 10000, UINT32_MAX, "I/O error writing to output file."},
        {"asked to stop before frame 1", UINT64_MAX, 1, "cancelled"},
    };
    for (const auto& row : rows) {
        qivtest::MemorySource container(packed.bytes);
        qivtest::MemorySink out;
        out.fail_at = row.fail_at;
        qivtest::LogReporter log;
        log.stop_before = row.stop_before;
        EXPECT_EQ(qivtest::ending([&] { decompress_file(container, out, 2, log); }), row.ending) << row.name;
        EXPECT_TRUE(out.bytes == qivtest::Bytes(image.bytes.begin(), image.bytes.begin() + 8192)) << row.name;
    }
}

}  // namespace
