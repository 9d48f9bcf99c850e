// decompressor_core_test.cpp - the unpacker in memory: into a pipe and into a regular file, a failed write,
// a stop and a damaged frame leave exactly whole frames before them (damaged containers are in tests/format)
#include "compress/compressor.hpp"
#include "decompress/decompressor.hpp"
#include "support/container.hpp"
#include "support/memory_io.hpp"

#include <gtest/gtest.h>

namespace {

using namespace qivpak;
using qivtest::Bytes;

TEST(Decompressor, FailuresStopsAndDamageLeaveTheWholeFramesBeforeThem) {
    const Bytes image = qivtest::make_image("tn", 40 * 8192 + 300, 4);  // 41 frames, the last of 300 bytes
    qivtest::MemorySource plain(image);
    qivtest::MemorySink packed;
    qivtest::LogReporter quiet;
    NcPlan plan;
    plan.count = 1;
    plan.areas[0] = {30, 4};  // frames 30..33 raw
    compress_file(plain, static_cast<std::uint32_t>(image.size()), packed, plan, {9, 1}, quiet);
    Bytes damaged = packed.bytes;
    damaged[qivtest::get_le32(damaged, 32 + 4 * 20) + 30] ^= 0x40;  // inside frame 20's stream
    const struct {
        const char* name;
        const Bytes& container;
        std::uint64_t fail_at;      // the restored image cannot grow past this
        std::uint32_t stop_before;  // the reporter asks to stop before this frame
        std::string ending;         // the tool's message, or "cancelled"
        std::size_t whole;          // frames it then holds (at most, for a failed write)
    } rows[] = {
        {"sound", packed.bytes, UINT64_MAX, UINT32_MAX, "done", 41},
        {"image cannot be written past frame 25", packed.bytes, 25 * 8192 + 100, UINT32_MAX,
         "I/O error writing to output file.", 25},
        {"asked to stop before frame 1", packed.bytes, UINT64_MAX, 1, "cancelled", 1},
        {"asked to stop before frame 37", packed.bytes, UINT64_MAX, 37, "cancelled", 37},
        {"frame 20 damaged", damaged, UINT64_MAX, UINT32_MAX, "Error while decompressing (corrupt input?)", 20},
        {"asked to stop before the damaged frame", damaged, UINT64_MAX, 20, "cancelled", 20},
    };
    for (const auto& row : rows) {
        for (const bool random : {false, true}) {
            for (const unsigned threads : {1u, 4u}) {
                SCOPED_TRACE(std::string(row.name) + (random ? ", in place" : ", in order") + ", threads " +
                             std::to_string(threads));
                qivtest::MemorySource container(row.container);
                qivtest::MemorySink out;
                out.fail_at = row.fail_at;
                out.random = random;
                qivtest::LogReporter log;
                log.stop_before = row.stop_before;
                EXPECT_EQ(qivtest::ending([&] { decompress_file(container, out, threads, log); }), row.ending);
                const std::size_t frames = std::min(row.whole * 8192, image.size());
                const bool write_failed = row.fail_at != UINT64_MAX;
                // A failed write leaves whole frames, as many as reached the image at most.
                EXPECT_EQ(write_failed ? out.bytes.size() % 8192 : out.bytes.size(), write_failed ? 0 : frames);
                EXPECT_LE(out.bytes.size(), frames);
                EXPECT_TRUE(std::equal(out.bytes.begin(), out.bytes.end(), image.begin()));
                EXPECT_EQ(std::count_if(log.log.begin(), log.log.end(),
                                        [](const std::string& e) { return e.starts_with("frame ") || e.starts_with("raw "); }),
                          static_cast<std::ptrdiff_t>(write_failed ? out.bytes.size() / 8192 : row.whole));
            }
        }
    }
}

}  // namespace
