// mount_test.cpp - the mount's frame cache in-process, and qivmount serving real containers through FUSE
//
// Containers are made by the built qivpak; disc images by xorriso. The FUSE tests skip themselves where
// qivmount is not built, /dev/fuse is not usable, or fusermount3 or xorriso is not installed.
#include "mount/image_cache.hpp"
#include "support/support.hpp"

#include <gtest/gtest.h>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <future>
#include <memory>
#include <thread>

namespace {

using namespace qivtest;
using Range = std::pair<std::uint64_t, std::size_t>;  // offset, length

// Runs a program looked up on the PATH.
ProcessResult run(std::vector<std::string> argv, int timeout_s) {
    argv.insert(argv.begin(), "/usr/bin/env");
    return run_process(argv, {"", {}, timeout_s});
}

// The container `good` with one byte in the middle of frame `frame`'s stored bytes flipped.
Bytes with_damaged_frame(Bytes good, std::uint32_t frame) {
    const auto u32 = [&](std::size_t at) {
        return good[at] | good[at + 1] << 8 | good[at + 2] << 16 | std::uint32_t{good[at + 3]} << 24;
    };
    const std::size_t frames = (u32(4) + kFrame - 1) / kFrame, length_at = 32 + 4 * frames + 2 * frame;
    good[u32(32 + 4 * frame) + (good[length_at] | good[length_at + 1] << 8) / 2] ^= 0x55;
    return good;
}

TEST(ImageCache, ReadsInflateEachFrameOnceAndMatchTheImage) {
    TempDir dir;
    // 21 frames: text, noise (stored raw with -a), text, a short last frame.
    const Bytes image = make_image("ttttttnnnnntttttttttt", 20 * kFrame + 700, 1);
    write_file(dir / "img", image);
    ASSERT_EQ(run_tool(dir, {"-a", "img", "a.qiv"}).status, 0);
    write_file(dir / "bad.qiv", with_damaged_frame(read_file(dir / "a.qiv"), 3));
    const auto cache = [&](const char* file, std::size_t frames, unsigned threads) {
        std::vector<qivpak::QivReader> readers;
        readers.emplace_back((dir / file).string());
        return std::make_unique<qivpak::ImageCache>(std::move(readers), frames * kFrame, threads);
    };
    // Whether a read gives the image's bytes at `offset`, as many as there are up to `length`.
    const auto reads_right = [&](qivpak::ImageCache& c, std::uint64_t offset, std::size_t length) {
        Bytes got(length, 0xEE);
        const std::size_t n = c.read(0, offset, got.data(), length), at = std::min<std::size_t>(offset, image.size());
        return n == std::min(length, image.size() - at) && std::equal(got.begin(), got.begin() + n, image.begin() + at);
    };
    const std::uint64_t F = kFrame, end = image.size();
    std::vector<Range> pages;  // the whole image in 4 KiB reads
    for (std::uint64_t at = 0; at < end; at += 4096) pages.emplace_back(at, 4096);
    const struct {
        const char* what;
        std::size_t frames;  // cache capacity
        unsigned threads;
        std::vector<Range> reads;
        std::uint64_t inflated;  // frames inflated by all the reads
    } rows[] = {
        {"4 KiB reads in order", 16, 1, pages, 21},
        {"4 KiB reads in order, workers inflating ahead", 16, 2, pages, 21},
        {"one read of everything, 3 inflaters", 16, 3, {{0, end + 50}}, 21},
        {"reads across frame edges", 16, 2, {{F - 10, 20}, {F + 5, 3 * F}, {3 * F + 100, 10}}, 5},
        {"least recently used goes", 2, 1, {{0, 1}, {F, 1}, {2 * F, 1}, {0, 1}, {2 * F, 1}, {F, 1}}, 5},
        {"nothing kept", 0, 1, {{0, 1}, {0, 1}, {10, 2 * F}}, 5},
        {"at and past the end", 4, 1, {{end, 10}, {end - 1, 10}, {end + F, 1}}, 1},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.what);
        const auto c = cache("a.qiv", row.frames, row.threads);
        for (const auto& [offset, length] : row.reads) EXPECT_TRUE(reads_right(*c, offset, length)) << offset;
        EXPECT_EQ(c->frames_inflated(), row.inflated);
    }

