// decompressor_core_test.cpp - the unpacker in memory: its events and every way it fails
#include "compress/compressor.hpp"
#include "decompress/decompressor.hpp"
#include "support/memory_io.hpp"

#include <gtest/gtest.h>

namespace {

using namespace qivpak;
using qivtest::Bytes;

// A container of three frames: a compressed one, a raw one in an NC area, a short compressed tail.
Bytes sample_container(const Bytes& image) {
    qivtest::MemorySource source(image);
    qivtest::MemorySink sink;
    qivtest::LogReporter quiet;
    NcPlan plan;
    plan.areas[0] = {1, 1};
    plan.count = 1;
    compress_file(source, static_cast<std::uint32_t>(image.size()), sink, plan, {9, 1}, quiet);
    return sink.bytes;
}

Bytes sample_image() {
    Bytes image(20000);
    for (std::size_t i = 0; i < image.size(); ++i) image[i] = static_cast<std::uint8_t>("abcabd"[i % 6] + i / 4096);
    return image;
}

TEST(Decompressor, FailuresNameTheirCause) {
    const Bytes good = sample_container(sample_image());
    struct Row {
        const char* name;
        std::size_t cut_at;     // container length kept
        std::uint64_t fail_at;  // the restored image cannot grow past this
        std::uint32_t stop_before;
        Fault fault;
        ContainerFault container;
        std::size_t restored;   // bytes of image written before the failure
    };
    const Row rows[] = {
        {"tables cut short", 40, UINT64_MAX, UINT32_MAX, Fault::damaged_container, ContainerFault::corrupted_index, 0},
        {"last frame cut short", good.size() - 1, UINT64_MAX, UINT32_MAX, Fault::damaged_container,
         ContainerFault::frame_cut, 16384},
        {"image cannot be written", good.size(), 10000, UINT32_MAX, Fault::write_image, ContainerFault::not_qiv,
         8192},
        {"asked to stop before frame 1", good.size(), UINT64_MAX, 1, Fault::write_image, ContainerFault::not_qiv,
         8192},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.name);
        qivtest::MemorySource container(Bytes(good.begin(), good.begin() + static_cast<std::ptrdiff_t>(row.cut_at)));
        qivtest::MemorySink out;
        out.fail_at = row.fail_at;
        qivtest::LogReporter log;
        log.stop_before = row.stop_before;
        try {
            decompress_file(container, out, 2, log);
            ADD_FAILURE() << "no failure";
        } catch (const Cancelled&) {
            EXPECT_NE(row.stop_before, UINT32_MAX) << "cancelled without being asked";
        } catch (const RunError& error) {
            EXPECT_EQ(error.fault, row.fault);
            if (row.fault == Fault::damaged_container) {
                EXPECT_EQ(error.container, row.container);
            }
        }
        EXPECT_EQ(out.bytes.size(), row.restored);
    }
}

}  // namespace
