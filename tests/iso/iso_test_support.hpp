// iso_test_support.hpp - test helpers: hand-laid ISO 9660 images in memory, files, shell commands
#pragma once

#include "io/file.hpp"
#include "iso/iso_search.hpp"
#include "support/temp_dir.hpp"
#include "support/test_data.hpp"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <sstream>
#include <map>
#include <fstream>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

namespace qivpak::test {

using qivtest::TempDir;
using qivtest::write_file;

// One directory record as a test lays it out.
struct RecordSpec {
    std::string name;                // File Identifier as stored
    std::uint32_t extent = 0;        // Location of Extent
    std::uint32_t data_length = 0;   // Data Length
    bool directory = false;          // File Flags bit 1
    std::uint8_t length = 0;         // Length of Directory Record; 0: 33 + name, rounded up to even
};

// An image laid out byte by byte, readable as a ByteSource. Every read is logged.
class HandImage : public ByteSource {
public:
    explicit HandImage(std::size_t size) : bytes(size, 0) {}

    std::vector<std::uint8_t> bytes;
    std::vector<std::uint64_t> reads;  // offset of every read_at, in order

    std::size_t read_at(std::uint64_t offset, void* buf, std::size_t len) override {
        reads.push_back(offset);
        if (offset >= bytes.size()) return 0;
        std::size_t n = std::min<std::uint64_t>(len, bytes.size() - offset);
        std::memcpy(buf, bytes.data() + offset, n);
        return n;
    }
    std::uint64_t size() const override { return bytes.size(); }

    void put_bytes(std::uint64_t offset, std::string_view data) {
        ASSERT_LE(offset + data.size(), bytes.size());
        std::memcpy(bytes.data() + offset, data.data(), data.size());
    }

    // Bytes the record takes: its length byte when given, else 33 + name rounded up to even.
    static std::size_t record_length(const RecordSpec& r) {
        return r.length != 0 ? r.length : 33 + r.name.size() + (r.name.size() % 2 == 0 ? 1 : 0);
    }

    // Lays one record at byte `offset`; returns the offset after it. A length
    // byte shorter than the record's fields still gets all the fields written.
    std::uint64_t put_record(std::uint64_t offset, const RecordSpec& r) {
        std::size_t len = record_length(r);
        std::vector<std::uint8_t> rec(std::max<std::size_t>(len, 33 + r.name.size()), 0);
        rec[0] = static_cast<std::uint8_t>(len);
        store_le32(&rec[2], r.extent);
        store_be32(&rec[6], r.extent);
        store_le32(&rec[10], r.data_length);
        store_be32(&rec[14], r.data_length);
        rec[25] = r.directory ? 2 : 0;
        store_le16(&rec[28], 1);
        rec[32] = static_cast<std::uint8_t>(r.name.size());
        std::memcpy(&rec[33], r.name.data(), r.name.size());
        put_bytes(offset, std::string_view(reinterpret_cast<const char*>(rec.data()), rec.size()));
        return offset + len;
    }

    // The Primary Volume Descriptor's root record, naming the directory at block `extent`.
    void set_root(std::uint32_t extent) {
        put_record(ISO_ROOT_RECORD_OFFSET, {std::string(1, '\0'), extent, SECTOR_SIZE, true});
    }

    // A directory at block `extent`: self and parent records, then `records`,
    // each moved to the next sector when it would not fit in this one. Returns
    // the offset after the last record.
    std::uint64_t put_dir(std::uint32_t extent, std::uint32_t parent, const std::vector<RecordSpec>& records) {
        std::uint64_t at = std::uint64_t{extent} * SECTOR_SIZE;
        at = put_record(at, {std::string(1, '\0'), extent, SECTOR_SIZE, true});
        at = put_record(at, {std::string(1, '\1'), parent, SECTOR_SIZE, true});
        for (const RecordSpec& r : records) {
            if (at % SECTOR_SIZE + record_length(r) > SECTOR_SIZE) at += SECTOR_SIZE - at % SECTOR_SIZE;
            at = put_record(at, r);
        }
        return at;
    }

private:
    static void store_be32(std::uint8_t* p, std::uint32_t v) {
        for (int i = 0; i < 4; ++i) p[i] = static_cast<std::uint8_t>(v >> (24 - 8 * i));
    }
};

// The names of the first `count` results, in order.
inline std::vector<std::string> names_of(std::span<const IsoDirRecord> results, int count) {
    std::vector<std::string> names;
    for (int i = 0; i < count; ++i) names.emplace_back(results[static_cast<std::size_t>(i)].name());
    return names;
}

// Writes `data` to `path`, making the folders above it.
inline void write_file(const std::filesystem::path& path, std::string_view data) {
    std::filesystem::create_directories(path.parent_path());
    std::ofstream out(path, std::ios::binary);
    out.write(data.data(), static_cast<std::streamsize>(data.size()));
    ASSERT_TRUE(out.good()) << path;
}

// Runs a shell command; returns its standard output, or nullopt when it did not exit with 0.
inline std::optional<std::string> run_command(const std::string& command) {
    std::FILE* pipe = ::popen(command.c_str(), "r");
    if (pipe == nullptr) return std::nullopt;
    std::string out;
    char buf[4096];
    for (std::size_t n; (n = std::fread(buf, 1, sizeof buf, pipe)) > 0;) out.append(buf, n);
    int status = ::pclose(pipe);
    if (status != 0) return std::nullopt;
    return out;
}

// What xorriso tells of an image: every path, and each file's block and size.
struct Listing {
    std::vector<std::string> names;  // last path component of every file and directory but the root
    struct Data {
        std::uint32_t lba, size;
    };
    std::map<std::string, Data> files;  // by name
};

inline std::string base_name(const std::string& path) { return path.substr(path.rfind('/') + 1); }

inline Listing list_image(const std::string& image) {
    auto out = run_command("xorriso -ecma119_map unmapped -indev '" + image +
                           "' -find / -- -find / -exec report_lba -- 2>/dev/null");
    EXPECT_TRUE(out.has_value());
    Listing listing;
    std::istringstream lines(out.value_or(""));
    for (std::string line; std::getline(lines, line);) {
        auto quote = line.find('\'');
        if (quote == std::string::npos || line.back() != '\'') continue;
        std::string path = line.substr(quote + 1, line.size() - quote - 2);
        if (line.rfind("File data lba:", 0) == 0) {
            unsigned xt = 0, lba = 0, blocks = 0, size = 0;
            EXPECT_EQ(std::sscanf(line.c_str(), "File data lba: %u , %u , %u , %u", &xt, &lba, &blocks, &size), 4)
                << line;
            listing.files[base_name(path)] = {lba, size};
        } else if (quote == 0 && path != "/") {
            listing.names.push_back(base_name(path));
        }
    }
    return listing;
}

}  // namespace qivpak::test
