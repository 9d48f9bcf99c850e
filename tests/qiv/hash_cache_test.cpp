// hash_cache_test.cpp - the CRC-32 on known values; qiv verify's hash cache: kept, matched, refused, damaged, shared
#include "qiv/digest.hpp"
#include "support/container.hpp"

#include <gtest/gtest.h>

#include <algorithm>
#include <functional>
#include <thread>

namespace {

using namespace qivtest;

const std::string kSpoiled = ": Input is not a valid QIV file.\n";

TEST(QivCrc32, KnownValuesWholeAndInPieces) {
    const std::pair<std::string, std::uint32_t> rows[] = {
        {"", 0}, {"a", 0xe8b7be43}, {"123456789", 0xcbf43926},
        {"The quick brown fox jumps over the lazy dog", 0x414fa339}, {std::string(100000, '\0'), 0xd411957d},
    };
    for (const auto& [text, crc] : rows) {
        EXPECT_EQ(qiv::crc32_update(0, text.data(), text.size()), crc) << text.size() << " bytes";
        const std::size_t half = text.size() / 3;
        EXPECT_EQ(qiv::crc32_update(qiv::crc32_update(0, text.data(), half), text.data() + half, text.size() - half), crc);
    }
}

// Cuts the file's time to a whole second, which every way of setting it keeps (some keep no more).
void round_time(const fs::path& path) {
    fs::last_write_time(path, std::chrono::floor<std::chrono::seconds>(fs::last_write_time(path)));
}

// Overwrites every byte of `path` in place (the same file, the same size) and puts its time back: only
// a program that reads the file can tell.
void spoil_in_place(const fs::path& path) {
    const auto time = fs::last_write_time(path);
    std::fstream(path, std::ios::in | std::ios::out | std::ios::binary) << std::string(fs::file_size(path), 'x');
    fs::last_write_time(path, time);
}

struct Cached {
    TempDir dir;
    Cached() {
        write_file(dir / "zeros", Bytes(20000, 0));
        write_file(dir / "text", std::string("qiv verify\n"));
        for (const char* name : {"zeros", "text"}) {
            EXPECT_EQ(run_tool(dir, {name, std::string(name) + ".qiv"}).status, 0);
            round_time(dir / (std::string(name) + ".qiv"));
        }
    }
    std::string cache_file() const { return (dir / "cache" / "qiv" / "hashes").string(); }
    ProcessResult verify(std::vector<std::string> args, const std::string& cache_folder = "") const {
        args.insert(args.begin(), {QIV_BINARY, "verify"});
        return run_process(args, {dir.path.string(), {cache_home(cache_folder.empty() ? (dir / "cache").string() : cache_folder)}, 60, {}});
    }
};

// A container is read once: later runs take its hashes from the cache (a container spoiled in place
// with its time put back still verifies) until its time or its identity changes; --no-cache reads it.
TEST(QivHashCache, ContainersAreReadOnceUntilTheyChange) {
    const Cached c;
    const fs::path zeros = c.dir / "zeros.qiv", text = c.dir / "text.qiv";
    struct Step {
        const char* what;
        std::function<void()> change;
        std::vector<std::string> args;
        std::string out, err;
    } steps[] = {
        {"first run", [] {}, {"zeros.qiv", "text.qiv"}, kZerosLine + kTextLine, ""},
        {"spoiled in place", [&] { spoil_in_place(zeros), spoil_in_place(text); }, {"zeros.qiv", "text.qiv"},
         kZerosLine + kTextLine, ""},
        {"--no-cache reads", [] {}, {"--no-cache", "zeros.qiv"}, "", "qiv: zeros.qiv" + kSpoiled},
        {"touched", [&] { fs::last_write_time(zeros, fs::last_write_time(zeros) + std::chrono::seconds(1)); },
         {"zeros.qiv", "text.qiv"}, kTextLine, "qiv: zeros.qiv" + kSpoiled},
        {"replaced by a file of the same size and time",
         [&] {
             fs::copy_file(text, c.dir / "new.qiv");
             fs::last_write_time(c.dir / "new.qiv", fs::last_write_time(text));
             fs::rename(c.dir / "new.qiv", text);
         },
         {"text.qiv"}, "", "qiv: text.qiv" + kSpoiled},
    };
    for (const Step& step : steps) {
        step.change();
        const ProcessResult r = c.verify(step.args);
        EXPECT_EQ(r.out, step.out) << step.what;
        EXPECT_EQ(r.err, step.err) << step.what;
        EXPECT_EQ(r.status, step.err.empty() ? 0 : 1) << step.what;
    }
    // --no-cache kept nothing either: a container verified with it alone is read the next time.
    ASSERT_EQ(run_tool(c.dir, {"zeros", "again.qiv"}).status, 0);
    round_time(c.dir / "again.qiv");
    EXPECT_EQ(c.verify({"--no-cache", "again.qiv"}).status, 0);
    spoil_in_place(c.dir / "again.qiv");
    EXPECT_EQ(c.verify({"again.qiv"}).err, "qiv: again.qiv" + kSpoiled);
}

// A damaged cache file is said once, ignored, and rebuilt with correct entries.
TEST(QivHashCache, ADamagedCacheIsSaidOnceAndRebuilt) {
    const std::pair<const char*, std::function<std::string(const std::string&)>> damages[] = {
        {"cut short", [](const std::string& good) { return good.substr(0, good.size() / 2); }},
        {"garbage", [](const std::string&) { return std::string("\x01\xff garbage\n", 11); }},
        {"an entry changed", [](std::string good) { return good.replace(good.find(" 972f5302 "), 10, " 972f5303 "); }},
        {"another version", [](std::string good) { return good.replace(0, 16, "qiv hash cache 2"); }},
    };
    for (const auto& [what, damage] : damages) {
        const Cached c;
        ASSERT_EQ(c.verify({"zeros.qiv"}).status, 0);
        write_file(c.cache_file(), damage(read_text(c.cache_file())));
        ProcessResult r = c.verify({"zeros.qiv"});
        EXPECT_EQ(r.out, kZerosLine) << what;
        EXPECT_EQ(r.err, "qiv: " + c.cache_file() + ": the hash cache is damaged; it is rebuilt\n") << what;
        spoil_in_place(c.dir / "zeros.qiv");
        r = c.verify({"zeros.qiv"});
        EXPECT_EQ(r.out + r.err, kZerosLine) << what;
    }
}

// A cache that cannot be written (its folder is a file) is one warning; the results are given.
TEST(QivHashCache, ACacheThatCannotBeWrittenIsOneWarning) {
    const Cached c;
    write_file(c.dir / "file", std::string("a file\n"));
    const ProcessResult r = c.verify({"zeros.qiv", "text.qiv"}, (c.dir / "file").string());
    EXPECT_EQ(r.out, kZerosLine + kTextLine);
    const std::string start = "qiv: " + (c.dir / "file" / "qiv" / "hashes").string() + ": the hash cache cannot be written: ";
    EXPECT_EQ(r.err.substr(0, start.size()), start);
    EXPECT_EQ(std::count(r.err.begin(), r.err.end(), '\n'), 1) << r.err;
    EXPECT_EQ(r.status, 0);
}

// Two runs at once on different containers both keep theirs: a third run reads none of them.
TEST(QivHashCache, TwoRunsAtOnceLoseNothing) {
    const Cached c;
    std::vector<std::string> sets[2];
    for (int i = 0; i < 8; ++i) {
        sets[i % 2].push_back("zeros-" + std::to_string(i) + ".qiv");
        fs::copy_file(c.dir / "zeros.qiv", c.dir / sets[i % 2].back());
        round_time(c.dir / sets[i % 2].back());
    }
    ProcessResult runs[2];
    {
        std::thread first([&] { runs[0] = c.verify(sets[0]); });
        runs[1] = c.verify(sets[1]);
        first.join();
    }
    EXPECT_EQ(runs[0].status + runs[1].status, 0) << runs[0].err << runs[1].err;
    std::vector<std::string> all = sets[0];
    all.insert(all.end(), sets[1].begin(), sets[1].end());
    for (const std::string& file : all) spoil_in_place(c.dir / file);
    std::string lines;
    for (const std::string& file : all) lines += file + kZerosLine.substr(9);  // after "zeros.qiv"
    const ProcessResult third = c.verify(all);
    EXPECT_EQ(third.out + third.err, lines);
}

}  // namespace
