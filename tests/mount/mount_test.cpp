// mount_test.cpp - the mount's frame cache in-process, and qivmount serving real containers through FUSE
// (containers from the built qivpak, discs from xorriso; skipped without qivmount, /dev/fuse or the tools)
#include "mount/disc_files.hpp"
#include "mount/image_cache.hpp"
#include "support/container.hpp"
#include "support/disc_fixtures.hpp"

#include <qivpak/disc.hpp>

#include <gtest/gtest.h>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <future>

namespace {

using namespace qivtest;
using Range = std::pair<std::uint64_t, std::size_t>;  // offset, length

ProcessResult run(std::vector<std::string> argv, int timeout_s) {  // a program found on the PATH
    argv.insert(argv.begin(), "/usr/bin/env");
    return run_process(argv, {"", {}, timeout_s});
}

// The container `q` with a byte flipped halfway between the offsets of frame `frame` and the next.
Bytes with_damaged_frame(Bytes q, std::uint32_t frame) {
    q[(get_le32(q, 32 + 4 * frame) + get_le32(q, 36 + 4 * frame)) / 2] ^= 0x55;
    return q;
}

// The cache over a.qiv (21 frames: text, noise stored raw with -a, text, a short last one) or bad.qiv
// (the same with frame 3 damaged), every range of a row read by `readers` threads at once.
TEST(ImageCache, ReadsInflateEachFrameOnceAndMatchTheImage) {
    TempDir dir;
    const Bytes image = make_image("ttttttnnnnntttttttttt", 20 * kFrame + 700, 1);
    write_file(dir / "img", image);
    ASSERT_EQ(run_tool(dir, {"-a", "img", "a.qiv"}).status, 0);
    write_file(dir / "bad.qiv", with_damaged_frame(read_file(dir / "a.qiv"), 3));
    const std::uint64_t F = kFrame, end = image.size();
    std::vector<Range> pages, anywhere;  // the whole image in 4 KiB reads; ranges at random
    for (std::uint64_t at = 0; at < end; at += 4096) pages.emplace_back(at, 4096);
    for (std::mt19937 gen(1); anywhere.size() < 300;) anywhere.emplace_back(gen() % end, 1 + gen() % 40000);
    const struct {
        const char* what; bool damaged;                 // bad.qiv, else a.qiv
        std::size_t frames; unsigned threads, readers;  // cache capacity; inflating workers; threads reading
        std::vector<Range> reads; int inflated;         // frames inflated by all the reads (-1: not counted)
    } rows[] = {
        {"4 KiB reads in order", false, 16, 1, 1, pages, 21},
        {"4 KiB reads in order, workers inflating ahead", false, 16, 2, 1, pages, 21},
        {"4 readers of every page at once", false, 32, 2, 4, pages, 21},
        {"one read of everything, 3 inflaters", false, 16, 3, 1, {{0, end + 50}}, 21},
        {"reads across frame edges", false, 16, 2, 1, {{F - 10, 20}, {F + 5, 3 * F}, {3 * F + 100, 10}}, 5},
        {"least recently used goes", false, 2, 1, 1, {{0, 1}, {F, 1}, {0, 1}, {2 * F, 1}, {0, 1}, {F, 1}}, 4},
        {"frames inflated together go together", false, 4, 1, 1, {{0, 3 * F}, {3 * F, 1}, {4 * F, 1}, {F, 1}}, 6},
        {"nothing kept", false, 0, 1, 1, {{0, 1}, {0, 1}, {10, 2 * F}}, 5},
        {"at and past the end", false, 4, 1, 1, {{end, 10}, {end - 1, 10}, {end + F, 1}}, 1},
        {"damaged, never kept: 2 and 4 once, 3 at each read", true, 4, 2, 1, {{2 * F, 3 * F}, {2 * F, 3 * F}}, 4},
        {"damaged, 4 readers at random", true, 4, 2, 4, anywhere, -1},
    };
    for (const auto& row : rows) {
        std::vector<qivpak::QivReader> images;
        images.emplace_back((dir / (row.damaged ? "bad.qiv" : "a.qiv")).string());
        qivpak::ImageCache cache(std::move(images), row.frames * kFrame, row.threads);
        // Each read gives the image's bytes (as many as there are), or fails where it touches bad.qiv's frame 3.
        const auto read_all = [&] {
            for (const auto& [offset, length] : row.reads) {
                const bool touches_3 = row.damaged && offset < 4 * F && offset + length > 3 * F;
                Bytes got(length, 0xEE);
                bool right = false;
                try {
                    const std::size_t n = cache.read(0, offset, got.data(), length), at = std::min(offset, end);
                    right = !touches_3 && n == std::min<std::uint64_t>(length, end - at) &&
                            std::equal(got.begin(), got.begin() + n, image.begin() + at);
                } catch (const qivpak::QivFormatError& e) {
                    right = touches_3 && e.fault() == qivpak::ContainerFault::bad_stream;
                }
                EXPECT_TRUE(right) << row.what << ": " << offset << "+" << length;
            }
        };
        std::vector<std::future<void>> readers;
        for (unsigned t = 0; t < row.readers; ++t) readers.push_back(std::async(std::launch::async, read_all));
        for (auto& reader : readers) reader.get();
        EXPECT_EQ(row.inflated < 0 ? -1 : int(cache.frames_inflated()), row.inflated) << row.what;
    }
}

// The cache in a process that may start only `allowed` threads in all (a preloaded library standing in
// for a process limit), asked for 8: it serves the whole image with those it got, or with none, in
// 4 KiB reads (workers inflating ahead) and in one read of every frame (workers inflating beside it).
TEST(ImageCache, ServesTheWholeImageWithTheThreadsTheSystemGrants) {
    TempDir dir;
    const Bytes image = make_image("tnt", 60 * kFrame + 300, 2);  // 61 frames
    write_file(dir / "img", image);
    ASSERT_EQ(run_tool(dir, {"img", "a.qiv"}).status, 0);
    const struct { const char* allowed; const char* read_bytes; } rows[] = {
        {"0", "4096"}, {"0", "1000000"}, {"2", "4096"}, {"2", "1000000"}};
    for (const auto& row : rows) {
        SCOPED_TRACE(std::string("threads allowed: ") + row.allowed + ", reads of " + row.read_bytes);
        const ProcessOptions options{dir.path.string(),
                                     {{"LD_PRELOAD", QIVPAK_REFUSE_THREADS},
                                      {"QIVPAK_TEST_THREADS_ALLOWED", row.allowed},
                                      {"ASAN_OPTIONS", "verify_asan_link_order=0"}},
                                     60, {}};
        const ProcessResult r = run_process({CACHE_CAT_BINARY, "a.qiv", "8", row.read_bytes}, options);
        if (r.err.find("thread refused") == std::string::npos)
            GTEST_SKIP() << "the preloaded library is not in effect (a sanitizer runtime intercepts threads)";
        EXPECT_EQ(std::pair(r.status, r.err), std::pair(0, std::string("thread refused\ninflated 61 frames\n")));
        EXPECT_TRUE(r.out == std::string(image.begin(), image.end())) << r.out.size() << " bytes";
    }
}

bool mounted(const std::string& mountpoint) {
    return read_text("/proc/self/mountinfo").find(" " + mountpoint + " ") != std::string::npos;
}

std::string xorriso_tree(const std::string& image) {  // paths, sizes and modes, or why xorriso failed on `image`
    const ProcessResult r = run({"xorriso", "-indev", image, "-find", "/", "-exec", "lsdl", "--"}, 60);
    return r.status == 0 ? r.out : "xorriso failed: " + r.err;
}

struct Unmount {  // lazily unmounts what a failed check left mounted, which ends a qivmount in the foreground
    std::string at;
    ~Unmount() { if (mounted(at)) run({"fusermount3", "-u", "-z", at}, 30); }
};

// qivmount's command lines: what each serves until it is unmounted, what it prints, how it ends.
TEST(Mount, ServesContainersAsTheirImages) {
    if (std::string(QIVMOUNT_BINARY).empty()) GTEST_SKIP() << "qivmount is not built (no libfuse 3)";
    const std::string tools = "test -r /dev/fuse && test -w /dev/fuse && command -v fusermount3 && command -v xorriso";
    if (run({"sh", "-c", tools}, 10).status != 0) GTEST_SKIP() << "no usable /dev/fuse, fusermount3 or xorriso";
    TempDir dir;
    const std::string iso = (dir / "disc.iso").string(), src = (dir / "src").string(), mnt = (dir / "mnt").string();
    for (const char* folder : {"tree/DATA/DEEP", "src/subfolder", "mnt"}) fs::create_directories(dir / folder);
    write_file(dir / "tree/DATA/DEEP/MIXED.BIN", make_image("tnzm", 600000, 5));  // text, noise and zeros
    ASSERT_EQ(run({"xorriso", "-as", "mkisofs", "-R", "-o", iso, (dir / "tree").string()}, 60).status, 0);
    const Bytes image = read_file(iso);
    // The folder to mount: sound containers, one with a damaged frame, and what is left out.
    ASSERT_EQ(run_tool(dir, {"disc.iso", "src/disc.qiv"}).status, 0);
    ASSERT_EQ(run_tool(dir, {"-a", "disc.iso", "src/raw"}).status, 0);
    fs::permissions(src + "/raw", fs::perms(0640));  // its image shows the read bits alone: 0440
    const Bytes good = read_file(src + "/disc.qiv");
    const std::size_t damage = 20 * kFrame;  // where bad.qiv's damaged frame starts
    write_file(src + "/bad.qiv", with_damaged_frame(good, damage / kFrame));
    write_file(src + "/cut.qiv", Bytes(good.begin(), good.begin() + 40));
    write_file(src + "/notes.txt", make_image("t", 500, 8));
    write_file(src + "/disc.z", good);  // its image name is disc.qiv's

    const std::string usage = "usage: qivmount [-f] [-o OPTIONS] SOURCE MOUNTPOINT\n", cut = src + "/cut.qiv",
                      none = src + "/none";
    const struct {  // without -f, qivmount detaches once mounted
        std::vector<std::string> argv; int status;  // the command line; its exit status
        std::set<std::string> names; std::string messages;  // what it serves; standard error (a refusal's start)
    } rows[] = {
        {{QIVMOUNT_BINARY, "-f", "-o", "cache_mib=1", src, mnt}, 0, {"bad.iso", "disc.iso", "raw.iso"},
         "qivmount: leaving out " + cut + ": Corrupted input file.\nqivmount: leaving out " + src +
             "/disc.z: its image name disc.iso is taken by " + src + "/disc.qiv\nqivmount: leaving out " + src +
             "/notes.txt: Input is not a valid QIV file.\n"},
        {{QIVMOUNT_BINARY, "-o", "cache_mib=1,max_read=65536", src + "/disc.qiv", mnt}, 0, {"disc.iso"}, ""},
        {{QIVMOUNT_BINARY, "-f", cut, mnt}, 1, {}, "qivmount: " + cut + ": Corrupted input file.\n"},
        {{QIVMOUNT_BINARY, "-f", none, mnt}, 1, {}, "qivmount: " + none + ": No such file or directory\n"},
        // arguments the wrong way round: no container to serve, a mount point that is a file or not empty
        {{QIVMOUNT_BINARY, "-f", mnt, src}, 1, {}, "qivmount: " + mnt + ": no container found\n"},
        {{QIVMOUNT_BINARY, "-f", src + "/disc.qiv", src + "/notes.txt"}, 1, {},
         "qivmount: " + src + "/notes.txt: the mount point is not a folder\n"},
        {{QIVMOUNT_BINARY, "-f", src + "/disc.qiv", src}, 1, {}, "qivmount: " + src + ": the mount point is not empty\n"},
        {{QIVMOUNT_BINARY, "-f", src}, 1, {}, usage},
        {{QIVMOUNT_BINARY, "-f", src, mnt, "extra"}, 1, {}, usage},
    };
    for (const auto& row : rows) {
        auto daemon = std::async(std::launch::async, run, row.argv, 60);
        const Unmount unmount{mnt};
        const bool stays = row.argv[1] == "-f" && row.status == 0;  // serves from this process till unmounted
        while (stays && !mounted(mnt) && daemon.wait_for(std::chrono::milliseconds(20)) != std::future_status::ready) {}
        ProcessResult ended = stays && mounted(mnt) ? ProcessResult{} : daemon.get();
        std::set<std::string> names;
        for (const auto& entry : fs::directory_iterator(mnt)) names.insert(entry.path().filename());
        ASSERT_EQ(names, row.names) << ended.err;

        for (const std::string& name : row.names) {
            SCOPED_TRACE(name);
            const std::string file = mnt + "/" + name;
            const bool bad = name == "bad.iso";
            EXPECT_EQ(fs::file_size(file), image.size());
            const std::string container = fs::path(name).replace_extension(name == "raw.iso" ? "" : ".qiv");
            EXPECT_EQ(fs::last_write_time(file), fs::last_write_time(src + "/" + container));
            EXPECT_EQ(fs::status(file).permissions(), fs::status(src + "/" + container).permissions() & fs::perms(0444));
            EXPECT_EQ(xorriso_tree(file), xorriso_tree(iso));  // the tree lies in frames before the damage
            for (const int flags : {O_WRONLY, O_RDWR, O_RDONLY | O_TRUNC})  // never opened for writing
                EXPECT_TRUE(open(file.c_str(), flags) == -1 && (errno == EROFS || errno == EACCES)) << flags;
            // The whole image, ranges around the damage, and (in sound images) at random. A read from inside a
            // damaged frame fails with EIO; one reaching it from before gives at most the bytes before it.
            std::vector<Range> ranges = {{0, image.size()}, {damage, 1}, {damage + 4096, 4096},
                                         {damage + kFrame - 1, 2}, {damage - 3 * kFrame, 5 * kFrame},
                                         {damage - kFrame, kFrame}, {damage + kFrame, 10 * kFrame}};
            for (std::mt19937 gen(9); !bad && ranges.size() < 300;)
                ranges.emplace_back(gen() % image.size(), 1 + gen() % 70000);
            const int fd = open(file.c_str(), O_RDONLY);
            ASSERT_GE(fd, 0);
            for (const auto& [offset, length] : ranges) {
                Bytes buf(length);
                const ssize_t got = pread(fd, buf.data(), length, static_cast<off_t>(offset));
                const bool sound = !bad || offset + length <= damage || offset >= damage + kFrame;
                const bool right = sound ? got == ssize_t(std::min(length, image.size() - offset))
                                         : got < 0 ? errno == EIO : offset < damage && got <= ssize_t(damage - offset);
                const auto gave = buf.begin() + std::max<ssize_t>(got, 0);
                EXPECT_TRUE(right && std::equal(buf.begin(), gave, image.begin() + offset))
                    << offset << "+" << length << " gave " << got << ", errno " << errno;
            }
            close(fd);
        }

        EXPECT_TRUE(!mounted(mnt) || run({"fusermount3", "-u", mnt}, 30).status == 0);  // ends the daemon cleanly
        if (stays) ended = daemon.get();
        EXPECT_EQ(std::pair(ended.status, row.status == 0 ? ended.err : ended.err.substr(0, row.messages.size())),
                  std::pair(row.status, row.messages));
        EXPECT_FALSE(mounted(mnt));
    }
}

}  // namespace

