// batch_posix_test.cpp - qiv pack with its outputs on a full device, and its progress bars on a terminal
#include "qiv/utf8.hpp"
#include "support/support.hpp"

#include <gtest/gtest.h>
#include <pty.h>
#include <sys/mount.h>
#include <sys/wait.h>
#include <unistd.h>

namespace {

using namespace qivtest;

// A folder that holds 256 KiB at most: a tmpfs mounted on it where the test may mount (as root), else
// an ordinary folder, and the run's files are then limited to that size instead (RLIMIT_FSIZE, with
// SIGXFSZ ignored so that a write past it fails with EFBIG).
struct SmallDevice {
    fs::path path;
    bool mounted;
    explicit SmallDevice(fs::path folder)
        : path((fs::create_directory(folder), folder)), mounted(mount("tmpfs", path.c_str(), "tmpfs", 0, "size=256k") == 0) {}
    ~SmallDevice() {
        if (mounted) umount2(path.c_str(), MNT_DETACH);
    }
    std::vector<std::string> command(const std::vector<std::string>& args) const {
        std::vector<std::string> argv = {QIV_BINARY};
        if (!mounted) argv = {"/bin/sh", "-c", "trap '' XFSZ; exec prlimit --fsize=262144 \"$@\"", "sh", QIV_BINARY};
        argv.insert(argv.end(), args.begin(), args.end());
        return argv;
    }
};

TEST(BatchPosix, AFullDeviceFailsOneInputAndLeavesNoPartOfItNorReplacesWhatWasThere) {
    TempDir dir;
    write_file(dir / "small.iso", make_image("zt", 20000, 1));
    write_file(dir / "big.iso", make_image("n", 48 * kFrame, 2));  // its container needs more than 256 KiB
    write_file(dir / "last.iso", make_image("tz", 20000, 3));
    const SmallDevice device(dir / "full");
    write_file(dir / "full/big.qiv", "good\n");
    SCOPED_TRACE(device.mounted ? "tmpfs" : "RLIMIT_FSIZE");
    const ProcessResult r =
        run_process(device.command({"pack", "--force", "-o", "full", "small.iso", "big.iso", "last.iso"}), {dir.path.string(), {}, 120, {}});
    // The system's reason, beside the library's words.
    EXPECT_EQ(r.err, std::string("qiv: big.iso: I/O write error: ") +
                         (device.mounted ? "No space left on device\n" : "File too large\n"));
    EXPECT_EQ(r.status, 1);
    EXPECT_TRUE(r.out.ends_with("3 inputs: 2 packed, 1 failed\n")) << r.out;
    std::set<std::string> left;
    for (const auto& entry : fs::directory_iterator(device.path)) left.insert(entry.path().filename().string());
    EXPECT_EQ(left, (std::set<std::string>{"big.qiv", "last.qiv", "small.qiv"}));
    EXPECT_EQ(read_text(device.path / "big.qiv"), "good\n");
}

// What `qiv pack -a IMAGE` in `dir` writes to a pseudo-terminal of `columns` columns (0: the default size);
// the run must end with status 0.
std::string pack_on_terminal(const TempDir& dir, const std::string& image, unsigned short columns) {
    int terminal = -1;
    winsize size{};
    size.ws_row = 24;
    size.ws_col = columns;
    const pid_t pid = forkpty(&terminal, nullptr, nullptr, columns > 0 ? &size : nullptr);
    if (pid < 0) return "forkpty failed";
    if (pid == 0) {
        if (chdir(dir.path.c_str()) == 0) execl(QIV_BINARY, QIV_BINARY, "pack", "-a", image.c_str(), nullptr);
        _exit(127);
    }
    std::string bytes;
    char buf[4096];
    for (ssize_t got; (got = read(terminal, buf, sizeof buf)) > 0;) bytes.append(buf, static_cast<std::size_t>(got));
    close(terminal);
    int status = -1;
    EXPECT_EQ(waitpid(pid, &status, 0), pid);
    EXPECT_EQ(status, 0);
    return bytes;
}

TEST(BatchPosix, OnATerminalEachInputHasABarThatItsEndLineReplaces) {
    TempDir dir;
    write_file(dir / "n.iso", make_image("nnz", 3 * kFrame, 4));
    const std::string bytes = pack_on_terminal(dir, "n.iso", 0);
    // The terminal turns "\n" into "\r\n". Each stage draws at its start and at its end at least; the
    // bar is then blanked, and the end line printed from the line's start.
    for (const char* expected : {"\r[1/1] n.iso: analysis   0.0% [....................]",
                                 "\r[1/1] n.iso: packing 100.0% [####################] ",
                                 " \r[1/1] n.iso -> n.qiv: packed, 0.0 MB -> 0.0 MB ("})
        EXPECT_NE(bytes.find(expected), std::string::npos) << expected << " in " << testing::PrintToString(bytes);
    EXPECT_EQ(bytes.find("[1/1] n.iso -> n.qiv\r\n"), std::string::npos) << "a start line, as when not on a terminal";
}

}  // namespace

