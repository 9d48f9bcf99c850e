// fuzz_pack.cpp - any bytes as an image: packing at one and at four threads agrees, and unpacking restores it
//
// Input: one byte of settings (bits 0-3: level 1..9 or the default, bit 4:
// threshold 4000 instead of 8192, bit 5: analysis on), then the image. The
// analysis and the compressor run in memory at one and at four workers; the
// containers and reports must be equal, and the unpacker must restore the image.
#include "compress/compressor.hpp"
#include "compress/nc_analysis.hpp"
#include "decompress/decompressor.hpp"
#include "fuzz_check.hpp"
#include "support/memory_io.hpp"

#include <cstdio>
#include <cstdlib>

namespace {

struct Packed {
    qivtest::Bytes container;
    std::vector<std::string> log;
};

Packed pack(const qivtest::Bytes& image, int level, std::uint32_t threshold, bool analyze, unsigned threads) {
    qivtest::MemorySource source(image);
    qivtest::MemorySink sink;
    qivtest::LogReporter log;
    qivpak::NcPlan plan;
    if (analyze) qivpak::analyze_nc_areas(source, image.size(), {level, threshold, threads, ""}, plan, log);
    qivpak::compress_file(source, static_cast<std::uint32_t>(image.size()), sink, plan, {level, threads}, log);
    return {sink.bytes, log.log};
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    if (size == 0) return 0;
    const int level = data[0] % 16 >= 1 && data[0] % 16 <= 9 ? data[0] % 16 : -1;
    const std::uint32_t threshold = (data[0] & 0x10) != 0 ? 4000 : 8192;
    const bool analyze = (data[0] & 0x20) != 0;
    const qivtest::Bytes image(data + 1, data + size);

    const Packed one = pack(image, level, threshold, analyze, 1);
    const Packed four = pack(image, level, threshold, analyze, 4);
    check(one.container == four.container && one.log == four.log, "one and four threads differ");

    qivtest::MemorySource container(one.container);
    qivtest::MemorySink restored;
    qivtest::LogReporter log;
    qivpak::decompress_file(container, restored, 2, log);
    check(restored.bytes == image, "the unpacked image differs");
    return 0;
}
