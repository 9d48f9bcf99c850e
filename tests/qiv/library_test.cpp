// library_test.cpp - qiv report and qiv rename over a collection, and folders given as inputs
#include "qiv/inputs.hpp"
#include "support/support.hpp"

#include <qivpak/pack.hpp>

#include <gtest/gtest.h>

namespace {

using namespace qivtest;

// Images of 9000 bytes of one letter; their hashes worked out with Python's hashlib and zlib.crc32.
//   a: crc 27382900, md5 42d69d1a6d333a7ebdf64792a555e392, sha1 19e99ac88aa88b788c75d3b4b09cddb48508de1e
//   b: md5 4a847a25439532bf48b68c9e9536ed5b, sha1 a5274e55d65984bfeecd7bcb506e0fbc06e14b32
//   c: sha1 478b98552ac422adac10290c9e12b33856a8163f    d: crc 71c01780, md5 2e26ad0e8b8e123d18c2d20c81cab0a8,
//   e: sha1 66ffb556c7b31304687bf25c3d6a8dfd5563cac7       sha1 8679311621e67661f87f0037b79c7de764dabcec
// Gamma lists the sha1 of 9000 g's, which no container holds: gamma.qiv (c) is bad.
const std::string kSetDat = R"(<?xml version="1.0"?>
<datafile>
  <header><name>Set</name></header>
  <game name="Alpha"><rom name="alpha.iso" size="9000" crc="27382900" sha1="19e99ac88aa88b788c75d3b4b09cddb48508de1e"/></game>
  <game name="Beta"><rom name="beta.iso" size="9000" md5="4a847a25439532bf48b68c9e9536ed5b"/></game>
  <game name="Gamma"><rom name="gamma.iso" size="9000" sha1="3cb84f141ab092460e65acefe13c0bff5cc30542"/></game>
  <game name="Delta &amp; &apos;Co&apos;"><rom name="delta&lt;1&gt;.iso" size="9000" crc="71C01780" md5="2e26ad0e8b8e123d18c2d20c81cab0a8" sha1="8679311621e67661f87f0037b79c7de764dabcec"/></game>
</datafile>
)";
const std::string kRenameDat = R"(<datafile>
  <game name="Alpha"><rom name="alpha.iso" size="9000" sha1="19e99ac88aa88b788c75d3b4b09cddb48508de1e"/></game>
  <game name="Beta"><rom name="beta.iso" size="9000" md5="4a847a25439532bf48b68c9e9536ed5b"/></game>
  <game name="Console"><rom name="con.iso" size="9000" sha1="478b98552ac422adac10290c9e12b33856a8163f"/></game>
  <game name="Delta"><rom name="delta&lt;1&gt;.iso" size="9000" crc="71c01780"/></game>
  <game name="Evil"><rom name="e:vil?.iso" size="9000" sha1="66ffb556c7b31304687bf25c3d6a8dfd5563cac7"/></game>
</datafile>
)";

// set/: alpha.qiv (a), copy.qiv (a), disc2.qiv (b), gamma.qiv (c), stray.qiv (e), junk.qiv (no container),
// notes.txt, sub/deep.QIV (d), sub/Gamma.qiv (e); ren/: alpha, copy, disc2 and d, e, g holding a, a, b, d, e, c, and
// delta_1_.qiv, a file in the way; empty/ with no container.
void lay_out(const TempDir& dir) {
    for (const char* folder : {"set", "set/sub", "ren", "empty"}) fs::create_directory(dir / folder);
    const std::pair<const char*, char> containers[] = {
        {"set/alpha.qiv", 'a'},     {"set/copy.qiv", 'a'},      {"set/disc2.qiv", 'b'}, {"set/gamma.qiv", 'c'},
        {"set/stray.qiv", 'e'},     {"set/sub/deep.QIV", 'd'},  {"set/sub/Gamma.qiv", 'e'},
        {"ren/alpha.qiv", 'a'},     {"ren/copy.qiv", 'a'},      {"ren/disc2.qiv", 'b'}, {"ren/d.qiv", 'd'},
        {"ren/e.qiv", 'e'},         {"ren/g.qiv", 'c'}};
    for (const auto& [name, letter] : containers) {
        write_file(dir / "image", std::string(9000, letter));
        qivpak::pack((dir / "image").string(), (dir / name).string());
    }
    fs::remove(dir / "image");
    write_file(dir / "set/junk.qiv", "not a container\n");
    write_file(dir / "set/notes.txt", "notes\n");
    write_file(dir / "ren/delta_1_.qiv", "in the way\n");
    write_file(dir / "set.dat", kSetDat);
    write_file(dir / "ren.dat", kRenameDat);
}

