// compressor_core_test.cpp - the compressor in memory: its events, its bytes, and every way it fails
#include "compress/compressor.hpp"
#include "support/memory_io.hpp"

#include <gtest/gtest.h>
#include <zlib.h>

#include <numeric>

namespace {

using namespace qivpak;
using qivtest::Bytes;

// compress2's stream length for `plain` at the default level (the reference zlib).
std::uint32_t zlib_length(const Bytes& plain) {
    Bytes out(compressBound(static_cast<uLong>(plain.size())));
    uLongf len = static_cast<uLongf>(out.size());
    EXPECT_EQ(compress2(out.data(), &len, plain.data(), static_cast<uLong>(plain.size()), -1), Z_OK);
    return static_cast<std::uint32_t>(len);
}

Bytes counting(std::size_t n) {
    Bytes b(n);
    std::iota(b.begin(), b.end(), std::uint8_t{0});
    return b;
}

TEST(Compressor, ReportsEveryFrameAndStoresNcFramesRaw) {
    const Bytes image = counting(20000);
    qivtest::MemorySource source(image);
    qivtest::MemorySink sink;
    qivtest::LogReporter log;
    NcPlan plan;
    plan.areas[0] = {1, 1};
    plan.count = 1;
    compress_file(source, 20000, sink, plan, {-1, 3}, log);

    const std::uint32_t len0 = zlib_length(Bytes(image.begin(), image.begin() + 8192));
    const std::uint32_t len2 = zlib_length(Bytes(image.begin() + 16384, image.end()));
    EXPECT_EQ(log.log, (std::vector<std::string>{"sized 3", "start packing 3", "frame 0 " + std::to_string(len0),
                                                 "raw 1", "frame 2 " + std::to_string(len2), "end packing"}));
    // Header: magic, size 20000, version 1, one area; the area table after the index.
    const Bytes head(sink.bytes.begin(), sink.bytes.begin() + 16);
    EXPECT_EQ(head, (Bytes{'Q', 'I', 'V', 0, 0x20, 0x4E, 0, 0, 1, 0, 0, 0, 1, 0, 0, 0}));
    const std::size_t data = 32 + 18 + 1536;
    EXPECT_EQ(sink.bytes[50], 1);  // area 0 starts at frame 1 ...
    EXPECT_EQ(sink.bytes[54], 1);  // ... and holds one frame
    EXPECT_EQ(sink.bytes.size(), data + len0 + 8192 + len2);
    EXPECT_TRUE(std::equal(image.begin() + 8192, image.begin() + 16384, sink.bytes.begin() + data + len0));
}

TEST(Compressor, FailuresNameTheirCauseAndStopWhereTheyHappen) {
    struct Row {
        const char* name;
        std::uint64_t fail_at;
        bool seek_fails;
        std::uint64_t short_from;
        std::uint32_t stop_before;  // the reporter asks to stop before this frame: Cancelled
        Fault fault;
        const char* last_event;
    };
    const Row rows[] = {
        {"header cannot be written", 10, false, UINT64_MAX, UINT32_MAX, Fault::write_container, "sized 3"},
        {"frame cannot be written", 60, false, UINT64_MAX, UINT32_MAX, Fault::write_container, "start packing 3"},
        {"seek back to the index fails", UINT64_MAX, true, UINT64_MAX, UINT32_MAX, Fault::write_container,
         "end packing"},
        {"image shrinks under the packer", UINT64_MAX, false, 9000, UINT32_MAX, Fault::read_image, "frame 0"},
        {"asked to stop before frame 2", UINT64_MAX, false, UINT64_MAX, 2, Fault::read_image, "frame 1"},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.name);
        qivtest::MemorySource source(counting(20000));
        source.short_from = row.short_from;
        qivtest::MemorySink sink;
        sink.fail_at = row.fail_at;
        sink.seek_fails = row.seek_fails;
        qivtest::LogReporter log;
        log.stop_before = row.stop_before;
        NcPlan plan;
        try {
            compress_file(source, 20000, sink, plan, {-1, 2}, log);
            ADD_FAILURE() << "no failure";
        } catch (const Cancelled&) {
            EXPECT_NE(row.stop_before, UINT32_MAX) << "cancelled without being asked";
        } catch (const RunError& error) {
            EXPECT_EQ(error.fault, row.fault);
        }
        ASSERT_FALSE(log.log.empty());
        EXPECT_EQ(log.log.back().rfind(row.last_event, 0), 0u) << log.log.back();
    }
}

}  // namespace
