// mount_test.cpp - the mount's frame cache in-process, and qivmount serving real containers through FUSE
//
// Containers are made by the built qivpak; disc images by xorriso. The FUSE
// tests skip themselves where qivmount is not built, /dev/fuse is missing or
// fusermount3 is not installed.
#include "mount/image_cache.hpp"

#include <gtest/gtest.h>

#include <fcntl.h>
#include <signal.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <random>
#include <set>
#include <string>
#include <thread>
#include <vector>

namespace {

namespace fs = std::filesystem;
using Bytes = std::vector<std::uint8_t>;
constexpr std::size_t kFrame = 8192;

Bytes read_file(const fs::path& p) {
    std::ifstream in(p, std::ios::binary);
    return Bytes(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

void write_file(const fs::path& p, const Bytes& data) {
    fs::create_directories(p.parent_path());
    std::ofstream(p, std::ios::binary).write(reinterpret_cast<const char*>(data.data()),
                                             static_cast<std::streamsize>(data.size()));
}

struct TempDir {
    TempDir() {
        std::string pattern = (fs::temp_directory_path() / "qivmount-test-XXXXXX").string();
        if (mkdtemp(pattern.data()) == nullptr) throw std::runtime_error("mkdtemp failed");
        path = pattern;
    }
    ~TempDir() {
        std::error_code ec;
        fs::remove_all(path, ec);
    }
    fs::path path;
};

// A child process with standard output and error in files.
struct Child {
    pid_t pid = -1;
    fs::path out, err;

    Child(const std::vector<std::string>& argv, const fs::path& log_stem)
        : out(log_stem.string() + ".out"), err(log_stem.string() + ".err") {
        std::vector<char*> args;
        for (const auto& a : argv) args.push_back(const_cast<char*>(a.c_str()));
        args.push_back(nullptr);
        pid = fork();
        if (pid == 0) {
            const int o = open(out.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
            const int e = open(err.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
            const int in = open("/dev/null", O_RDONLY);
            if (o < 0 || e < 0 || in < 0 || dup2(in, 0) < 0 || dup2(o, 1) < 0 || dup2(e, 2) < 0) _exit(126);
            execvp(args[0], args.data());
            _exit(127);
        }
    }
    // Exit status, 1000 + signal when killed, -1 when it runs past the timeout (then it is killed).
    int wait(double timeout_s = 30) {
        const auto deadline = std::chrono::steady_clock::now() + std::chrono::duration<double>(timeout_s);
        int status = 0;
        while (waitpid(pid, &status, WNOHANG) == 0) {
            if (std::chrono::steady_clock::now() > deadline) {
                kill(pid, SIGKILL);
                waitpid(pid, &status, 0);
                return -1;
            }
            std::this_thread::sleep_for(std::chrono::milliseconds(20));
        }
        return WIFEXITED(status) ? WEXITSTATUS(status) : 1000 + WTERMSIG(status);
    }
    std::string text(const fs::path& p) const {
        const Bytes b = read_file(p);
        return std::string(b.begin(), b.end());
    }
};

// Runs a command to its end; returns its status.
int run(const std::vector<std::string>& argv, const fs::path& log_stem) { return Child(argv, log_stem).wait(120); }

Bytes noise(std::size_t size, unsigned seed) {
    std::mt19937 gen(seed);
    Bytes b(size);
    for (auto& x : b) x = static_cast<std::uint8_t>(gen() >> 24);
    return b;
}

Bytes text(std::size_t size, unsigned seed) {
    static const char* const words[] = {"sector ", "frame ", "volume ", "index ", "table ", "disc\n", "0x1F "};
    std::mt19937 gen(seed);
    Bytes b;
    while (b.size() < size) {
        const std::string w = words[gen() % 7];
        b.insert(b.end(), w.begin(), w.end());
    }
    b.resize(size);
    return b;
}

Bytes concat(std::initializer_list<Bytes> parts) {
    Bytes all;
    for (const Bytes& p : parts) all.insert(all.end(), p.begin(), p.end());
    return all;
}

std::uint32_t u32_at(const Bytes& b, std::size_t at) {
    return b[at] | b[at + 1] << 8 | b[at + 2] << 16 | static_cast<std::uint32_t>(b[at + 3]) << 24;
}

// The container `good` with one byte in the middle of frame `frame`'s stored bytes flipped.
Bytes with_damaged_frame(Bytes good, std::uint32_t frame) {
    const std::uint32_t frames = (u32_at(good, 4) + kFrame - 1) / kFrame;
    const std::uint32_t start = u32_at(good, 32 + 4 * frame);
    const std::uint32_t length = good[32 + 4 * frames + 2 * frame] | good[33 + 4 * frames + 2 * frame] << 8;
    good[start + length / 2] ^= 0x55;
    return good;
}

// ---- the cache, in-process ----

struct CacheRead {
    std::uint64_t offset;
    std::size_t length;
};

TEST(ImageCache, ReadsInflateEachFrameOnceAndMatchTheImage) {
    TempDir dir;
    // 21 frames: text, noise stored raw with -a, text, a short last frame.
    const Bytes image = concat({text(6 * kFrame, 1), noise(5 * kFrame, 2), text(9 * kFrame + 700, 3)});
    write_file(dir.path / "img", image);
    ASSERT_EQ(run({QIVPAK_BINARY, "-a", (dir.path / "img").string(), (dir.path / "a.qiv").string()}, dir.path / "p"), 0);

    const std::uint64_t F = kFrame;
    struct Row {
        const char* what;
        std::size_t capacity_frames;
        unsigned threads;
        std::vector<CacheRead> reads;
        std::uint64_t inflated;  // frames inflated by all the reads
    };
    std::vector<CacheRead> pages;  // the whole image in 4 KiB reads
    for (std::uint64_t at = 0; at < image.size(); at += 4096) pages.push_back({at, 4096});
    const Row rows[] = {
        {"4 KiB reads in order", 16, 1, pages, 21},
        {"4 KiB reads in order, workers inflating ahead", 16, 2, pages, 21},
        {"one read of everything, 3 inflaters", 16, 3, {{0, image.size() + 50}}, 21},
        {"reads across frame edges", 16, 2, {{F - 10, 20}, {F + 5, 3 * F}, {3 * F + 100, 10}}, 5},
        {"least recently used goes", 2, 1, {{0, 1}, {F, 1}, {2 * F, 1}, {0, 1}, {2 * F, 1}, {F, 1}}, 5},
        {"nothing kept", 0, 1, {{0, 1}, {0, 1}, {10, 2 * F}}, 5},
        {"at and past the end", 4, 1, {{image.size(), 10}, {image.size() - 1, 10}, {image.size() + F, 1}}, 1},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.what);
        std::vector<qivpak::QivReader> readers;
        readers.emplace_back((dir.path / "a.qiv").string());
        qivpak::ImageCache cache(std::move(readers), row.capacity_frames * kFrame, row.threads);
        for (const CacheRead& r : row.reads) {
            Bytes got(r.length, 0xEE);
            const std::size_t n = cache.read(0, r.offset, got.data(), r.length);
            const std::size_t expected = r.offset >= image.size() ? 0 : std::min(r.length, image.size() - r.offset);
            ASSERT_EQ(n, expected) << r.offset;
            EXPECT_TRUE(std::equal(got.begin(), got.begin() + static_cast<std::ptrdiff_t>(n),
                                   image.begin() + static_cast<std::ptrdiff_t>(std::min<std::uint64_t>(r.offset, image.size()))))
                << r.offset;
        }
        EXPECT_EQ(cache.frames_inflated(), row.inflated);
    }

    // A damaged frame fails every read that touches it, is never kept, and
    // leaves its neighbours readable, from any number of threads at once.
    write_file(dir.path / "bad.qiv", with_damaged_frame(read_file(dir.path / "a.qiv"), 3));
    std::vector<qivpak::QivReader> readers;
    readers.emplace_back((dir.path / "bad.qiv").string());
    qivpak::ImageCache cache(std::move(readers), 4 * kFrame, 2);
    Bytes got(3 * kFrame);
    for (int pass = 0; pass < 2; ++pass) {
        try {
            cache.read(0, 2 * F, got.data(), got.size());
            ADD_FAILURE() << "a damaged frame was read";
        } catch (const qivpak::QivFormatError& e) {
            EXPECT_EQ(e.fault(), qivpak::ContainerFault::bad_stream);
        }
    }
    EXPECT_EQ(cache.frames_inflated(), 4u) << "frames 2 and 4 once, frame 3 at every read";
    std::vector<std::thread> threads;
    for (unsigned t = 0; t < 4; ++t) {
        threads.emplace_back([&, t] {
            std::mt19937 gen(t);
            Bytes buf(40000);
            for (int k = 0; k < 300; ++k) {
                const std::uint64_t offset = gen() % image.size();
                const std::size_t length = 1 + gen() % buf.size();
                const bool touches_3 = offset < 4 * F && offset + length > 3 * F;
                try {
                    const std::size_t n = cache.read(0, offset, buf.data(), length);
                    EXPECT_FALSE(touches_3) << offset << "+" << length;
                    EXPECT_TRUE(std::equal(buf.begin(), buf.begin() + static_cast<std::ptrdiff_t>(n),
                                           image.begin() + static_cast<std::ptrdiff_t>(offset)));
                } catch (const qivpak::QivFormatError&) {
                    EXPECT_TRUE(touches_3) << offset << "+" << length;
                }
            }
        });
    }
    for (auto& t : threads) t.join();
}

// ---- qivmount through FUSE ----

std::set<std::string> names_in(const fs::path& dir) {
    std::set<std::string> names;
    std::error_code ec;
    for (const auto& e : fs::directory_iterator(dir, ec)) names.insert(e.path().filename().string());
    return names;
}

bool mounted(const fs::path& mountpoint) {
    std::ifstream mounts("/proc/self/mountinfo");
    for (std::string line; std::getline(mounts, line);)
        if (line.find(" " + mountpoint.string() + " ") != std::string::npos) return true;
    return false;
}

// Waits for the mount to appear, or for `child` to end.
bool wait_mounted(const fs::path& mountpoint, pid_t child) {
    for (int k = 0; k < 500; ++k) {
        if (mounted(mountpoint)) return true;
        if (child > 0 && waitpid(child, nullptr, WNOHANG) != 0) return false;
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
    return false;
}

// What xorriso lists of an image's tree: paths, sizes, modes.
std::string xorriso_tree(const std::string& image, const fs::path& log) {
    Child c({"xorriso", "-indev", image, "-find", "/", "-exec", "lsdl", "--"}, log);
    EXPECT_EQ(c.wait(60), 0) << c.text(c.err);
    return c.text(c.out);
}

class Mount : public ::testing::Test {
protected:
    void SetUp() override {
        if (std::string(QIVMOUNT_BINARY).empty()) GTEST_SKIP() << "qivmount is not built (no libfuse 3)";
        if (access("/dev/fuse", R_OK | W_OK) != 0) GTEST_SKIP() << "/dev/fuse is not usable here";
        if (run({"sh", "-c", "command -v fusermount3"}, dir_.path / "which") != 0) GTEST_SKIP() << "no fusermount3";
        if (run({"xorriso", "-version"}, dir_.path / "xv") != 0) GTEST_SKIP() << "xorriso is not installed";

        // A disc with text, incompressible data and a directory tree.
        const fs::path tree = dir_.path / "tree";
        write_file(tree / "README.TXT", text(3000, 4));
        write_file(tree / "DATA/NOISE.BIN", noise(200000, 5));
        write_file(tree / "DATA/WORDS.TXT", text(300000, 6));
        write_file(tree / "DATA/DEEP/ZERO.BIN", Bytes(70000, 0));
        iso_ = (dir_.path / "disc.iso").string();
        ASSERT_EQ(run({"xorriso", "-as", "mkisofs", "-R", "-o", iso_, tree.string()}, dir_.path / "mk"), 0);
        image_ = read_file(iso_);

        // The folder to mount: sound containers, one with a damaged frame, and files to leave out.
        src_ = dir_.path / "src";
        fs::create_directories(src_);
        ASSERT_EQ(run({QIVPAK_BINARY, iso_, (src_ / "disc.qiv").string()}, dir_.path / "p1"), 0);
        ASSERT_EQ(run({QIVPAK_BINARY, "-a", iso_, (src_ / "raw").string()}, dir_.path / "p2"), 0);
        const Bytes good = read_file(src_ / "disc.qiv");
        write_file(src_ / "bad.qiv", with_damaged_frame(good, kDamaged));
        write_file(src_ / "cut.qiv", Bytes(good.begin(), good.begin() + 40));
        write_file(src_ / "notes.txt", text(500, 7));
        fs::create_directories(src_ / "subfolder");
    }

    void TearDown() override {
        for (const fs::path& m : mountpoints_)
            if (mounted(m)) run({"fusermount3", "-u", "-z", m.string()}, dir_.path / "cleanup");
    }

    fs::path mountpoint(const std::string& name) {
        fs::create_directories(dir_.path / name);
        return mountpoints_.emplace_back(dir_.path / name);
    }

    static constexpr std::uint32_t kDamaged = 20;  // frame of bad.qiv whose stored bytes are flipped
    TempDir dir_;
    std::string iso_;
    Bytes image_;
    fs::path src_;
    std::vector<fs::path> mountpoints_;
};

TEST_F(Mount, ServesContainersAsTheirImages) {
    struct Row {
        const char* what;
        bool folder;      // SOURCE is the folder, else src/disc.qiv
        bool foreground;  // -f, else qivmount detaches once mounted
        std::set<std::string> names;
        std::string messages;  // standard error
    };
    const Row rows[] = {
        {"folder, foreground", true, true, {"bad.iso", "disc.iso", "raw.iso"},
         "qivmount: leaving out " + (src_ / "cut.qiv").string() + ": Corrupted input file.\n" +
             "qivmount: leaving out " + (src_ / "notes.txt").string() + ": Input is not a valid QIV file.\n"},
        {"one container, detached", false, false, {"disc.iso"}, ""},
    };
    int n = 0;
    for (const Row& row : rows) {
        SCOPED_TRACE(row.what);
        const fs::path mnt = mountpoint("mnt" + std::to_string(n++));
        std::vector<std::string> argv = {QIVMOUNT_BINARY, "-o", "cache_mib=1"};
        if (row.foreground) argv.push_back("-f");
        argv.push_back(row.folder ? src_.string() : (src_ / "disc.qiv").string());
        argv.push_back(mnt.string());
        Child daemon(argv, dir_.path / ("qivmount" + std::to_string(n)));
        if (!row.foreground) {
            ASSERT_EQ(daemon.wait(30), 0) << daemon.text(daemon.err);
        }
        ASSERT_TRUE(wait_mounted(mnt, row.foreground ? daemon.pid : -1)) << daemon.text(daemon.err);

        EXPECT_EQ(names_in(mnt), row.names);
        EXPECT_EQ(daemon.text(daemon.err), row.messages);
        for (const std::string& name : row.names) {
            if (name == "bad.iso") continue;
            SCOPED_TRACE(name);
            struct stat st {}, container {};
            ASSERT_EQ(stat((mnt / name).c_str(), &st), 0);
            ASSERT_EQ(stat((src_ / (name == "raw.iso" ? "raw" : "disc.qiv")).c_str(), &container), 0);
            EXPECT_EQ(st.st_size, static_cast<off_t>(image_.size()));
            EXPECT_EQ(st.st_mtim.tv_sec, container.st_mtim.tv_sec);
            EXPECT_EQ(st.st_mtim.tv_nsec, container.st_mtim.tv_nsec);
            EXPECT_TRUE(read_file(mnt / name) == image_) << "the whole image differs";
            EXPECT_EQ(xorriso_tree((mnt / name).string(), dir_.path / "x1"), xorriso_tree(iso_, dir_.path / "x2"));

            const int fd = open((mnt / name).c_str(), O_RDONLY);
            ASSERT_GE(fd, 0);
            std::mt19937 gen(9);
            Bytes buf(70000);
            for (int k = 0; k < 300; ++k) {
                const std::size_t offset = gen() % image_.size();
                const std::size_t length = std::min<std::size_t>(1 + gen() % buf.size(), image_.size() - offset);
                ASSERT_EQ(pread(fd, buf.data(), length, static_cast<off_t>(offset)), static_cast<ssize_t>(length));
                ASSERT_TRUE(std::equal(buf.begin(), buf.begin() + static_cast<std::ptrdiff_t>(length),
                                       image_.begin() + static_cast<std::ptrdiff_t>(offset)))
                    << offset << "+" << length;
            }
            close(fd);
            for (const int flags : {O_WRONLY, O_RDWR, O_RDONLY | O_TRUNC}) {
                errno = 0;
                const int w = open((mnt / name).c_str(), flags);
                EXPECT_EQ(w, -1) << "opened for writing with flags " << flags;
                EXPECT_TRUE(errno == EROFS || errno == EACCES) << errno;
                if (w >= 0) close(w);
            }
        }

        if (row.names.count("bad.iso")) {
            // A read from inside the damaged frame fails with EIO; one that
            // reaches it from before gives at most the bytes before it (the
            // kernel returns what it got); the frames around it read right.
            const int fd = open((mnt / "bad.iso").c_str(), O_RDONLY);
            ASSERT_GE(fd, 0);
            const std::size_t damage = kDamaged * kFrame;
            Bytes buf(256 * 1024);
            for (const CacheRead r : std::vector<CacheRead>{{damage, 1},
                                                            {damage + 4096, 4096},
                                                            {damage + kFrame - 1, 2},
                                                            {damage - 3 * kFrame, 5 * kFrame},
                                                            {0, buf.size()},
                                                            {damage - kFrame, kFrame},
                                                            {damage + kFrame, 10 * kFrame}}) {
                errno = 0;
                const ssize_t got = pread(fd, buf.data(), r.length, static_cast<off_t>(r.offset));
                const bool sound = r.offset + r.length <= damage || r.offset >= damage + kFrame;
                if (sound) {
                    EXPECT_EQ(got, static_cast<ssize_t>(r.length)) << r.offset;
                } else if (r.offset >= damage) {
                    EXPECT_EQ(got, -1) << r.offset;
                    EXPECT_EQ(errno, EIO) << r.offset;
                } else {
                    EXPECT_TRUE(got <= static_cast<ssize_t>(damage - r.offset) && (got >= 0 || errno == EIO))
                        << r.offset << ": " << got;
                }
                EXPECT_TRUE(std::equal(buf.begin(), buf.begin() + std::max<ssize_t>(got, 0),
                                       image_.begin() + static_cast<std::ptrdiff_t>(r.offset)))
                    << r.offset;
            }
            close(fd);
        }

        // Unmounting ends the daemon cleanly.
        EXPECT_EQ(run({"fusermount3", "-u", mnt.string()}, dir_.path / "umount"), 0);
        if (row.foreground) {
            EXPECT_EQ(daemon.wait(30), 0) << daemon.text(daemon.err);
        }
        EXPECT_FALSE(mounted(mnt));
    }
}

TEST_F(Mount, RefusesWhatItCannotServe) {
    const fs::path mnt = mountpoint("mnt");
    struct Row {
        std::vector<std::string> args;
        std::string message;
    };
    const std::string usage = "usage: qivmount [-f] [-o OPTIONS] SOURCE MOUNTPOINT\n";
    const Row rows[] = {
        {{(src_ / "cut.qiv").string(), mnt.string()},
         "qivmount: " + (src_ / "cut.qiv").string() + ": Corrupted input file.\n"},
        {{(src_ / "none").string(), mnt.string()},
         "qivmount: " + (src_ / "none").string() + ": No such file or directory\n"},
        {{src_.string()}, usage},
        {{src_.string(), mnt.string(), "extra"}, usage},
    };
    for (const Row& row : rows) {
        std::vector<std::string> argv = {QIVMOUNT_BINARY, "-f"};
        argv.insert(argv.end(), row.args.begin(), row.args.end());
        Child c(argv, dir_.path / "refused");
        EXPECT_EQ(c.wait(30), 1);
        EXPECT_EQ(c.text(c.err).substr(0, row.message.size()), row.message);
        EXPECT_FALSE(mounted(mnt));
    }
}

}  // namespace