namespace {

// Containers opened when read, the least recently read closed first: never more than the bound open,
// a reader in use kept, every image whole.
TEST(ReaderShelf, KeepsAtMostItsBoundOpenAndReadsEveryContainer) {
    TempDir dir;
    std::vector<std::string> paths;
    std::vector<Bytes> images;
    for (int i = 0; i < 5; ++i) {
        images.push_back(make_image("tz", 9000 + 100 * static_cast<std::uint64_t>(i), static_cast<unsigned>(i)));
        write_file(dir / ("i" + std::to_string(i)), images.back());
        ASSERT_EQ(run_tool(dir, {"i" + std::to_string(i), std::to_string(i) + ".qiv"}).status, 0);
        paths.push_back((dir / (std::to_string(i) + ".qiv")).string());
    }
    std::vector<std::uint64_t> sizes;
    for (const Bytes& image : images) sizes.push_back(image.size());
    qivpak::ReaderShelf shelf(paths, sizes, 2);
    EXPECT_EQ(shelf.open_count(), 0u);
    const std::shared_ptr<const qivpak::QivReader> held = shelf.get(0);
    for (const std::size_t i : {1, 2, 3, 4, 1, 0, 4}) {
        const std::shared_ptr<const qivpak::QivReader> reader = shelf.get(i);
        Bytes got(sizes[i]);
        EXPECT_EQ(reader->read(0, got.data(), got.size()), got.size());
        EXPECT_TRUE(got == images[i]) << i;
        EXPECT_LE(shelf.open_count(), 2u);
    }
    Bytes again(sizes[0]);  // closed by the shelf long ago, still open for its holder
    EXPECT_EQ(held->read(0, again.data(), again.size()), again.size());
    EXPECT_TRUE(again == images[0]);
    fs::remove(paths[2]);  // a container gone since it was checked: the reader's refusal
    EXPECT_THROW(shelf.get(2), qivpak::QivFormatError);
}

// 10,000 containers mount and read under a limit of 256 open files.
TEST(Mount, ALibraryLargerThanTheOpenFileLimitMountsAndReads) {
    if (std::string(QIVMOUNT_BINARY).empty()) GTEST_SKIP() << "qivmount is not built (no libfuse 3)";
    if (run({"sh", "-c", "test -r /dev/fuse && test -w /dev/fuse && command -v fusermount3 && command -v prlimit"}, 10)
            .status != 0)
        GTEST_SKIP() << "no usable /dev/fuse, fusermount3 or prlimit";
    TempDir dir;
    const std::string src = (dir / "src").string(), mnt = (dir / "mnt").string();
    fs::create_directories(dir / "src"), fs::create_directories(dir / "mnt");
    // Ten different images, each under a thousand names.
    std::vector<Bytes> images;
    for (int k = 0; k < 10; ++k) {
        images.push_back(make_image("t", 3000 + 7 * static_cast<std::uint64_t>(k), static_cast<unsigned>(k)));
        write_file(dir / "img", images.back());
        ASSERT_EQ(run_tool(dir, {"img", "src/c" + std::to_string(k) + ".qiv"}).status, 0);
    }
    for (int n = 10; n < 10000; ++n)
        fs::copy_file(src + "/c" + std::to_string(n % 10) + ".qiv", src + "/c" + std::to_string(n) + ".qiv");
    auto daemon = std::async(std::launch::async, run,
                             std::vector<std::string>{"prlimit", "--nofile=256:256", QIVMOUNT_BINARY, "-f", src, mnt}, 100);
    const Unmount unmount{mnt};
    while (!mounted(mnt) && daemon.wait_for(std::chrono::milliseconds(20)) != std::future_status::ready) {}
    ASSERT_TRUE(mounted(mnt)) << daemon.get().err;
    std::size_t names = 0;
    for (const auto& entry : fs::directory_iterator(mnt)) names += entry.is_regular_file();
    EXPECT_EQ(names, 10000u);
    for (int n = 0; n < 10000; n += 23) {  // 435 containers, far more than stay open
        const std::string file = mnt + "/c" + std::to_string(n) + ".iso";
        EXPECT_TRUE(read_file(file) == images[static_cast<std::size_t>(n % 10)]) << file;
    }
    EXPECT_EQ(run({"fusermount3", "-u", mnt}, 30).status, 0);
    const ProcessResult ended = daemon.get();
    EXPECT_EQ(std::pair(ended.status, ended.err), std::pair(0, std::string()));
}

}  // namespace