const std::string kTableHead = "status     game          rom           container\n";
const std::string kJunk = "qiv: set/junk.qiv: Input is not a valid QIV file.\n";
const std::vector<std::string> kRenamed = {"ren/alpha.qiv", "ren/copy.qiv", "ren/disc2.qiv", "ren/d.qiv", "ren/e.qiv", "ren/g.qiv"};

struct Row {
    std::vector<std::string> args;
    std::string out, err;
    int status;
    std::set<std::string> gone, made;  // files renamed away, and files that appeared
};

const Row kRows[] = {
    {{"report", "--dat", "set.dat", "set", "empty"},
     kTableHead +
         "have       Alpha         alpha.iso     set/alpha.qiv\n"
         "have       Beta          beta.iso      set/disc2.qiv\n"
         "bad        Gamma         gamma.iso     set/gamma.qiv\n"
         "missing    Delta & 'Co'  delta<1>.iso  -\n"
         "duplicate  Alpha         alpha.iso     set/copy.qiv\n"
         "unknown    -             -             set/stray.qiv\n"
         "have 2, missing 1, bad 1, duplicate 1, unknown 1, failed 1\n",
     "qiv: empty: no containers in this folder\n" + kJunk, 1, {}, {}},
    // below the folder too, extensions in any case, sorted byte by byte; a container named after a game
    {{"report", "-r", "--dat", "set.dat", "set/alpha.qiv", "set/disc2.qiv", "set/sub/"},
     "status  game          rom           container\n"
     "have    Alpha         alpha.iso     set/alpha.qiv\n"
     "have    Beta          beta.iso      set/disc2.qiv\n"
     "bad     Gamma         gamma.iso     set/sub/Gamma.qiv\n"
     "have    Delta & 'Co'  delta<1>.iso  set/sub/deep.QIV\n"
     "have 3, missing 0, bad 1, duplicate 0, unknown 0, failed 0\n",
     "", 1, {}, {}},
    {{"report", "--json", "--dat", "set.dat", "set/gamma.qiv", "set/stray.qiv"},
     "{\"results\": [\n"
     "  {\"status\": \"missing\", \"game\": \"Alpha\", \"rom\": \"alpha.iso\"},\n"
     "  {\"status\": \"missing\", \"game\": \"Beta\", \"rom\": \"beta.iso\"},\n"
     "  {\"status\": \"bad\", \"game\": \"Gamma\", \"rom\": \"gamma.iso\", \"container\": \"set/gamma.qiv\"},\n"
     "  {\"status\": \"missing\", \"game\": \"Delta & 'Co'\", \"rom\": \"delta<1>.iso\"},\n"
     "  {\"status\": \"unknown\", \"container\": \"set/stray.qiv\"}\n"
     "],\n\"counts\": {\"have\": 0, \"missing\": 3, \"bad\": 1, \"duplicate\": 0, \"unknown\": 1, \"failed\": 0}}\n",
     "", 1, {}, {}},
    {{"report", "set"}, "", "qiv: --dat is required\nRun qiv --help for more information.\n", 2, {}, {}},
    // renames: a clash, a name in the way, names Windows cannot hold, and the same without doing it
    {[] { std::vector<std::string> a = {"rename", "--dat", "ren.dat", "--dry-run"}; a.insert(a.end(), kRenamed.begin(), kRenamed.end()); return a; }(),
     "ren/disc2.qiv -> ren/beta.qiv (dry run)\n"
     "ren/d.qiv: rom \"delta<1>.iso\" named with \"_\" for what file names cannot hold\n"
     "ren/e.qiv: rom \"e:vil?.iso\" named with \"_\" for what file names cannot hold\n"
     "ren/e.qiv -> ren/e_vil_.qiv (dry run)\n"
     "ren/g.qiv: rom \"con.iso\" named with \"_\" for what file names cannot hold\n"
     "ren/g.qiv -> ren/con_.qiv (dry run)\n",
     "qiv: ren/alpha.qiv, ren/copy.qiv: both are rom \"alpha.iso\"; none renamed\n"
     "qiv: ren/d.qiv: not renamed: ren/delta_1_.qiv exists\n",
     1, {}, {}},
    {[] { std::vector<std::string> a = {"rename", "--dat", "ren.dat"}; a.insert(a.end(), kRenamed.begin(), kRenamed.end()); return a; }(),
     "ren/disc2.qiv -> ren/beta.qiv\n"
     "ren/d.qiv: rom \"delta<1>.iso\" named with \"_\" for what file names cannot hold\n"
     "ren/e.qiv: rom \"e:vil?.iso\" named with \"_\" for what file names cannot hold\n"
     "ren/e.qiv -> ren/e_vil_.qiv\n"
     "ren/g.qiv: rom \"con.iso\" named with \"_\" for what file names cannot hold\n"
     "ren/g.qiv -> ren/con_.qiv\n",
     "qiv: ren/alpha.qiv, ren/copy.qiv: both are rom \"alpha.iso\"; none renamed\n"
     "qiv: ren/d.qiv: not renamed: ren/delta_1_.qiv exists\n",
     1, {"ren/disc2.qiv", "ren/e.qiv", "ren/g.qiv"}, {"ren/beta.qiv", "ren/e_vil_.qiv", "ren/con_.qiv"}},
    {{"rename", "--dat", "ren.dat", "ren/alpha.qiv", "set/junk.qiv"}, "ren/alpha.qiv: already named\n", kJunk, 1, {}, {}},
#ifdef _WIN32  // qiv.exe expands the patterns that the shells of Windows hand on as typed
    {{"rename", "--dat", "ren.dat", "--dry-run", "ren/A*.QIV", "ren/dis?2.qiv", "ren/x*.qiv"},
     "ren/alpha.qiv: already named\nren/disc2.qiv -> ren/beta.qiv (dry run)\n",
     "qiv: ren/x*.qiv: Cannot open input file ren/x*.qiv\n", 1, {}, {}},
#endif
};

