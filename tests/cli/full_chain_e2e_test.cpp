// full_chain_e2e_test.cpp - media scan, analysis and pack on real images, at several thread counts
#include "iso/iso_test_support.hpp"
#include "support/container_reader.hpp"
#include "support/process.hpp"
#include "support/temp_dir.hpp"
#include "support/test_data.hpp"

#include <gtest/gtest.h>

#include <cstdio>
#include <string>
#include <vector>

namespace {

using qivtest::Bytes;
using qivtest::TempDir;

qivtest::ProcessResult run_tool(const std::string& threads, std::vector<std::string> args) {
    args.insert(args.begin(), QIVPAK_BINARY);
    qivtest::ProcessOptions opt;
    opt.env = {{"QIVPAK_THREADS", threads}};
    return qivtest::run_process(args, opt);
}

// Remembers what the first run left and checks that every later run leaves the same.
struct SameAsFirstRun {
    bool have = false;
    std::string out, info;
    Bytes container;

    void check(const std::string& run_out, const std::string& run_info, const Bytes& run_container) {
        if (!have) {
            have = true;
            out = run_out;
            info = run_info;
            container = run_container;
            return;
        }
        EXPECT_EQ(run_out, out);
        EXPECT_EQ(run_info, info);
        EXPECT_TRUE(run_container == container);
    }
};

// A small disc: two movie files, one audio file, text, noise and padding.
class FullChain : public ::testing::Test {
protected:
    void SetUp() override {
        if (!qivpak::test::run_command("xorriso -version >/dev/null 2>&1")) GTEST_SKIP() << "xorriso is not installed";
        const auto tree = dir_.path() / "tree";
        std::filesystem::create_directories(tree / "MOVIE");
        std::filesystem::create_directories(tree / "SOUND");
        auto with_magic = [](const char* magic, Bytes body) {
            body.insert(body.begin(), magic, magic + 4);
            return body;
        };
        qivtest::write_file(tree / "MOVIE" / "A.PMF", with_magic("PSMF", qivtest::random_bytes(30000, 1)));
        qivtest::write_file(tree / "MOVIE" / "B.PMF", with_magic("PSMF", qivtest::random_bytes(17000, 2)));
        qivtest::write_file(tree / "SOUND" / "C.WAV", with_magic("RIFF", qivtest::random_bytes(20000, 3)));
        qivtest::write_file(tree / "TEXT.TXT", qivtest::text_bytes(300000, 4));
        qivtest::write_file(tree / "NOISE.BIN", qivtest::random_bytes(70000, 5));
        qivtest::write_file(tree / "ZERO.BIN", Bytes(50000, 0));
        image_ = dir_.file("disc.iso");
        ASSERT_TRUE(qivpak::test::run_command("xorriso -as mkisofs --norock -quiet -o '" + image_ + "' '" +
                                              tree.string() + "' 2>/dev/null"));
    }

