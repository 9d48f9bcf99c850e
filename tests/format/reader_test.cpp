// reader_test.cpp - random-access reads through the public reader, and its refusals
#include "cli/qivpak_main.hpp"
#include "support/temp_dir.hpp"
#include "support/test_data.hpp"

#include <qivpak/reader.hpp>

#include <gtest/gtest.h>

#include <functional>
#include <random>
#include <thread>

namespace {

using qivtest::Bytes;
using qivtest::TempDir;

// Packs `image` in-process with the given options; returns the container's path.
std::string pack(const TempDir& dir, const Bytes& image, std::vector<std::string> options, const std::string& name) {
    qivtest::write_file(dir / (name + ".img"), image);
    std::string console_text;
    qivpak::Console console(console_text, false);
    options.push_back(dir.file(name + ".img"));
    options.push_back(dir.file(name + ".qiv"));
    EXPECT_EQ(qivpak::run_qivpak(options, console, nullptr), 0) << console_text;
    return dir.file(name + ".qiv");
}

// Text, then noise that the analysis stores raw, then text, ending in a short frame.
Bytes mixed_image() {
    Bytes image = qivtest::text_bytes(5 * 8192, 1);
    const Bytes noise = qivtest::random_bytes(4 * 8192, 2);
    image.insert(image.end(), noise.begin(), noise.end());
    const Bytes tail = qivtest::text_bytes(3 * 8192 + 1234, 3);
    image.insert(image.end(), tail.begin(), tail.end());
    return image;
}

void expect_reads_match(const qivpak::QivReader& reader, const Bytes& image, std::uint32_t seed, int count) {
    std::mt19937 gen(seed);
    const std::uint64_t size = image.size();
    Bytes buf;
    for (int k = 0; k < count; ++k) {
        const std::uint64_t offset = gen() % (size + 100);
        const std::size_t length = gen() % 3 == 0 ? gen() % 30000 : gen() % 20;
        buf.assign(length, 0xEE);
        const std::size_t got = reader.read(offset, buf.data(), length);
        const std::size_t expected = offset >= size ? 0 : std::min<std::uint64_t>(length, size - offset);
        ASSERT_EQ(got, expected) << offset << "+" << length;
        ASSERT_TRUE(std::equal(buf.begin(), buf.begin() + static_cast<std::ptrdiff_t>(got),
                               image.begin() + static_cast<std::ptrdiff_t>(std::min(offset, size))))
            << offset << "+" << length;
    }
}

TEST(Reader, RandomRangesMatchTheImage) {
    TempDir dir;
    struct Row {
        const char* what;
        Bytes image;
        std::vector<std::string> options;
        std::size_t nc_areas;
    };
    const Row rows[] = {
        {"compressed frames, short last frame", mixed_image(), {}, 0},
        {"raw frames in an NC area", mixed_image(), {"-a"}, 1},
        {"one short frame", qivtest::text_bytes(100, 4), {"-l9"}, 0},
        {"whole frames only", qivtest::random_bytes(3 * 8192, 5), {"-l1"}, 0},
        {"empty image", {}, {}, 0},
    };
    int n = 0;
    for (const Row& row : rows) {
        SCOPED_TRACE(row.what);
        const qivpak::QivReader reader(pack(dir, row.image, row.options, "c" + std::to_string(n++)));
        EXPECT_EQ(reader.size(), row.image.size());
        EXPECT_EQ(reader.frame_count(), (row.image.size() + 8191) / 8192);
        EXPECT_EQ(reader.nc_areas().size(), row.nc_areas);
        expect_reads_match(reader, row.image, 42, 400);
        // The whole image in one read, and reads at and past the end.
        Bytes all(row.image.size() + 10);
        EXPECT_EQ(reader.read(0, all.data(), all.size()), row.image.size());
        EXPECT_TRUE(std::equal(row.image.begin(), row.image.end(), all.begin()));
        EXPECT_EQ(reader.read(row.image.size(), all.data(), 1), 0u);
        EXPECT_EQ(reader.read(row.image.size() + 5000, all.data(), 1), 0u);
    }
}

TEST(Reader, ConcurrentReadsGiveTheSameBytes) {
    TempDir dir;
    const Bytes image = mixed_image();
    const qivpak::QivReader reader(pack(dir, image, {"-a"}, "c"));
    std::vector<std::thread> threads;
    for (std::uint32_t t = 0; t < 4; ++t)
        threads.emplace_back([&, t] { expect_reads_match(reader, image, 100 + t, 300); });
    for (auto& t : threads) t.join();
}

TEST(Reader, DamagedContainersGiveTypedErrors) {
    TempDir dir;
    const Bytes image = mixed_image();
    const Bytes good = qivtest::read_file(pack(dir, image, {"-a"}, "good"));
    const std::size_t n = 13;
    const std::size_t data_start = 32 + 6 * n + 1536;
    struct Row {
        const char* what;
        std::function<void(Bytes&)> damage;
        bool at_open;  // refused when opened, else when frame 0 is read
        qivpak::ContainerFault fault;
        const char* message;
    };
    const Row rows[] = {
        {"short header", [](Bytes& b) { b.resize(31); }, true, qivpak::ContainerFault::not_qiv,
         "Input is not a valid QIV file."},
        {"version 2", [](Bytes& b) { b[8] = 2; }, true, qivpak::ContainerFault::version_above,
         "The version of the file is greater than supported."},
        {"tables cut", [](Bytes& b) { b.resize(40); }, true, qivpak::ContainerFault::corrupted_index,
         "Corrupted input file."},
        {"193 areas", [](Bytes& b) { b[12] = 193; }, true, qivpak::ContainerFault::corrupted_index,
         "Corrupted input file."},
        {"length 9217", [](Bytes& b) { b[32 + 4 * n] = 0x01; b[32 + 4 * n + 1] = 0x24; }, true,
         qivpak::ContainerFault::corrupted_index, "Corrupted input file."},
        {"stream damaged", [](Bytes& b) { b[data_start + 10] ^= 0xFF; }, false, qivpak::ContainerFault::bad_stream,
         "Error while decompressing (corrupt input?)"},
        {"frame past the end", [](Bytes& b) { b[32] = 0xFF; b[33] = 0xFF; b[34] = 0xFF; }, false,
         qivpak::ContainerFault::frame_cut, "Input seems to be corrupted."},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.what);
        Bytes bad = good;
        row.damage(bad);
        qivtest::write_file(dir / "bad.qiv", bad);
        try {
            const qivpak::QivReader reader(dir.file("bad.qiv"));
            EXPECT_FALSE(row.at_open) << "opened";
            std::uint8_t byte = 0;
            reader.read(0, &byte, 1);
            ADD_FAILURE() << "read succeeded";
        } catch (const qivpak::QivFormatError& e) {
            EXPECT_EQ(e.fault(), row.fault);
            EXPECT_STREQ(e.what(), row.message);
        }
    }
    EXPECT_THROW(qivpak::QivReader(dir.file("absent.qiv")), qivpak::QivFormatError);
}

}  // namespace