TEST(QivLibrary, ReportAndRenamePrintTheirFindingsAndRenameOnlyWhatIsSafe) {
    for (const Row& row : kRows) {
        SCOPED_TRACE(testing::PrintToString(row.args));
        TempDir dir;
        lay_out(dir);
        std::set<std::string> files = dir.files();
        std::vector<std::string> argv = row.args;
        argv.insert(argv.begin(), QIV_BINARY);
        const ProcessResult r = run_process(argv, {dir.path.string(), {}, 60, {}});
        EXPECT_EQ(r.out, row.out);
        EXPECT_EQ(r.err, row.err);
        EXPECT_EQ(r.status, row.status);
        for (const std::string& name : row.gone) files.erase(name);
        files.insert(row.made.begin(), row.made.end());
        EXPECT_EQ(dir.files(), files);
    }
}

// The fixdat lists the missing roms with every hash, its names escaped, and verify reads it back.
TEST(QivLibrary, TheFixdatOfAReportIsADatOfTheMissingRoms) {
    TempDir dir;
    lay_out(dir);
    const ProcessResult r =
        run_process({QIV_BINARY, "report", "--dat", "set.dat", "--fixdat", "fix.dat", "set/alpha.qiv", "set/disc2.qiv"},
                    {dir.path.string(), {}, 60, {}});
    EXPECT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(read_text(dir / "fix.dat"),
              "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<datafile>\n  <header>\n"
              "    <name>fixdat of set.dat</name>\n"
              "    <description>the roms of set.dat that no container holds</description>\n  </header>\n"
              "  <game name=\"Gamma\">\n    <description>Gamma</description>\n"
              "    <rom name=\"gamma.iso\" size=\"9000\" sha1=\"3cb84f141ab092460e65acefe13c0bff5cc30542\"/>\n  </game>\n"
              "  <game name=\"Delta &amp; &apos;Co&apos;\">\n    <description>Delta &amp; &apos;Co&apos;</description>\n"
              "    <rom name=\"delta&lt;1&gt;.iso\" size=\"9000\" crc=\"71c01780\" md5=\"2e26ad0e8b8e123d18c2d20c81cab0a8\" "
              "sha1=\"8679311621e67661f87f0037b79c7de764dabcec\"/>\n  </game>\n</datafile>\n");
    const ProcessResult back =
        run_process({QIV_BINARY, "verify", "--dat", "fix.dat", "set/sub/deep.QIV", "set/alpha.qiv"}, {dir.path.string(), {}, 60, {}});
    EXPECT_EQ(back.out, "set/sub/deep.QIV: verified: game \"Delta & 'Co'\", rom \"delta<1>.iso\"\nset/alpha.qiv: not in the DAT files\n");
    EXPECT_EQ(back.status, 1);
}