    // A damaged frame fails every read that touches it, is never kept, and leaves its neighbours
    // readable, from any number of threads at once.
    const auto bad = cache("bad.qiv", 4, 2);
    for (int pass = 0; pass < 2; ++pass) {
        try {
            reads_right(*bad, 2 * F, 3 * F);
            ADD_FAILURE() << "a damaged frame was read";
        } catch (const qivpak::QivFormatError& e) {
            EXPECT_EQ(e.fault(), qivpak::ContainerFault::bad_stream);
        }
    }
    EXPECT_EQ(bad->frames_inflated(), 4u) << "frames 2 and 4 once, frame 3 at every read";
    std::vector<std::thread> threads;
    for (unsigned t = 0; t < 4; ++t)
        threads.emplace_back([&, t] {
            std::mt19937 gen(t);
            for (int k = 0; k < 300; ++k) {
                const std::uint64_t offset = gen() % end, length = 1 + gen() % 40000;
                const bool touches_3 = offset < 4 * F && offset + length > 3 * F;
                try {
                    EXPECT_TRUE(reads_right(*bad, offset, length) && !touches_3) << offset << "+" << length;
                } catch (const qivpak::QivFormatError&) {
                    EXPECT_TRUE(touches_3) << offset << "+" << length;
                }
            }
        });
    for (auto& t : threads) t.join();
}

bool mounted(const fs::path& mountpoint) {
    return read_text("/proc/self/mountinfo").find(" " + mountpoint.string() + " ") != std::string::npos;
}

std::string xorriso_tree(const std::string& image) {  // paths, sizes and modes
    const ProcessResult r = run({"xorriso", "-indev", image, "-find", "/", "-exec", "lsdl", "--"}, 60);
    EXPECT_EQ(r.status, 0) << r.err;
    return r.out;
}

class Mount : public ::testing::Test {
protected:
    void SetUp() override {
        if (std::string(QIVMOUNT_BINARY).empty()) GTEST_SKIP() << "qivmount is not built (no libfuse 3)";
        if (access("/dev/fuse", R_OK | W_OK) != 0) GTEST_SKIP() << "/dev/fuse is not usable here";
        if (run({"sh", "-c", "command -v fusermount3 && command -v xorriso"}, 10).status != 0)
            GTEST_SKIP() << "fusermount3 or xorriso is not installed";
        // A disc with text, incompressible data, zeros and a directory tree.
        fs::create_directories(dir_ / "tree/DATA/DEEP");
        write_file(dir_ / "tree/README.TXT", make_image("t", 3000, 4));
        write_file(dir_ / "tree/DATA/NOISE.BIN", make_image("n", 200000, 5));
        write_file(dir_ / "tree/DATA/WORDS.TXT", make_image("t", 300000, 6));
        write_file(dir_ / "tree/DATA/DEEP/ZERO.BIN", make_image("z", 70000, 7));
        ASSERT_EQ(run({"xorriso", "-as", "mkisofs", "-R", "-o", iso_, (dir_ / "tree").string()}, 120).status, 0);
        image_ = read_file(iso_);
        // The folder to mount: sound containers, one with a damaged frame, and files to leave out.
        fs::create_directories(src_ / "subfolder");
        ASSERT_EQ(run_tool(dir_, {"disc.iso", "src/disc.qiv"}).status, 0);
        ASSERT_EQ(run_tool(dir_, {"-a", "disc.iso", "src/raw"}).status, 0);
        const Bytes good = read_file(src_ / "disc.qiv");
        write_file(src_ / "bad.qiv", with_damaged_frame(good, kDamaged));
        write_file(src_ / "cut.qiv", Bytes(good.begin(), good.begin() + 40));
        write_file(src_ / "notes.txt", make_image("t", 500, 8));
    }
    void TearDown() override {
        for (const fs::path& m : mountpoints_)
            if (mounted(m)) run({"fusermount3", "-u", "-z", m.string()}, 30);
    }
    std::string mountpoint(const std::string& name) {
        fs::create_directories(dir_ / name);
        return mountpoints_.emplace_back(dir_ / name);
    }
    // What pread gives of `length` bytes at `offset` of the mounted image open as `fd`, after checking
    // that the bytes it gives are the image's (errno as pread left it).
    ssize_t read_at(int fd, std::size_t offset, std::size_t length) {
        Bytes buf(length);
        const ssize_t got = pread(fd, buf.data(), length, static_cast<off_t>(offset));
        const int error = errno;
        EXPECT_TRUE(std::equal(buf.begin(), buf.begin() + std::max<ssize_t>(got, 0), image_.begin() + offset))
            << offset << "+" << length;
        errno = error;
        return got;
    }

