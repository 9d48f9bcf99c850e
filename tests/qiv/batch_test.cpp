// batch_test.cpp - qiv pack and qiv unpack: command lines with their output, qivpak's bytes, Ctrl-C
#include "io/file.hpp"
#include "support/container.hpp"

#include <gtest/gtest.h>

#include <csignal>

namespace {

using namespace qivtest;

ProcessResult run_qiv(const TempDir& dir, std::vector<std::string> args, const std::string& interrupt_when = "") {
    args.insert(args.begin(), QIV_BINARY);
    return run_process(args, {dir.path.string(), {}, 120, interrupt_when});
}

// 40 frames of noise and a frame of zeros that closes their run: with -a the noise is stored raw, so
// sizes and ratios hardly depend on the zlib build (the zero frame's few bytes aside).
const Bytes kImage = make_image(std::string(40, 'n') + "z", 41 * kFrame, 3);

// What every row starts from: kImage under three names, its container c.qiv (made by qivpak -a) and a
// damaged copy of it (bad.qiv), an output that exists already (old.qiv), and a file that is no container.
const std::set<std::string> kLaidOut = {"a.b.bin", "bad.qiv", "c.qiv", "n.iso", "old.iso", "old.qiv", "text.txt"};
void lay_out(const TempDir& dir) {
    for (const char* name : {"n.iso", "a.b.bin", "old.iso"}) write_file(dir / name, kImage);
    write_file(dir / "old.qiv", "old\n");
    write_file(dir / "text.txt", "not a container\n");
    ASSERT_EQ(run_tool(dir, {"-a", "n.iso", "c.qiv"}).status, 0);
    Bytes bad = read_file(dir / "c.qiv");  // the stream of frame 40, the zeros after the raw noise, damaged
    bad[get_le32(bad, 32 + 4 * 40) + 3] ^= 0x5a;
    write_file(dir / "bad.qiv", bad);
}

const std::string kTableHead = "\ninput  output  in size  out size  ratio  time  result\n";
const std::string kNPacked = "[1/1] n.iso -> n.qiv\n[1/1] n.iso -> n.qiv: packed, 0.3 MB -> 0.3 MB (98.1%) in 0:00\n";
const std::string kHelp = "Run qiv --help for more information.\n";

struct Row {
    std::vector<std::string> args;
    std::string out, err;
    int status;
    std::set<std::string> made;  // files made or replaced: a .qiv holds c.qiv's bytes, any other kImage
};

const Row kRows[] = {
    {{"pack", "-a", "n.iso"},
     kNPacked + kTableHead + "n.iso  n.qiv    0.3 MB    0.3 MB  98.1%  0:00  packed\n1 input: 1 packed\n", "", 0,
     {"n.qiv"}},
    {{"pack", "--analyze", "n.iso", "a.b.bin", "old.iso", "missing.iso"},
     "[1/4] n.iso -> n.qiv\n[1/4] n.iso -> n.qiv: packed, 0.3 MB -> 0.3 MB (98.1%) in 0:00\n"
     "[2/4] a.b.bin -> a.b.qiv\n[2/4] a.b.bin -> a.b.qiv: packed, 0.3 MB -> 0.3 MB (98.1%) in 0:00\n"
     "[3/4] old.iso -> old.qiv: skipped, old.qiv exists (--force replaces it)\n"
     "[4/4] missing.iso -> missing.qiv\n[4/4] missing.iso -> missing.qiv: failed\n\n"
     "input        output       in size  out size  ratio  time  result\n"
     "n.iso        n.qiv         0.3 MB    0.3 MB  98.1%  0:00  packed\n"
     "a.b.bin      a.b.qiv       0.3 MB    0.3 MB  98.1%  0:00  packed\n"
     "old.iso      old.qiv       0.3 MB         -      -     -  skipped: output exists\n"
     "missing.iso  missing.qiv        -         -      -  0:00  failed: Error: cannot open input file missing.iso\n"
     "4 inputs: 2 packed, 1 skipped, 1 failed\n",
     "qiv: missing.iso: Error: cannot open input file missing.iso\n", 1, {"n.qiv", "a.b.qiv"}},
    {{"pack", "-a", "--force", "old.iso"},
     "[1/1] old.iso -> old.qiv\n[1/1] old.iso -> old.qiv: packed, 0.3 MB -> 0.3 MB (98.1%) in 0:00\n\n"
     "input    output   in size  out size  ratio  time  result\n"
     "old.iso  old.qiv   0.3 MB    0.3 MB  98.1%  0:00  packed\n1 input: 1 packed\n",
     "", 0, {"old.qiv"}},
    {{"pack", "-a", "n.iso", "./n.iso"},
     "[1/2] n.iso -> n.qiv\n[1/2] n.iso -> n.qiv: packed, 0.3 MB -> 0.3 MB (98.1%) in 0:00\n"
     "[2/2] ./n.iso -> ./n.qiv: failed\n\n"
     "input    output   in size  out size  ratio  time  result\n"
     "n.iso    n.qiv     0.3 MB    0.3 MB  98.1%  0:00  packed\n"
     "./n.iso  ./n.qiv   0.3 MB         -      -     -  failed: the output ./n.qiv is also the output of n.iso\n"
     "2 inputs: 1 packed, 1 failed\n",
     "qiv: ./n.iso: the output ./n.qiv is also the output of n.iso\n", 1, {"n.qiv"}},
    {{"pack", "-a", "-o", "out", "n.iso"},
     "[1/1] n.iso -> out/n.qiv\n[1/1] n.iso -> out/n.qiv: packed, 0.3 MB -> 0.3 MB (98.1%) in 0:00\n\n"
     "input  output     in size  out size  ratio  time  result\n"
     "n.iso  out/n.qiv   0.3 MB    0.3 MB  98.1%  0:00  packed\n1 input: 1 packed\n",
     "", 0, {"out/n.qiv"}},
    {{"pack", "c.qiv"},
     "[1/1] c.qiv -> c.qiv: failed\n" + kTableHead +
         "c.qiv  c.qiv    0.3 MB         -      -     -  failed: the output c.qiv is the input itself\n1 input: 1 failed\n",
     "qiv: c.qiv: the output c.qiv is the input itself\n", 1, {}},
    {{"unpack", "c.qiv", "text.txt"},
     "[1/2] c.qiv -> c.iso\n[1/2] c.qiv -> c.iso: unpacked, 0.3 MB -> 0.3 MB (98.1%) in 0:00\n"
     "[2/2] text.txt -> text.iso\n[2/2] text.txt -> text.iso: failed\n\n"
     "input     output    in size  out size  ratio  time  result\n"
     "c.qiv     c.iso      0.3 MB    0.3 MB  98.1%  0:00  unpacked\n"
     "text.txt  text.iso   0.0 MB         -      -  0:00  failed: Input is not a valid QIV file.\n"
     "2 inputs: 1 unpacked, 1 failed\n",
     "qiv: text.txt: Input is not a valid QIV file.\n", 1, {"c.iso"}},
    {{"unpack", "bad.qiv"},
     "[1/1] bad.qiv -> bad.iso\n[1/1] bad.qiv -> bad.iso: failed\n\n"
     "input    output   in size  out size  ratio  time  result\n"
     "bad.qiv  bad.iso   0.3 MB         -      -  0:00  failed: frame 40: Error while decompressing (corrupt input?)\n"
     "1 input: 1 failed\n",
     "qiv: bad.qiv: frame 40: Error while decompressing (corrupt input?)\n", 1, {}},
    {{"unpack", "--force", "old.iso"},
     "[1/1] old.iso -> old.iso: failed\n\n"
     "input    output   in size  out size  ratio  time  result\n"
     "old.iso  old.iso   0.3 MB         -      -     -  failed: the output old.iso is the input itself\n"
     "1 input: 1 failed\n",
     "qiv: old.iso: the output old.iso is the input itself\n", 1, {}},
    {{"unpack", "-o", "out/", "c.qiv"},
     "[1/1] c.qiv -> out/c.iso\n[1/1] c.qiv -> out/c.iso: unpacked, 0.3 MB -> 0.3 MB (98.1%) in 0:00\n\n"
     "input  output     in size  out size  ratio  time  result\n"
     "c.qiv  out/c.iso   0.3 MB    0.3 MB  98.1%  0:00  unpacked\n1 input: 1 unpacked\n",
     "", 0, {"out/c.iso"}},
    {{"pack", "--level", "10", "n.iso"}, "", "qiv: --level: Value 10 not in range 0 to 9\n" + kHelp, 2, {}},
    {{"pack", "--analyze=8193", "n.iso"}, "", "qiv: --analyze: Value 8193 not in range 0 to 8192\n" + kHelp, 2, {}},
    {{"pack", "--level", "010", "n.iso"}, "", "qiv: --level: Value 10 not in range 0 to 9\n" + kHelp, 2, {}},
    {{"pack", "--analyze=0x10", "n.iso"}, "", "qiv: --analyze: Value '0x10' is not a decimal number\n" + kHelp, 2, {}},
    {{"unpack"}, "", "qiv: containers is required\n" + kHelp, 2, {}},
    {{"frob", "n.iso"}, "", "qiv: 'frob' is not a command: info, verify, pack, unpack, report, rename, cat, ls or extract\n" + kHelp, 2, {}},
    // An option of qiv itself is no option of a command.
    {{"pack", "--version", "n.iso"}, "", "qiv: The following argument was not expected: --version\n" + kHelp, 2, {}},
};

TEST(Batch, CommandLinesPrintTheirOutcomesAndMakeOnlyWholeOutputs) {
    for (const Row& row : kRows) {
        SCOPED_TRACE(testing::PrintToString(row.args));
        TempDir dir;
        lay_out(dir);
        const ProcessResult r = run_qiv(dir, row.args);
        EXPECT_EQ(r.out, row.out);
        EXPECT_EQ(r.err, row.err);
        EXPECT_EQ(r.status, row.status);
        // Nothing else is left behind (no temporary file), and what exists is whole.
        std::set<std::string> files = kLaidOut;
        for (const std::string& name : row.made) {
            files.insert(name);
            if (name.find('/') != std::string::npos) files.insert(name.substr(0, name.find('/')));
            const bool container = name.ends_with(".qiv");
            EXPECT_TRUE(read_file(dir / name) == (container ? read_file(dir / "c.qiv") : kImage)) << name;
        }
        EXPECT_EQ(dir.files(), files);
        if (!row.made.contains("old.qiv")) {
            EXPECT_EQ(read_text(dir / "old.qiv"), "old\n");
        }
    }
}

TEST(Batch, PackWritesTheBytesQivpakWritesWithTheSameOptions) {
    const std::pair<std::vector<std::string>, std::vector<std::string>> rows[] = {
        {{}, {}},
        {{"--level", "9"}, {"-l9"}},
        {{"--analyze=4096", "--threads", "1"}, {"-a4096"}},
        {{"-a3000"}, {"-a3000"}},
        {{"--movies"}, {"-v"}},
        {{"--audio", "--level=1"}, {"-s", "-l1"}},
        {{"--media", "--analyze"}, {"-v", "-s", "-a"}},
    };
    TempDir dir;
    write_file(dir / "game.iso", make_image("tmnzt", 30 * kFrame + 100, 5));
    for (const auto& [qiv_options, qivpak_options] : rows) {
        SCOPED_TRACE(testing::PrintToString(qiv_options));
        std::vector<std::string> args = {"pack", "--force", "game.iso"};
        args.insert(args.end(), qiv_options.begin(), qiv_options.end());
        ASSERT_EQ(run_qiv(dir, args).status, 0);
        args = qivpak_options;
        args.insert(args.end(), {"game.iso", "expected.qiv"});
        ASSERT_EQ(run_tool(dir, args).status, 0);
        EXPECT_TRUE(read_file(dir / "game.qiv") == read_file(dir / "expected.qiv"));
    }
}

TEST(Batch, CtrlCKeepsTheFinishedOutputAndLeavesNothingOfTheCurrentOne) {
    TempDir dir;
    write_file(dir / "a.iso", kImage);
    write_file(dir / "b.iso", make_image("t", 16 << 20, 7));  // at level 9 on one thread it takes seconds
    write_file(dir / "c.iso", kImage);
    write_file(dir / "b.qiv", "good\n");
    // Interrupted once b's start line is out: a.qiv is in place, b's temporary file exists.
    const ProcessResult r = run_qiv(dir, {"pack", "-a", "--force", "--level", "9", "--threads", "1", "a.iso", "b.iso", "c.iso"},
                                    "[2/3] b.iso -> b.qiv\n");
#ifdef _WIN32
    EXPECT_EQ(r.status, static_cast<int>(0xC000013A));  // STATUS_CONTROL_C_EXIT
#else
    EXPECT_EQ(r.status, 1000 + SIGINT);
#endif
    EXPECT_NE(r.out.find("[2/3] b.iso -> b.qiv: interrupted\n\n"), std::string::npos) << r.out;
    EXPECT_NE(r.out.find("\nc.iso  c.qiv    0.3 MB         -      -     -  not started\n"), std::string::npos) << r.out;
    EXPECT_TRUE(r.out.ends_with("\n3 inputs: 1 packed, 1 interrupted, 1 not started\n")) << r.out;
    EXPECT_EQ(dir.files(), (std::set<std::string>{"a.iso", "a.qiv", "b.iso", "b.qiv", "c.iso"}));
    EXPECT_EQ(read_text(dir / "b.qiv"), "good\n");
    Parsed parsed;
    ASSERT_EQ(parse_container(read_file(dir / "a.qiv"), 9, parsed), "");
    EXPECT_TRUE(parsed.image == kImage);
}

}  // namespace

namespace {

// What a killed run left (a temporary file nobody claims) goes with the next run of the same output,
// with a word; the temporary file of a run still going (claimed), and those of other outputs, stay.
TEST(Batch, TheLeftoverOfAKilledRunIsRemovedByTheNextRunOfItsOutput) {
    TempDir dir;
    lay_out(dir);
    write_file(dir / ".n.qiv.part-k1ll3d", "half a container");
    write_file(dir / ".c.iso.part-k1ll3d", "another output's");
    qivpak::IoStatus status;
    const std::optional<qivpak::ClaimedFile> live =
        qivpak::ClaimedFile::create((dir / ".n.qiv.part-l1v3ly").string(), status);
    ASSERT_TRUE(live) << status.reason();
    const ProcessResult r = run_qiv(dir, {"pack", "-a", "n.iso"});
    EXPECT_EQ(r.err, "qiv: removed .n.qiv.part-k1ll3d, left by a run of n.qiv that did not finish\n");
    EXPECT_EQ(r.status, 0);
    std::set<std::string> files = kLaidOut;
    files.insert({"n.qiv", ".n.qiv.part-l1v3ly", ".c.iso.part-k1ll3d"});
    EXPECT_EQ(dir.files(), files);
}

}  // namespace