namespace {

// A folder of outputs that cannot be made (a name longer than the system takes) fails each input with the
// system's reason, and nothing is left; a folder is made only for an output that is written.
TEST(BatchPosix, AFolderOfOutputsIsMadeOnlyWhenNeededAndOneThatCannotBeFailsWithItsReason) {
    TempDir dir;
    write_file(dir / "n.iso", make_image("z", 20000, 1));
    const std::string folder(300, 'd');
    const ProcessOptions here{dir.path.string(), {}, 120, {}};
    const ProcessResult r = run_process({QIV_BINARY, "pack", "-o", folder, "n.iso"}, here);
    EXPECT_EQ(r.err, "qiv: n.iso: cannot create the folder " + folder + ": File name too long\n");
    EXPECT_EQ(r.status, 1);
    const ProcessResult missing = run_process({QIV_BINARY, "pack", "-o", "out", "missing.iso"}, here);
    EXPECT_EQ(missing.status, 1);
    EXPECT_EQ(dir.files(), (std::set<std::string>{"n.iso"}));  // no "out" for an input that failed
}

}  // namespace

namespace {

// A name that is not UTF-8 (possible on POSIX only) keeps qiv's JSON valid and is given exactly beside.
TEST(BatchPosix, JsonOfANameThatIsNotUtf8IsValidAndGivesTheNameAsHex) {
    TempDir dir;
    write_file(dir / "n.iso", make_image("z", 20000, 1));
    ASSERT_EQ(run_tool(dir, {"n.iso", "bad\xff.qiv"}).status, 0);
    const ProcessResult r = run_process({QIV_BINARY, "info", "--json", "bad\xff.qiv"}, {dir.path.string(), {}, 60, {}});
    EXPECT_EQ(r.status, 0);
    EXPECT_TRUE(r.out.starts_with("[\n  {\"file\": \"bad\xef\xbf\xbd.qiv\", \"file_hex\": \"626164ff2e716976\", \"image_size\": 20000"))
        << r.out;
}

}  // namespace

namespace {

// A private image stays private through qivpak and qiv; qiv's outputs keep their input's mode and time.
TEST(BatchPosix, OutputsAreNeverMoreReadableThanTheirInputAndQivKeepsModeAndTime) {
    TempDir dir;
    const fs::path image = dir / "p.iso";
    write_file(image, make_image("tz", 20000, 1));
    fs::permissions(image, fs::perms(0600));
    const auto mtime = fs::last_write_time(image) - std::chrono::hours(48);
    fs::last_write_time(image, mtime);
    fs::create_directory(dir / "out");
    write_file(dir / "out/p.qiv", "old\n");  // replaced with --force: its 0644 must not stay
    fs::permissions(dir / "out/p.qiv", fs::perms(0644));
    const auto mode = [&](const char* name) { return fs::status(dir / name).permissions() & fs::perms::all; };

    ASSERT_EQ(run_tool(dir, {"p.iso", "tool.qiv"}).status, 0);
    EXPECT_EQ(mode("tool.qiv") & fs::perms(0044), fs::perms::none) << "qivpak's container is readable by others";
    ASSERT_EQ(run_tool(dir, {"-d", "tool.qiv", "tool.iso"}).status, 0);
    EXPECT_EQ(mode("tool.iso") & fs::perms(0044), fs::perms::none);

    const ProcessOptions here{dir.path.string(), {}, 60, {}};
    ASSERT_EQ(run_process({QIV_BINARY, "pack", "--force", "-o", "out", "p.iso"}, here).status, 0);
    EXPECT_EQ(mode("out/p.qiv"), fs::perms(0600));
    EXPECT_EQ(fs::last_write_time(dir / "out/p.qiv"), mtime);
    ASSERT_EQ(run_process({QIV_BINARY, "unpack", "-o", "back", "out/p.qiv"}, here).status, 0);
    EXPECT_EQ(mode("back/p.iso"), fs::perms(0600));
    EXPECT_EQ(fs::last_write_time(dir / "back/p.iso"), mtime);
    EXPECT_TRUE(read_file(dir / "back/p.iso") == read_file(image));
}

}  // namespace

