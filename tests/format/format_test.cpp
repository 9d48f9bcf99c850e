// format_test.cpp - frame arithmetic, header and NC area table encoding, membership test
#include "format/nc_area_table.hpp"
#include "format/qiv_format.hpp"

#include <gtest/gtest.h>

#include <vector>

namespace qivpak {
namespace {

TEST(FrameCount, RoundsUpOnUnsignedSizes) {
    struct Row {
        std::uint32_t size;
        std::uint32_t frames;
        std::uint32_t last_len;
    };
    const Row rows[] = {
        {0, 0, 0},          {1, 1, 1},          {8191, 1, 8191},      {8192, 1, 8192},
        {8193, 2, 1},       {20000, 3, 3616},   {8192 * 7, 7, 8192},  {8192 * 7 + 1, 8, 1},
        {0xFFFFFFFFu, 524288, 8191},
    };
    for (const Row& row : rows) {
        EXPECT_EQ(frame_count(row.size), row.frames) << row.size;
        if (row.frames > 0) {
            EXPECT_EQ(frame_plain_length(row.size, row.frames - 1), row.last_len) << row.size;
        }
        if (row.frames > 1) {
            EXPECT_EQ(frame_plain_length(row.size, 0), FRAME_SIZE) << row.size;
        }
    }
}

TEST(Header, EncodesFieldsLittleEndianWithZeroReserved) {
    const auto bytes = encode_header({0x01020304u, 1, 192});
    const std::vector<std::uint8_t> expected = {'Q', 'I', 'V', 0, 4, 3, 2, 1, 1, 0, 0, 0, 192, 0, 0, 0,
                                                0,   0,   0,   0, 0, 0, 0, 0, 0, 0, 0, 0, 0,   0, 0, 0};
    EXPECT_EQ(std::vector<std::uint8_t>(bytes.begin(), bytes.end()), expected);
}

TEST(Header, DecodeAcceptsAndRefuses) {
    struct Row {
        const char* what;
        std::size_t size;        // bytes handed to the decoder
        std::size_t poke_at;     // byte to change, or 99
        std::uint8_t poke_value;
        HeaderCheck expected;
    };
    const Row rows[] = {
        {"sound header", 32, 99, 0, HeaderCheck::ok},
        {"reserved bytes ignored", 32, 20, 0xFF, HeaderCheck::ok},
        {"31 bytes", 31, 99, 0, HeaderCheck::not_qiv},
        {"empty", 0, 99, 0, HeaderCheck::not_qiv},
        {"fourth magic byte not zero", 32, 3, 'X', HeaderCheck::not_qiv},
        {"first magic byte", 32, 0, 'q', HeaderCheck::not_qiv},
        {"version 2", 32, 8, 2, HeaderCheck::version_above},
        {"version 2^24", 32, 11, 1, HeaderCheck::version_above},
    };
    for (const Row& row : rows) {
        auto bytes = encode_header({20000, 1, 3});
        if (row.poke_at < bytes.size()) bytes[row.poke_at] = row.poke_value;
        QivHeader header;
        EXPECT_EQ(decode_header(std::span<const std::uint8_t>(bytes.data(), row.size), header), row.expected)
            << row.what;
        if (row.expected == HeaderCheck::ok) {
            EXPECT_EQ(header.total_size, 20000u) << row.what;
            EXPECT_EQ(header.nc_count, 3u) << row.what;
        }
    }
}

TEST(Index, EncodesOffsetsThenLengthsAndDecodesBack) {
    const std::vector<std::uint32_t> offsets = {50, 0x12345678u, 0xFFFFFFFFu};
    const std::vector<std::uint16_t> lengths = {9216, 1, 0xABCD};
    const auto bytes = encode_index(offsets, lengths);
    ASSERT_EQ(bytes.size(), 18u);
    EXPECT_EQ(bytes[4], 0x78);
    EXPECT_EQ(bytes[12], 0x00);
    EXPECT_EQ(bytes[13], 0x24);
    std::vector<std::uint32_t> offsets_back(3);
    std::vector<std::uint16_t> lengths_back(3);
    decode_offsets(std::span(bytes).first(12), offsets_back);
    decode_lengths(std::span(bytes).subspan(12), lengths_back);
    EXPECT_EQ(offsets_back, offsets);
    EXPECT_EQ(lengths_back, lengths);
    EXPECT_EQ(data_start(3, false), 50u);
    EXPECT_EQ(data_start(3, true), 1586u);
}

TEST(InNcArea, MembershipCases) {
    struct Row {
        const char* what;
        std::vector<NcArea> areas;
        std::int32_t count;
        std::uint32_t frame;
        int expected;
    };
    const std::vector<NcArea> ten_three = {{10, 3}};
    const Row rows[] = {
        {"count 0", ten_three, 0, 10, 0},
        {"negative count", ten_three, -1, 10, 0},
        {"first frame", ten_three, 1, 10, 1},
        {"last frame", ten_three, 1, 12, 1},
        {"before", ten_three, 1, 9, 0},
        {"after", ten_three, 1, 13, 0},
        {"empty area", {{5, 0}}, 1, 5, 0},
        {"end past 2^32 matches last index", {{0xFFFFFFFEu, 5}}, 1, 0xFFFFFFFFu, 1},
        {"end past 2^32 matches its start", {{0xFFFFFFFEu, 5}}, 1, 0xFFFFFFFEu, 1},
        {"end past 2^32 never wraps", {{0xFFFFFFFEu, 5}}, 1, 0, 0},
        {"entries past count unseen", {{0, 1}, {7, 1}}, 1, 7, 0},
        {"second entry seen", {{0, 1}, {7, 1}}, 2, 7, 1},
        {"overlap low", {{3, 4}, {5, 4}}, 2, 3, 1},
        {"overlap high", {{3, 4}, {5, 4}}, 2, 8, 1},
        {"overlap beyond", {{3, 4}, {5, 4}}, 2, 9, 0},
    };
    for (const Row& row : rows) {
        NcAreaTable table{};
        std::copy(row.areas.begin(), row.areas.end(), table.begin());
        EXPECT_EQ(in_nc_area(table, row.frame, row.count), row.expected) << row.what;
    }
}

TEST(InNcArea, CountAboveTableSizeLooksAtTheTableOnly) {
    NcAreaTable table{};
    table[191] = {40, 1};
    EXPECT_EQ(in_nc_area(table, 40, 1000), 1);
    EXPECT_EQ(in_nc_area(table, 41, 1000), 0);
}

TEST(NcTable, StoredFormRoundTrips) {
    NcAreaTable table{};
    table[0] = {1, 2};
    table[191] = {0xDEADBEEFu, 7};
    const auto bytes = encode_nc_table(table);
    EXPECT_EQ(bytes[0], 1);
    EXPECT_EQ(bytes[4], 2);
    EXPECT_EQ(bytes[8 * 191], 0xEF);
    EXPECT_EQ(decode_nc_table(bytes), table);
}

}  // namespace
}  // namespace qivpak