namespace {

// What a folder holds, below it: relative path -> "d MTIME", "f SIZE MTIME BYTES" or "l MTIME TARGET".
std::map<std::string, std::string> contents(const fs::path& root) {
    std::map<std::string, std::string> out;
    for (const auto& entry : fs::recursive_directory_iterator(root)) {
        struct stat st {};
        lstat(entry.path().c_str(), &st);
        const std::string when = std::to_string(st.st_mtime);
        out[fs::relative(entry.path(), root)] =
            S_ISDIR(st.st_mode) ? "d " + when
            : S_ISLNK(st.st_mode) ? "l " + when + " " + fs::read_symlink(entry.path()).string()
                                  : "f " + std::to_string(st.st_size) + " " + when + " " + read_text(entry.path());
    }
    return out;
}

// DiscFiles in-process, keeping a single folder's entries: paths found or not, a file's bytes through the cache.
TEST(DiscFiles, FindsPathsAndReadsFilesWhateverTheFoldersKept) {
    if (!have_xorriso()) GTEST_SKIP() << "xorriso is not installed: no disc to read";
    const TempDir dir;
    ASSERT_EQ(make_discs(dir), "");
    std::vector<qivpak::QivReader> readers;
    readers.emplace_back((dir / "rr.qiv").string());
    const qivpak::DiscEntry root = qivpak::DiscTree(readers[0]).root();
    qivpak::ImageCache cache(std::move(readers), 4 * kFrame, 2);
    qivpak::DiscFiles files(cache, {root}, 1);
    const struct { const char* path; std::string found; std::uint64_t size; } rows[] = {  // the name found, or "-"
        {"/Docs/Deep/data.bin", "data.bin", 20000}, {"//Docs//readme.txt", "readme.txt", 6}, {"/", "", 2048},
        {"/link", "link", 0}, {"/nope", "-", 0}, {"/empty.bin/x", "-", 0}, {"/Docs/Deep/data.bin", "data.bin", 20000}};
    for (const auto& row : rows) {
        const std::optional<qivpak::DiscEntry> e = files.find(0, row.path);
        EXPECT_EQ(e ? std::pair(e->name, e->size) : std::pair(std::string("-"), std::uint64_t{0}),
                  std::pair(row.found, row.size)) << row.path;
    }
    Bytes got(20010, 0xEE);
    EXPECT_EQ(files.read(0, *files.find(0, "/Docs/Deep/data.bin"), 0, got.data(), got.size()), 20000u);
    EXPECT_TRUE(Bytes(got.begin(), got.begin() + 20000) == deep_data());
}

// qivmount --files: each disc's tree as written, modes read-only, a damaged frame EIO, the left out named.
TEST(Mount, FilesShowEachDiscsTree) {
    if (std::string(QIVMOUNT_BINARY).empty()) GTEST_SKIP() << "qivmount is not built (no libfuse 3)";
    if (run({"sh", "-c", "test -r /dev/fuse && test -w /dev/fuse && command -v fusermount3"}, 10).status != 0 ||
        !have_xorriso())
        GTEST_SKIP() << "no usable /dev/fuse, fusermount3 or xorriso";
    const TempDir dir;
    ASSERT_EQ(make_discs(dir), "");
    const std::string d = dir.path.string(), mnt = d + "/mnt";
    fs::create_directories(mnt);
    const qivpak::DiscEntry data = qivpak::DiscTree(qivpak::QivReader(d + "/rr.qiv")).lookup("/Docs/Deep/data.bin");
    write_file(dir / "bad.qiv", with_damaged_frame(read_file(dir / "rr.qiv"), (data.extents[0].block * 2048 + 19999) / kFrame));
    fs::copy_file(dir / "rr.qiv", dir / "rr.z");
    write_file(dir / "notes", make_image("t", 5000, 3));
    ASSERT_EQ(run_tool(dir, {"notes", "n.qiv"}).status, 0);

    auto daemon = std::async(std::launch::async, run, std::vector<std::string>{QIVMOUNT_BINARY, "--files", "-f",
        d + "/rr.qiv", d + "/j.qiv", d + "/bad.qiv", d + "/rr.z", d + "/n.qiv", mnt}, 60);
    const Unmount unmount{mnt};
    while (!mounted(mnt) && daemon.wait_for(std::chrono::milliseconds(20)) != std::future_status::ready) {}
    ASSERT_TRUE(mounted(mnt)) << daemon.get().err;
    EXPECT_EQ(contents(mnt + "/rr"), contents(dir / "tree"));
    EXPECT_EQ(contents(mnt + "/j"), contents(dir / "jtree"));
    const struct { const char* path; unsigned mode; } modes[] = {  // permission bits, and the kind
        {"rr", 040555}, {"rr/private.txt", 0100440}, {"rr/Docs", 040555}, {"rr/Docs/readme.txt", 0100444},
        {"rr/link", 0120555}, {"j/café.txt", 0100444}, {"j/Ünï", 040555}};
    for (const auto& row : modes) {
        struct stat st {};
        EXPECT_EQ(lstat((mnt + "/" + row.path).c_str(), &st) == 0 ? st.st_mode : 0, row.mode) << row.path;
    }
    std::set<std::string> names;
    for (const auto& entry : fs::directory_iterator(mnt)) names.insert(entry.path().filename());
    EXPECT_EQ(names, (std::set<std::string>{"bad", "j", "rr"}));
    // The damaged frame: EIO, never its bytes; a read reaching it from before gives the bytes before it.
    const int fd = open((mnt + "/bad/Docs/Deep/data.bin").c_str(), O_RDONLY);
    const Bytes whole = deep_data();
    Bytes buf(whole.size());
    EXPECT_EQ(std::pair(pread(fd, buf.data(), 1, 19999), errno), std::pair(ssize_t{-1}, EIO));
    const ssize_t got = pread(fd, buf.data(), buf.size(), 0);
    EXPECT_TRUE(got < 0 ? errno == EIO : got < 19999 && std::equal(buf.begin(), buf.begin() + got, whole.begin())) << got;
    close(fd);
    for (const int flags : {O_WRONLY, O_RDWR, O_RDONLY | O_TRUNC})
        EXPECT_TRUE(open((mnt + "/rr/empty.bin").c_str(), flags) == -1 && (errno == EROFS || errno == EACCES)) << flags;

    EXPECT_EQ(run({"fusermount3", "-u", mnt}, 30).status, 0);
    const ProcessResult ended = daemon.get();
    EXPECT_EQ(std::pair(ended.status, ended.err),
              std::pair(0, "qivmount: leaving out " + d + "/rr.z: its folder name rr is taken by " + d +
                               "/rr.qiv\nqivmount: leaving out " + d + "/n.qiv: not an ISO 9660 disc\n"));
    // What it takes: --files in the help, and at least a SOURCE besides the MOUNTPOINT.
    const ProcessResult help = run({QIVMOUNT_BINARY, "--help"}, 10), lone = run({QIVMOUNT_BINARY, "--files", mnt}, 10);
    EXPECT_NE(help.out.find("\n       qivmount --files [-f] [-o OPTIONS] SOURCE... MOUNTPOINT\n"), std::string::npos);
    EXPECT_EQ(std::pair(lone.status, lone.err.substr(0, 7)), std::pair(1, std::string("usage: ")));
}

}  // namespace