namespace {

// A drive is packed at its medium's size, to the very bytes of packing its image file (needs root for a
// loop device; skipped where none can be made).
TEST(BatchPosix, ADriveIsPackedAsItsImageFileIs) {
    TempDir dir;
    write_file(dir / "disc.img", make_image("tnz", 256 * kFrame, 3));
    const ProcessOptions here{dir.path.string(), {}, 60, {}};
    const ProcessResult attached = run_process({"/usr/bin/env", "losetup", "-f", "--show", "disc.img"}, here);
    if (attached.status != 0) GTEST_SKIP() << "skipped: no loop device can be made here: " << attached.err;
    const std::string device = attached.out.substr(0, attached.out.find('\n'));
    struct Detach {
        std::string device;
        ~Detach() { run_process({"/usr/bin/env", "losetup", "-d", device}, {}); }
    } detach{device};
    ASSERT_EQ(run_tool(dir, {"disc.img", "file.qiv"}).status, 0);
    ASSERT_EQ(run_tool(dir, {device, "drive.qiv"}).status, 0);
    EXPECT_TRUE(read_file(dir / "drive.qiv") == read_file(dir / "file.qiv"));
    ASSERT_EQ(run_process({QIV_BINARY, "pack", device, "-o", "out"}, here).status, 0);
    EXPECT_TRUE(read_file(dir / "out" / (fs::path(device).filename().string() + ".qiv")) == read_file(dir / "file.qiv"));
}

}  // namespace

namespace {

// Outputs whose names take all 255 bytes a name may have, in ASCII and in characters of 3 bytes.
TEST(BatchPosix, OutputsOfTheLongestNamesAreMade) {
    std::string cjk = "a";
    for (int i = 0; i < 83; ++i) cjk += "\xe6\x97\xa5";  // 250 bytes
    for (const std::string& stem : {std::string(251, 'n'), cjk}) {
        SCOPED_TRACE(stem.size());
        TempDir dir;
        write_file(dir / (stem + ".iso"), make_image("tz", 20000, 1));
        const ProcessOptions here{dir.path.string(), {}, 60, {}};
        const ProcessResult packed = run_process({QIV_BINARY, "pack", stem + ".iso", "-o", "out"}, here);
        EXPECT_EQ(std::pair(packed.status, packed.err), std::pair(0, std::string()));
        const ProcessResult unpacked = run_process({QIV_BINARY, "unpack", "out/" + stem + ".qiv", "-o", "back"}, here);
        EXPECT_EQ(std::pair(unpacked.status, unpacked.err), std::pair(0, std::string()));
        EXPECT_EQ(dir.files(), (std::set<std::string>{stem + ".iso", "out", "out/" + stem + ".qiv", "back",
                                                      "back/" + stem + ".iso"}));
    }
}

}  // namespace

namespace {

// On a terminal of 30 columns no drawing of the bar reaches the last column, so none wraps.
TEST(BatchPosix, OnANarrowTerminalTheBarNeverWraps) {
    TempDir dir;
    const std::string name = "\xe6\x97\xa5\xe6\x9c\xac\xe8\xaa\x9e-disc.iso";  // wide characters count twice
    write_file(dir / name, make_image("nnz", 3 * kFrame, 4));
    const std::string bytes = pack_on_terminal(dir, name, 30);
    std::size_t bars = 0;
    for (std::size_t at = bytes.find('\r'); at != std::string::npos; at = bytes.find('\r', at + 1)) {
        const std::string drawn = bytes.substr(at + 1, bytes.find_first_of("\r\n", at + 1) - at - 1);
        if (drawn.find(": ") == std::string::npos) continue;  // not a bar: an end line, or blanks
        if (drawn.find(" -> ") != std::string::npos) continue;
        ++bars;
        EXPECT_LE(qiv::columns_of(drawn), 29u) << testing::PrintToString(drawn);
    }
    EXPECT_GT(bars, 0u) << testing::PrintToString(bytes);
}

}  // namespace

namespace {

// A run killed outright (SIGKILL, as a power cut would end it) leaves no file: the output has no name
// until it is complete.
TEST(BatchPosix, ARunKilledOutrightLeavesNoFile) {
    TempDir dir;
    write_file(dir / "big.iso", make_image(std::string(64, 'n'), 64 * 1048576, 6));
    const pid_t pid = fork();
    ASSERT_GE(pid, 0);
    if (pid == 0) {
        const int null = open("/dev/null", O_WRONLY);
        if (null >= 0 && dup2(null, 1) == 1 && chdir(dir.path.c_str()) == 0)
            execl(QIV_BINARY, QIV_BINARY, "pack", "-a", "--level", "9", "--threads", "1", "big.iso", "-o", "out",
                  nullptr);
        _exit(127);
    }
    usleep(500000);  // well into the analysis of 8192 frames at level 9 on one thread
    kill(pid, SIGKILL);
    int status = -1;
    ASSERT_EQ(waitpid(pid, &status, 0), pid);
    ASSERT_TRUE(WIFSIGNALED(status)) << "the run ended before it was killed: make the image larger";
    std::set<std::string> left = dir.files();
    left.erase("out");  // the folder for the outputs may stay; nothing in it
    EXPECT_EQ(left, (std::set<std::string>{"big.iso"}));
}

}  // namespace