// Folders become their files of the kind, sorted, below them with -r; other names stay as given.
TEST(QivLibrary, FoldersAreExpandedIntoTheirFilesOfTheKind) {
    TempDir dir;
    for (const char* folder : {"f", "f/B", "f/a", "none"}) fs::create_directory(dir / folder);
    for (const char* file : {"f/z.ISO", "f/y.Bin", "f/x.img", "f/w.txt", "f/c.qiv", "f/B/d.QiV", "f/a/e.iso", "none/n.txt"})
        write_file(dir / file, "x");
    const std::string f = (dir / "f").generic_string(), none = (dir / "none").generic_string();
    struct Case {
        std::vector<std::string> names;
        qiv::FileKind kind;
        bool recursive;
        std::vector<std::string> expanded;
        std::string err;
    } cases[] = {
        {{f, "missing.qiv"}, qiv::FileKind::containers, false, {f + "/c.qiv", "missing.qiv"}, ""},
        {{f + "/"}, qiv::FileKind::containers, true, {f + "/B/d.QiV", f + "/c.qiv"}, ""},
        {{f}, qiv::FileKind::images, false, {f + "/x.img", f + "/y.Bin", f + "/z.ISO"}, ""},
        {{f}, qiv::FileKind::images, true, {f + "/a/e.iso", f + "/x.img", f + "/y.Bin", f + "/z.ISO"}, ""},
        {{none, f + "/a"}, qiv::FileKind::containers, true, {}, "qiv: " + none + ": no containers in this folder\nqiv: " + f + "/a: no containers in this folder\n"},
        {{none}, qiv::FileKind::images, false, {}, "qiv: " + none + ": no images in this folder\n"},
    };
    for (Case& c : cases) {
        SCOPED_TRACE(testing::PrintToString(c.names));
        std::FILE* err = std::tmpfile();
        ASSERT_TRUE(err);
        EXPECT_EQ(qiv::expand_inputs(c.names, c.kind, c.recursive, err), c.err.empty());
        EXPECT_EQ(c.names, c.expanded);
        std::rewind(err);
        char text[400] = {};
        EXPECT_EQ(std::string(text, std::fread(text, 1, sizeof text - 1, err)), c.err);
        std::fclose(err);
    }
}

}  // namespace