    static constexpr std::uint32_t kDamaged = 20;  // frame of bad.qiv whose stored bytes are flipped
    TempDir dir_;
    const std::string iso_ = (dir_ / "disc.iso").string();
    const fs::path src_ = dir_ / "src";
    Bytes image_;
    std::vector<fs::path> mountpoints_;
};

TEST_F(Mount, ServesContainersAsTheirImages) {
    const struct {
        bool folder;      // SOURCE is the folder, else src/disc.qiv
        bool foreground;  // -f, else qivmount detaches once mounted
        std::set<std::string> names;
        std::string messages;  // standard error
    } rows[] = {
        {true, true, {"bad.iso", "disc.iso", "raw.iso"},
         "qivmount: leaving out " + (src_ / "cut.qiv").string() + ": Corrupted input file.\n" +
             "qivmount: leaving out " + (src_ / "notes.txt").string() + ": Input is not a valid QIV file.\n"},
        {false, false, {"disc.iso"}, ""},
    };
    for (const auto& row : rows) {
        const std::string mnt = mountpoint(row.foreground ? "foreground" : "detached");
        SCOPED_TRACE(mnt);
        std::vector<std::string> argv = {QIVMOUNT_BINARY, "-o", "cache_mib=1"};
        if (row.foreground) argv.push_back("-f");
        argv.insert(argv.end(), {row.folder ? src_.string() : (src_ / "disc.qiv").string(), mnt});
        auto daemon = std::async(std::launch::async, run, argv, 60);
        const ProcessResult detached = row.foreground ? ProcessResult{} : daemon.get();
        ASSERT_EQ(detached.status, row.foreground ? -1 : 0) << detached.err;
        for (int k = 0; k < 500 && !mounted(mnt); ++k)
            if (row.foreground && daemon.wait_for(std::chrono::milliseconds(20)) == std::future_status::ready) break;
        ASSERT_TRUE(mounted(mnt)) << (row.foreground ? daemon.get().err : "");

        std::set<std::string> names;
        for (const auto& entry : fs::directory_iterator(mnt)) names.insert(entry.path().filename());
        EXPECT_EQ(names, row.names);
        for (const std::string& name : row.names) {
            if (name == "bad.iso") continue;
            SCOPED_TRACE(name);
            const fs::path file = fs::path(mnt) / name;
            struct stat st {}, container {};
            ASSERT_EQ(stat(file.c_str(), &st), 0);
            ASSERT_EQ(stat((src_ / (name == "raw.iso" ? "raw" : "disc.qiv")).c_str(), &container), 0);
            EXPECT_EQ(st.st_size, static_cast<off_t>(image_.size()));
            EXPECT_EQ(std::pair(st.st_mtim.tv_sec, st.st_mtim.tv_nsec),
                      std::pair(container.st_mtim.tv_sec, container.st_mtim.tv_nsec));
            EXPECT_TRUE(read_file(file) == image_) << "the whole image differs";
            EXPECT_EQ(xorriso_tree(file.string()), xorriso_tree(iso_));
            const int fd = open(file.c_str(), O_RDONLY);
            ASSERT_GE(fd, 0);
            std::mt19937 gen(9);
            for (int k = 0; k < 300; ++k) {
                const std::size_t offset = gen() % image_.size();
                const std::size_t length = std::min<std::size_t>(1 + gen() % 70000, image_.size() - offset);
                ASSERT_EQ(read_at(fd, offset, length), static_cast<ssize_t>(length));
            }
            close(fd);
            for (const int flags : {O_WRONLY, O_RDWR, O_RDONLY | O_TRUNC}) {
                errno = 0;
                const int w = open(file.c_str(), flags);
                EXPECT_TRUE(w == -1 && (errno == EROFS || errno == EACCES)) << "flags " << flags << ": " << errno;
                if (w >= 0) close(w);
            }
        }
        if (row.names.count("bad.iso")) {
            // A read from inside the damaged frame fails with EIO; one that reaches it from before gives at
            // most the bytes before it (the kernel returns what it got); the frames around it read right.
            const int fd = open((fs::path(mnt) / "bad.iso").c_str(), O_RDONLY);
            ASSERT_GE(fd, 0);
            const std::size_t damage = kDamaged * kFrame;
            for (const auto& [offset, length] : std::vector<Range>{{damage, 1}, {damage + 4096, 4096},
                     {damage + kFrame - 1, 2}, {damage - 3 * kFrame, 5 * kFrame}, {0, 256 * 1024},
                     {damage - kFrame, kFrame}, {damage + kFrame, 10 * kFrame}}) {
                errno = 0;
                const ssize_t got = read_at(fd, offset, length);
                if (offset + length <= damage || offset >= damage + kFrame) {
                    EXPECT_EQ(got, static_cast<ssize_t>(length)) << offset;
                } else if (offset >= damage) {
                    EXPECT_TRUE(got == -1 && errno == EIO) << offset << ": " << got << ", errno " << errno;
                } else {
                    EXPECT_TRUE(got <= static_cast<ssize_t>(damage - offset) && (got >= 0 || errno == EIO))
                        << offset << ": " << got;
                }
            }
            close(fd);
        }

        // Unmounting ends the daemon cleanly; it has said nothing but what it left out.
        EXPECT_EQ(run({"fusermount3", "-u", mnt}, 30).status, 0);
        const ProcessResult ended = row.foreground ? daemon.get() : detached;
        EXPECT_EQ(ended.status, 0) << ended.err;
        EXPECT_EQ(ended.err, row.messages);
        EXPECT_FALSE(mounted(mnt));
    }
}

TEST_F(Mount, RefusesWhatItCannotServe) {
    const std::string mnt = mountpoint("mnt"), cut = (src_ / "cut.qiv").string(), none = (src_ / "none").string();
    const std::string usage = "usage: qivmount [-f] [-o OPTIONS] SOURCE MOUNTPOINT\n";
    const std::pair<std::vector<std::string>, std::string> rows[] = {
        {{cut, mnt}, "qivmount: " + cut + ": Corrupted input file.\n"},
        {{none, mnt}, "qivmount: " + none + ": No such file or directory\n"},
        {{src_.string()}, usage},
        {{src_.string(), mnt, "extra"}, usage},
    };
    for (const auto& [args, message] : rows) {
        std::vector<std::string> argv = {QIVMOUNT_BINARY, "-f"};
        argv.insert(argv.end(), args.begin(), args.end());
        const ProcessResult r = run(argv, 30);
        EXPECT_EQ(r.status, 1);
        EXPECT_EQ(r.err.substr(0, message.size()), message);
        EXPECT_FALSE(mounted(mnt));
    }
}

}  // namespace
