// extract_test.cpp - qiv extract and ls beside bsdtar and pycdlib, hostile discs laid by hand, the Windows name rules
#include "qiv/disc_names.hpp"
#include "support/disc_fixtures.hpp"
#include "support/iso_image.hpp"

#include <gtest/gtest.h>

#ifndef _WIN32
#include <sys/stat.h>
#endif

namespace {

using namespace qivtest;

const std::string kBsdtar = "/usr/bin/bsdtar", kPython = "/usr/bin/python3";

ProcessResult qiv(const TempDir& dir, std::vector<std::string> args) {
    args.insert(args.begin(), QIV_BINARY);
    return run_process(args, {dir.path.string(), {}, 60, {}});
}

fs::path u8(const std::string& name) { return fs::path(std::u8string(name.begin(), name.end())); }

// Every entry below `root`: its type, mode (when `modes`), modification time, and bytes or target.
std::map<std::string, std::string> tree_of(const fs::path& root, bool modes) {
    std::map<std::string, std::string> tree;
    for (const auto& e : fs::recursive_directory_iterator(root)) {
        const fs::file_status status = fs::symlink_status(e.path());
        std::string text = fs::is_symlink(status) ? "l -> " + fs::read_symlink(e.path()).generic_string()
                           : fs::is_directory(status) ? "d" : "f " + read_text(e.path());
        if (modes && !fs::is_symlink(status)) text += " mode " + std::to_string(static_cast<int>(status.permissions()));
#ifndef _WIN32
        struct stat st{};
        ::lstat(e.path().c_str(), &st);
        text += " time " + std::to_string(st.st_mtime);
#endif
        tree[fs::relative(e.path(), root).generic_string()] = text;
    }
    return tree;
}

// The Rock Ridge entries of a hand-laid record: its name (NM), and its target when a symlink (SL).
Bytes rock_ridge(const std::string& name, const std::string& target = "") {
    Bytes su = {'N', 'M', static_cast<std::uint8_t>(5 + name.size()), 1, 0};
    su.insert(su.end(), name.begin(), name.end());
    if (target.empty()) return su;
    Bytes parts;
    for (std::size_t at = 0; at <= target.size();) {
        const std::size_t end = std::min(target.find('/', at), target.size());
        const std::string part = target.substr(at, end - at);
        parts.push_back(part.empty() ? 0x08 : part == ".." ? 0x04 : part == "." ? 0x02 : 0);  // root, parent, self
        const std::string text = part == ".." || part == "." ? "" : part;
        parts.push_back(static_cast<std::uint8_t>(text.size()));
        parts.insert(parts.end(), text.begin(), text.end());
        at = end + 1;
    }
    su.insert(su.end(), {'S', 'L', static_cast<std::uint8_t>(5 + parts.size()), 1, 0});
    su.insert(su.end(), parts.begin(), parts.end());
    return su;
}

// Lays the records in the root, then packs the disc to NAME.qiv: a file of `bytes`, a symlink to `target`, or a
// folder holding the file "passwd" of `bytes`.
struct Laid {
    std::string name, target, bytes;
    bool folder = false;
};
void pack_hand_disc(const TempDir& dir, const std::string& name, const std::vector<Laid>& records) {
    HandDisc disc(48);
    std::uint64_t at = disc.rock_ridge_root();
    std::uint32_t sector = 24;
    for (const Laid& r : records) {
        const std::uint32_t data = r.folder ? sector + 1 : sector;
        std::copy(r.bytes.begin(), r.bytes.end(), disc.bytes.begin() + data * SECTOR_SIZE);
        const auto size = static_cast<std::uint32_t>(r.bytes.size());
        if (r.folder) disc.put_su(disc.dir(sector, 20), "P", data, size, false, rock_ridge("passwd"));
        at = disc.put_su(at, "R" + std::to_string(sector), sector, r.folder ? SECTOR_SIZE : size, r.folder,
                         rock_ridge(r.name, r.target));
        sector = data + 1;
    }
    write_file(dir / (name + ".iso"), disc.bytes);
    ASSERT_EQ(run_tool(dir, {name + ".iso", name + ".qiv"}).status, 0);
}

TEST(QivExtract, WritesWhatBsdtarWrites) {
    if (!have_xorriso() || !fs::exists(kBsdtar)) GTEST_SKIP() << "xorriso or bsdtar is not installed";
    const TempDir dir;
    ASSERT_EQ(make_discs(dir), "");
    const std::pair<std::string, std::string> discs[] = {{"rr", "7"}, {"deep", "11"}, {"j", "4"}};
    for (const auto& [disc, count] : discs) {
        const std::string mine = disc == "rr" ? "rr" : "q/" + disc;  // rr: the default folder beside it
        std::vector<std::string> args = {"extract", disc + ".qiv"};
        if (disc != "rr") args.insert(args.end(), {"-o", mine});
        const ProcessResult run = qiv(dir, args);
        EXPECT_EQ(run.status, 0) << disc;
        EXPECT_EQ(run.err, "") << disc;
        EXPECT_EQ(run.out, disc + ".qiv -> " + mine + ": " + count + " extracted\n");
        // bsdtar refuses the relocated folders of deep.iso: the folder it was made from stands for it there.
        const fs::path theirs = disc == "deep" ? dir / "dtree" : dir / "b" / disc;
        fs::create_directories(theirs);
        if (disc != "deep") {
            const ProcessResult tar = run_process({kBsdtar, "-x", "-f", (dir / (disc + ".iso")).string(), "-C", theirs.string()});
            ASSERT_EQ(tar.status, 0) << disc << ": " << tar.err;
        }
        EXPECT_EQ(tree_of(dir / mine, disc != "j"), tree_of(theirs, disc != "j")) << disc;  // no modes without Rock Ridge
    }
}

// qiv ls's paths and file sizes are bsdtar's and pycdlib's.
TEST(QivExtract, LsListsWhatBsdtarAndPycdlibList) {
    if (!have_xorriso() || !fs::exists(kBsdtar) || run_process({kPython, "-c", "import pycdlib"}).status != 0)
        GTEST_SKIP() << "xorriso, bsdtar or pycdlib is not installed";
    const TempDir dir;
    ASSERT_EQ(make_discs(dir), "");
    const std::string pycdlib =
        "import pycdlib, sys\n"
        "iso = pycdlib.PyCdlib(); iso.open(sys.argv[1]); kind = sys.argv[2] + '_path'\n"
        "for top, dirs, files in iso.walk(**{kind: '/'}):\n"
        "    for n in dirs: print((top.rstrip('/') + '/' + n)[1:] + '/ 0')\n"
        "    for n in files: print((top.rstrip('/') + '/' + n)[1:], iso.get_record(**{kind: top.rstrip('/') + '/' + n}).get_data_length())\n";
    for (const auto& [disc, kind] : {std::pair<std::string, std::string>{"rr", "rr"}, {"j", "joliet"}}) {
        std::set<std::string> mine, bsdtar, python;
        std::istringstream ls(qiv(dir, {"ls", "-l", disc + ".qiv"}).out), tar(run_process({kBsdtar, "-tvf", (dir / (disc + ".iso")).string()}).out),
            py(run_process({kPython, "-c", pycdlib, (dir / (disc + ".iso")).string(), kind}).out);
        for (std::string line; std::getline(ls, line);) {
            std::istringstream f(line);
            std::string mode, size, day, time, path;
            f >> mode >> size >> day >> time >> path;
            mine.insert(path + " " + (mode[0] == 'd' ? "0" : size));
        }
        for (std::string line; std::getline(tar, line);) {
            std::istringstream f(line);
            std::string mode, links, uid, gid, size, month, day, year, path;
            f >> mode >> links >> uid >> gid >> size >> month >> day >> year >> path;
            if (path != ".") bsdtar.insert(path + (mode[0] == 'd' ? "/ 0" : " " + size));
        }
        for (std::string line; std::getline(py, line);) python.insert(line);
        EXPECT_EQ(mine, bsdtar) << disc;
        EXPECT_EQ(mine, python) << disc;
        EXPECT_EQ(mine.size(), disc == "rr" ? 7u : 4u);
    }
}

// Paths asked for, files that exist, -f, and what is no disc.
TEST(QivExtract, PathsExistingFilesAndForce) {
    if (!have_xorriso()) GTEST_SKIP() << "xorriso is not installed: no disc to extract";
    const TempDir dir;
    ASSERT_EQ(make_discs(dir), "");
    write_file(dir / "zeros.qiv", std::string(100, 'z'));
    struct Row {
        std::vector<std::string> args;
        std::string out, err;
        int status;
        std::string private_txt;  // sel/private.txt after the run
    };
    const std::string sel = "rr.qiv -> sel: ";
    const Row rows[] = {
        {{"-o", "sel/", "rr.qiv", "/Docs/Deep", "private.txt", "nope"}, sel + "3 extracted\n", "qiv: rr.qiv: nope: no such file or folder\n", 1, "secret"},
        {{"-o", "sel", "rr.qiv", "Docs/Deep", "private.txt"}, sel + "0 extracted, 2 skipped (2 existing: --force replaces them)\n", "", 0, "changed"},
        {{"-f", "--threads", "1", "-o", "sel", "rr.qiv", "Docs/Deep", "private.txt"}, sel + "2 extracted\n", "", 0, "secret"},
        {{"noext"}, "", "qiv: noext: has no extension to drop for the folder to extract to: name one with -o\n", 2, "changed"},
        {{"zeros.qiv"}, "", "qiv: zeros.qiv: Input is not a valid QIV file.\n", 1, "changed"},
        {{"-o", "sel/private.txt", "rr.qiv", "empty.bin"}, "",
         "qiv: rr.qiv: cannot create the folder sel/private.txt: Not a directory\n", 1, "changed"},
    };
    for (const Row& row : rows) {
        std::vector<std::string> args = row.args;
        args.insert(args.begin(), "extract");
        const ProcessResult run = qiv(dir, args);
        EXPECT_EQ(run.out, row.out) << row.out;
        EXPECT_EQ(run.err, row.err) << row.out;
        EXPECT_EQ(run.status, row.status) << row.out;
        EXPECT_EQ(read_text(dir / "sel" / "private.txt"), row.private_txt) << row.out;
        write_file(dir / "sel" / "private.txt", std::string("changed"));
    }
    EXPECT_EQ(read_file(dir / "sel/Docs/Deep/data.bin"), deep_data());
    EXPECT_FALSE(fs::exists(dir / "sel/empty.bin"));
    EXPECT_FALSE(fs::exists(dir / "zeros"));
}

#ifndef _WIN32
// Symlinks out of the folder, names no file can have, a symlink on the way, and a name twice: refused or skipped,
// the rest extracted, nothing written outside.
TEST(QivExtract, HostileDiscsWriteNothingOutsideTheFolder) {
    const TempDir dir;
    pack_hand_disc(dir, "bad", {{"up", "../outside", ""}, {"abs", "/etc", ""}, {"x/y", "", "slash"}, {"..", "", "dots"},
                                {"a", ".", ""}, {"a", "", "owned", true}, {"b", "", "owned", true}, {"twice", "", "one"}, {"twice", "", "two"},
                                {"ok", "", "fine"}});
    const std::string refusals =
        "qiv: bad.qiv: /up: a symlink that leads out of the folder (-> ../outside); not extracted\n"
        "qiv: bad.qiv: /abs: a symlink that leads out of the folder (-> /etc); not extracted\n"
        "qiv: bad.qiv: /x/y: a name no file can have; not extracted\n"
        "qiv: bad.qiv: /..: a name no file can have; not extracted\n";
    struct Row {
        std::vector<std::string> args;
        std::string out, err, twice;
        bool a_is_link;
        bool b_a_link_first;  // bad/b made a symlink out of the folder before the run
    };
    const Row rows[] = {
        // The folder "a" finds the symlink "a" in its place: skipped with what it holds.
        {{"bad.qiv"}, "bad.qiv -> bad: 5 extracted, 3 skipped, 4 refused (2 existing: --force replaces them)\n", refusals, "one", true, false},
        {{"-f", "bad.qiv", "b/passwd"}, "bad.qiv -> bad: 0 extracted, 1 refused\n",
         "qiv: bad.qiv: /b/passwd: its way passes through the symlink bad/b; not extracted\n", "one", true, true},
        {{"-f", "bad.qiv"}, "bad.qiv -> bad: 8 extracted, 4 refused\n", refusals, "two", false, false},
    };
    for (const Row& row : rows) {
        std::vector<std::string> args = row.args;
        args.insert(args.begin(), "extract");
        if (row.b_a_link_first) {
            fs::remove_all(dir / "bad/b");
            fs::create_directory_symlink("../elsewhere", dir / "bad/b");
        }
        const ProcessResult run = qiv(dir, args);
        EXPECT_EQ(run.out, row.out);
        EXPECT_EQ(run.err, row.err);
        EXPECT_EQ(run.status, 1);
        EXPECT_EQ(read_text(dir / "bad/twice"), row.twice);
        EXPECT_EQ(fs::is_symlink(dir / "bad/a"), row.a_is_link);
    }
    EXPECT_EQ(read_text(dir / "bad/a/passwd"), "owned");
    EXPECT_EQ(read_text(dir / "bad/b/passwd"), "owned");
    EXPECT_EQ(dir.files(), (std::set<std::string>{"bad", "bad.iso", "bad.qiv", "bad/a", "bad/a/passwd", "bad/b",
                                                  "bad/b/passwd", "bad/ok", "bad/twice"}));
}
#endif

// Names in UTF-8 (accents, CJK) through ls, extract and cat PATH, on every system; and on Windows the refusals of
// names it cannot hold, and of symlinks.
TEST(QivExtract, NonAsciiNamesAndWhatWindowsCannotHold) {
    const TempDir dir;
    pack_hand_disc(dir, "names", {{"café.txt", "", "crème"}, {"日本語.txt", "", "漢字"}, {"con.txt", "", "c"}, {"l", "café.txt", ""}});
    const ProcessResult ls = qiv(dir, {"ls", "names.qiv"});
    EXPECT_EQ(ls.out, "café.txt\n日本語.txt\ncon.txt\nl\n");
    const ProcessResult cat = qiv(dir, {"cat", "names.qiv", "/日本語.txt"});
    EXPECT_EQ(cat.out, "漢字") << cat.err;
    const ProcessResult run = qiv(dir, {"extract", "names.qiv", "-o", "ñ"});
#ifdef _WIN32
    EXPECT_EQ(run.err,
              "qiv: names.qiv: /con.txt: a name Windows cannot hold; not extracted\n"
              "qiv: names.qiv: /l: a symlink, which qiv does not make on Windows; skipped\n");
    EXPECT_EQ(run.out, "names.qiv -> ñ: 2 extracted, 1 skipped, 1 refused\n");
    EXPECT_EQ(run.status, 1);
#else
    EXPECT_EQ(run.err, "");
    EXPECT_EQ(run.out, "names.qiv -> ñ: 4 extracted\n");
    EXPECT_EQ(read_text(dir.path / u8("ñ/con.txt")), "c");
#endif
    EXPECT_EQ(read_text(dir.path / u8("ñ/café.txt")), "crème");
    EXPECT_EQ(read_text(dir.path / u8("ñ/日本語.txt")), "漢字");
}

TEST(QivExtract, NamesWindowsCannotHoldAndSymlinksThatLeave) {
    const std::pair<std::string, bool> names[] = {
        {"readme.txt", false}, {"CON", true},      {"con.txt", true},   {"Lpt1.tar.gz", true}, {"nul .txt", true},
        {"COM9", true},        {"COM0", false},    {"console", false},  {"LPT10", false},      {"a<b", true},
        {"a:b", true},         {"a\\b", true},     {"q?", true},        {"\x1f", true},        {"dot.", true},
        {"space ", true},      {"日本語.txt", false}, {".hidden", false}, {"", true},
    };
    for (const auto& [name, refused] : names) EXPECT_EQ(qiv::windows_cannot_hold(name), refused) << name;
    const std::tuple<std::size_t, std::string, bool> links[] = {
        {0, "a/b", false}, {0, "..", true},         {0, "/etc", true},       {1, "..", false},    {1, "../..", true},
        {2, "x/../../y", true}, {1, "l/..", true}, {2, "../../y", false}, {0, "a/../../b", true}, {0, "./.", false}, {3, "../../../", false}, {0, "", false},
    };
    for (const auto& [depth, target, leaves] : links) EXPECT_EQ(qiv::symlink_leaves(depth, target), leaves) << target;
}

}  // namespace