    TempDir dir_;
    std::string image_;
};

TEST_F(FullChain, MediaFilesStoredRawAndOutputSameAtEveryThreadCount) {
    const auto listing = qivpak::test::list_image(image_);
    const Bytes original = qivtest::read_file(image_);

    SameAsFirstRun first;
    for (const char* threads : {"1", "2", "7"}) {
        SCOPED_TRACE(threads);
        const std::string out = dir_.file(std::string("out") + threads), info = dir_.file(std::string("info") + threads);
        const auto before = dir_.files();
        const auto r = run_tool(threads, {"-a", "-s", "-v", image_, out, info});
        ASSERT_EQ(r.status, 0) << r.out;
        // Nothing but the container and the info file is left beside them.
        auto after = dir_.files();
        for (const auto& name : before) after.erase(name);
        EXPECT_EQ(after, (std::set<std::string>{"out" + std::string(threads), "info" + std::string(threads)}));

        first.check(r.out, qivtest::read_text(info), qivtest::read_file(out));
    }
    const std::string& reference_out = first.out;
    const std::string& reference_info = first.info;
    const Bytes& reference_container = first.container;

    // The console: three media lines in walk order (movies, then audio), as
    // xorriso places the files, then the analysis and the pack.
    const auto c = qivtest::parse_container(reference_container);
    ASSERT_TRUE(c.has_value());
    auto media_line = [&](const std::string& name) {
        const auto& f = listing.files.at(name);
        char line[128];
        std::snprintf(line, sizeof line, "Media file found: %s (offset=%08X,size=%dKB)\n", name.c_str(),
                      f.lba * 2048, static_cast<int>(f.size / 1024));
        return std::string(line);
    };
    const std::string head = "QIV Creator 0.3 (by Brenlo)\n\nScanning media files...\n" + media_line("A.PMF;1") +
                             media_line("B.PMF;1") + media_line("C.WAV;1") +
                             "3 media files found and forced to be NC areas.\nAnalyzing file...\n0%100%\n" +
                             "Numbers of NC Areas: " + std::to_string(c->nc_count) + "\nN of frames: " +
                             std::to_string(c->frames()) + "\nCompressing...\n100%\n";
    EXPECT_EQ(reference_out.substr(0, head.size()), head);

    // Media areas first, then the run of noise frames found by trial.
    ASSERT_EQ(c->version, 1u);
    ASSERT_EQ(c->nc_count, 4u);
    const char* media[] = {"A.PMF;1", "B.PMF;1", "C.WAV;1"};
    std::string ncarea_lines;
    for (std::uint32_t i = 0; i < c->nc_count; ++i) {
        if (i < 3) {
            const auto& f = listing.files.at(media[i]);
            EXPECT_EQ(c->areas[i].start, f.lba / 4) << media[i];
            EXPECT_EQ(c->areas[i].count, (f.size + 8191) / 8192) << media[i];
        }
        ncarea_lines += "NCAREA #" + std::to_string(i) + ": framestart=" + std::to_string(c->areas[i].start) +
                        ",size=" + std::to_string(c->areas[i].count) + " frames\n";
    }
    const auto& noise = listing.files.at("NOISE.BIN;1");
    EXPECT_EQ(c->areas[3].start, (noise.lba * 2048 + 8191) / 8192);
    EXPECT_EQ(c->areas[3].start + c->areas[3].count, (noise.lba * 2048 + noise.size) / 8192);
    EXPECT_EQ(reference_info.substr(0, ncarea_lines.size() + 2), ncarea_lines + "\n\n");

    // Raw frames hold the image's bytes; every other frame inflates to them.
    for (std::uint32_t i = 0; i < c->frames(); ++i) {
        const Bytes stored = qivtest::stored_frame(reference_container, *c, i);
        const Bytes plain(original.begin() + i * 8192, original.begin() + i * 8192 + c->plain_length(i));
        if (c->is_raw(i)) {
            EXPECT_EQ(stored, plain) << "frame " << i;
        } else {
            const auto inflated = qivtest::inflate_exact(stored, c->plain_length(i));
            ASSERT_TRUE(inflated.has_value()) << "frame " << i;
            EXPECT_TRUE(*inflated == plain) << "frame " << i;
        }
    }

    // And the unpack, at both ends of the thread range, gives the image back.
    for (const char* threads : {"1", "7"}) {
        const std::string back = dir_.file(std::string("back") + threads);
        const auto r = run_tool(threads, {"-d", dir_.file("out1"), back});
        ASSERT_EQ(r.status, 0) << r.out;
        EXPECT_TRUE(qivtest::read_file(back) == original) << threads;
    }
}

TEST(Threads, SameBytesForEveryOptionLine) {
    TempDir dir;
    // Text, noise and zero frames, with a short last frame.
    Bytes image = qivtest::text_bytes(700 * 8192, 11);
    const Bytes noise = qivtest::random_bytes(40 * 8192, 12);
    image.insert(image.begin() + 100 * 8192, noise.begin(), noise.end());
    image.insert(image.begin() + 300 * 8192, 60 * 8192, 0);
    image.resize(image.size() + 3000, 'x');
    qivtest::write_file(dir / "img", image);

    const std::vector<std::vector<std::string>> lines = {{}, {"-l1"}, {"-l9"}, {"-a"}, {"-a4000", "-l6"}};
    for (const auto& options : lines) {
        SameAsFirstRun first;
        for (const char* threads : {"1", "2", "7"}) {
            std::vector<std::string> args = options;
            args.insert(args.end(), {dir.file("img"), dir.file("out"), dir.file("info")});
            const auto r = run_tool(threads, args);
            SCOPED_TRACE(testing::PrintToString(options) + " threads " + threads);
            ASSERT_EQ(r.status, 0) << r.out;
            first.check(r.out, qivtest::read_text(dir / "info"), qivtest::read_file(dir / "out"));
        }
        const auto r = run_tool("3", {"-d", dir.file("out"), dir.file("back")});
        ASSERT_EQ(r.status, 0);
        EXPECT_TRUE(qivtest::read_file(dir / "back") == image);
        EXPECT_EQ(dir.files(), (std::set<std::string>{"img", "out", "info", "back"}));
        std::filesystem::remove(dir / "back");
    }
}

TEST(Threads, SameFailureAtEveryThreadCount) {
    TempDir dir;
    const Bytes image = qivtest::text_bytes(1500 * 8192, 21);
    qivtest::write_file(dir / "img", image);
    ASSERT_EQ(run_tool("1", {dir.file("img"), dir.file("good")}).status, 0);
    Bytes damaged = qivtest::read_file(dir / "good");
    const auto c = qivtest::parse_container(damaged);
    ASSERT_TRUE(c.has_value());
    damaged[c->offsets[1000] + 5] ^= 0x55;  // frame 1000 no longer inflates to its bytes
    qivtest::write_file(dir / "bad", damaged);

    std::string first_out;
    Bytes first_partial;
    for (const char* threads : {"1", "7"}) {
        const auto r = run_tool(threads, {"-d", dir.file("bad"), dir.file("back")});
        EXPECT_EQ(r.status, 255);
        const Bytes partial = qivtest::read_file(dir / "back");
        if (first_out.empty()) {
            first_out = r.out;
            first_partial = partial;
            EXPECT_TRUE(partial == Bytes(image.begin(), image.begin() + 1000 * 8192));
            EXPECT_NE(r.out.find("Error while decompressing (corrupt input?)\n"), std::string::npos);
        } else {
            EXPECT_EQ(r.out, first_out);
            EXPECT_TRUE(partial == first_partial);
        }
        // A full device fails the same way at every thread count too.
        const auto full = run_tool(threads, {dir.file("img"), "/dev/full"});
        EXPECT_EQ(full.status, 255);
        EXPECT_EQ(full.out.substr(full.out.size() - 17), "I/O write error.\n");
    }
}

}  // namespace
