// inspect_test.cpp - qiv info, verify and cat: command lines with their literal output and status, DATs, damage
#include "qiv/commands.hpp"
#include "qiv/json.hpp"
#include "support/container.hpp"

#include <gtest/gtest.h>

#include <functional>

namespace {

using namespace qivtest;

// The plain images and their hashes (with kZerosLine and kTextLine), worked out once with
// sha1sum, md5sum and Python's zlib.crc32, never by the code under test.
const std::string kEmptyLine =
    "empty.qiv: 0 bytes, crc32 00000000, md5 d41d8cd98f00b204e9800998ecf8427e, "
    "sha1 da39a3ee5e6b4b0d3255bfef95601890afd80709\n";
const std::string kAreasLine =  // 24676 bytes 'q'
    "areas.qiv: 24676 bytes, crc32 98d1e5a3, md5 afe0ca15ced60c9c91e0544750b6728c, "
    "sha1 1acf6e9e96c6375e793efeb4877c8c11c4b04d77\n";
const std::string kBigLine =  // make_image("ttn", 3 MiB + 5, 15): three chunks of the hashing pass
    "big.qiv: 3145733 bytes, crc32 5053a58e, md5 9776e9ee27e6ace389e8eb988c104697, "
    "sha1 a39ee09d2b91dde7fe4e420db3cb41af5a0c19ea\n";

const std::string kAreasInfo =
    "areas.qiv\n"
    "  image size:      24676 bytes (0.0 MB)\n"
    "  frames:          4\n"
    "  container size:  26279 bytes (0.0 MB)\n"
    "  ratio:           106.5%\n"
    "  NC areas:        5\n"
    "  raw frames:      3\n"
    "  version:         1\n";
const std::string kEmptyInfo =
    "empty.qiv\n"
    "  image size:      0 bytes (0.0 MB)\n"
    "  frames:          0\n"
    "  container size:  32 bytes (0.0 MB)\n"
    "  ratio:           -\n"
    "  NC areas:        0\n"
    "  raw frames:      0\n"
    "  version:         0\n";

const std::string kDamaged = "qiv: damaged.qiv: frame 200: Error while decompressing (corrupt input?)\n";
const std::string kCut = "qiv: cut.qiv: frame 100: Input seems to be corrupted.\n";
const std::string kJunk = "qiv: junk.qiv: Input is not a valid QIV file.\n";
// The XML reader's own description: pugixml's, or on Windows the system's XmlLite's.
#ifdef _WIN32
const std::string kBrokenDat = "qiv: broken.dat: not a DAT file: XML error 0xC00CEE3B (at line 3, column 12)\n";
#else
const std::string kBrokenDat = "qiv: broken.dat: not a DAT file: Start-end tags mismatch (at byte 29)\n";
#endif

const std::string kGoodDat = R"dat(<?xml version="1.0"?>
<!DOCTYPE datafile SYSTEM "datafile.dtd">
<datafile>
  <header><name>Test discs</name></header>
  <game name="Decoy">
    <rom name="zeros.iso" size="20001" sha1="9bd7c3d157e82753fd2bf3a9df26bea49bc29caf"/>
    <rom name="text.iso" size="11" crc="43d92781" sha1="0000000000000000000000000000000000000000"/>
  </game>
  <game name="Zeros &amp; Co (Europe)">
    <rom name="Zeros (Europe).iso" size="20000" crc="972F5302" md5="B2FE457348DE243A579A1591D3815170" sha1="9BD7C3D157E82753FD2BF3A9DF26BEA49BC29CAF"/>
  </game>
  <game name="Text Game"><rom name="readme.txt" size="11" crc="43D92781"/></game>
  <game name="Big Game"><rom name="big.iso" size="3145733" sha1="a39ee09d2b91dde7fe4e420db3cb41af5a0c19eb"/></game>
</datafile>
)dat";
const std::string kSecondDat =
    R"dat(<datafile><machine name="Blank"><rom name="blank.iso" size="0" sha1="da39a3ee5e6b4b0d3255bfef95601890afd80709"/></machine></datafile>)dat";

// Roms that list some hashes only: each verifies on all it lists, and says which when no SHA-1 is among them.
const std::string kStrictDat = R"dat(<datafile>
  <game name="Zeros, CRC wrong"><rom name="zeros.iso" size="20000" crc="972f5303" sha1="9bd7c3d157e82753fd2bf3a9df26bea49bc29caf"/></game>
  <game name="Text, MD5 only"><rom name="text.bin" size="11" md5="44d8dc089fa8de6a1fbd31c8dbcd15dd"/></game>
  <game name="Big, no SHA-1"><rom name="big.bin" size="3145733" crc="5053a58e" md5="9776e9ee27e6ace389e8eb988c104697"/></game>
  <game name="Big, MD5 wrong"><rom name="big.bin" size="3145733" crc="5053a58e" md5="9776e9ee27e6ace389e8eb988c104698"/></game>
</datafile>
)dat";

// A container laid out by hand, so its size is exact: 3 frames and 100 bytes of 'q', frame 0 a zlib
// stream of one stored block, frames 1 to 3 raw under five NC areas that overlap, come unsorted and
// run past the end ({2,2} {1,2} {3,100} {4294967295,2} {60,5}: frames 1, 2 and 3 raw).
Bytes areas_container() {
    Bytes frame0 = {0x78, 0x01, 0x01, 0x00, 0x20, 0xff, 0xdf};
    frame0.insert(frame0.end(), kFrame, 'q');
    const uLong adler = adler32(adler32(0, nullptr, 0), frame0.data() + 7, kFrame);
    for (int shift = 24; shift >= 0; shift -= 8) frame0.push_back(static_cast<std::uint8_t>(adler >> shift));
    Bytes file(32 + 24 + 1536);
    std::copy_n("QIV", 4, file.begin());
    put_le(file, 4, 3 * kFrame + 100), put_le(file, 8, 1), put_le(file, 12, 5);
    const std::uint32_t offsets[] = {1592, 9795, 17987, 26179}, lengths[] = {8203, 8192, 8192, 100};
    for (int i = 0; i < 4; ++i) put_le(file, 32 + 4 * i, offsets[i]), put_le(file, 48 + 2 * i, lengths[i], 2);
    const std::uint32_t areas[] = {2, 2, 1, 2, 3, 100, 4294967295u, 2, 60, 5};
    for (int i = 0; i < 10; ++i) put_le(file, 56 + 4 * i, areas[i]);
    file.insert(file.end(), frame0.begin(), frame0.end());
    file.insert(file.end(), 2 * kFrame + 100, 'q');
    return file;
}

// Standard output as the test's process runner shows it: on Windows a "\n" written in binary is marked.
std::string as_captured(const std::string& bytes) {
#ifdef _WIN32
    return text_mode(bytes);
#else
    return bytes;
#endif
}

// The folder every command line runs in.
const std::string kHelp = "Run qiv --help for more information.\n";

struct Library {
    TempDir dir;
    std::string big;  // the plain image of big.qiv
    Library() {
        write_file(dir / "zeros", Bytes(20000, 0));
        write_file(dir / "text", std::string("qiv verify\n"));
        const Bytes image = make_image("ttn", 3 * 1048576 + 5, 15);
        big.assign(image.begin(), image.end());
        write_file(dir / "big", image);
        for (const char* name : {"zeros", "text", "big"})
            EXPECT_EQ(run_tool(dir, {name, std::string(name) + ".qiv"}).status, 0) << name;
        Bytes empty(32);
        std::copy_n("QIV", 4, empty.begin());
        write_file(dir / "empty.qiv", empty);
        write_file(dir / "areas.qiv", areas_container());
        write_file(dir / "junk.qiv", std::string("not a container\n"));
        fs::create_directory(dir / "nothing");
        // big.qiv with a byte flipped in frames 300 and 200 (every reader meets one of them first
        // now and then: the message is always the first in image order), and cut inside frame 100.
        Bytes packed = read_file(dir / "big.qiv");
        for (const std::size_t frame : {300, 200}) packed[get_le32(packed, 32 + 4 * frame) + 40] ^= 0x5a;
        write_file(dir / "damaged.qiv", packed);
        packed.resize(get_le32(packed, 32 + 4 * 100) + 5);
        write_file(dir / "cut.qiv", packed);
        // Indexes that lie: big.qiv's frame 5 pointing at frame 6's stream, and text.qiv's one stream
        // followed by 10 bytes its stored length claims. The unpacker restores something from both.
        Bytes lying = read_file(dir / "big.qiv");
        put_le(lying, 32 + 4 * 5, get_le32(lying, 32 + 4 * 6));
        write_file(dir / "lying.qiv", lying);
        Bytes padded = read_file(dir / "text.qiv");
        put_le(padded, 36, (padded[36] | padded[37] << 8) + 10, 2);
        padded.resize(padded.size() + 10, 0x55);
        write_file(dir / "padded.qiv", padded);
        write_file(dir / "good.dat", kGoodDat);
        write_file(dir / "second.dat", kSecondDat);
        write_file(dir / "broken.dat", std::string("<datafile>\n<game name=\"x\">\n</datafile>\n"));
        write_file(dir / "notdat.xml", std::string("<html><game name=\"x\"/></html>"));
        write_file(dir / "strict.dat", kStrictDat);
        write_file(dir / "short-sha1.dat",
                   std::string("<datafile><game name=\"Z\"><rom name=\"z.iso\" size=\"20000\" "
                               "sha1=\"9bd7c3d157e82753fd2bf3a9df26bea49bc29ca\"/></game></datafile>"));
        write_file(dir / "zero-byte.dat", std::string("<datafile></datafile>\n\0garbage", 30));
        write_file(dir / "two-roots.dat", std::string("<datafile></datafile><datafile></datafile>"));
        write_file(dir / "trailing.dat", std::string("<datafile></datafile>garbage"));
    }
};

struct Row {
    std::vector<std::string> args;
    std::string out, err;
    int status;
};

TEST(QivInspect, CommandLinesPrintTheirLiteralOutputAndStatus) {
    const Library lib;
    const std::string q(24676, 'q');
    const Row rows[] = {
        // info: the human layout, damage among sound ones, --json of each kind
        {{"info", "areas.qiv", "empty.qiv"}, kAreasInfo + "\n" + kEmptyInfo, "", 0},
        {{"info", "junk.qiv", "areas.qiv", "missing.qiv"}, kAreasInfo,
         kJunk + "qiv: missing.qiv: Cannot open input file missing.qiv\n", 1},
        {{"info", "--json", "empty.qiv", "areas.qiv", "junk.qiv"},
         "[\n"
         "  {\"file\": \"empty.qiv\", \"image_size\": 0, \"frames\": 0, \"container_size\": 32, \"ratio_percent\": null, "
         "\"nc_areas\": 0, \"raw_frames\": 0, \"version\": 0},\n"
         "  {\"file\": \"areas.qiv\", \"image_size\": 24676, \"frames\": 4, \"container_size\": 26279, "
         "\"ratio_percent\": 106.5, \"nc_areas\": 5, \"raw_frames\": 3, \"version\": 1},\n"
         "  {\"file\": \"junk.qiv\", \"error\": \"Input is not a valid QIV file.\"}\n"
         "]\n",
         "", 1},
        // verify without DATs: the hashes, at any thread count; damage named by its frame
        {{"verify", "empty.qiv", "zeros.qiv", "text.qiv", "areas.qiv", "big.qiv"},
         kEmptyLine + kZerosLine + kTextLine + kAreasLine + kBigLine, "", 0},
        {{"verify", "--threads", "1", "big.qiv"}, kBigLine, "", 0},
        {{"verify", "--threads", "5", "big.qiv"}, kBigLine, "", 0},
        // several containers hashed at once (4 passes): the same lines, in the order given
        {{"verify", "--threads", "8", "big.qiv", "zeros.qiv", "damaged.qiv", "text.qiv", "big.qiv", "junk.qiv", "empty.qiv"},
         kBigLine + kZerosLine + kTextLine + kBigLine + kEmptyLine, kDamaged + kJunk, 1},
        {{"verify", "--threads", "4", "damaged.qiv", "cut.qiv", "junk.qiv", "zeros.qiv"}, kZerosLine,
         kDamaged + kCut + kJunk, 1},
        {{"verify", "--json", "zeros.qiv", "damaged.qiv"},
         "[\n"
         "  {\"file\": \"zeros.qiv\", \"size\": 20000, \"crc32\": \"972f5302\", \"md5\": \"b2fe457348de243a579a1591d3815170\", "
         "\"sha1\": \"9bd7c3d157e82753fd2bf3a9df26bea49bc29caf\"},\n"
         "  {\"file\": \"damaged.qiv\", \"error\": \"Error while decompressing (corrupt input?)\", \"frame\": 200}\n"
         "]\n",
         "", 1},
        // verify with DATs: by size and SHA-1 (hex in any case), by CRC32 without SHA-1, a second DAT,
        // a mismatch named by the rom's name, not listed
        {{"verify", "--dat", "good.dat", "zeros.qiv", "text.qiv"},
         "zeros.qiv: verified: game \"Zeros & Co (Europe)\", rom \"Zeros (Europe).iso\"\n"
         "text.qiv: verified (CRC32 only): game \"Text Game\", rom \"readme.txt\"\n",
         "", 0},
        {{"verify", "--dat", "good.dat", "--dat", "second.dat", "big.qiv", "empty.qiv", "areas.qiv", "damaged.qiv"},
         "big.qiv: hash mismatch: game \"Big Game\", rom \"big.iso\"\n"
         "empty.qiv: verified: game \"Blank\", rom \"blank.iso\"\n"
         "areas.qiv: not in the DAT files\n",
         kDamaged, 1},
        {{"verify", "--json", "--dat", "good.dat", "zeros.qiv", "big.qiv", "areas.qiv"},
         "[\n"
         "  {\"file\": \"zeros.qiv\", \"size\": 20000, \"crc32\": \"972f5302\", \"md5\": \"b2fe457348de243a579a1591d3815170\", "
         "\"sha1\": \"9bd7c3d157e82753fd2bf3a9df26bea49bc29caf\", \"result\": \"verified\", "
         "\"game\": \"Zeros & Co (Europe)\", \"rom\": \"Zeros (Europe).iso\"},\n"
         "  {\"file\": \"big.qiv\", \"size\": 3145733, \"crc32\": \"5053a58e\", \"md5\": \"9776e9ee27e6ace389e8eb988c104697\", "
         "\"sha1\": \"a39ee09d2b91dde7fe4e420db3cb41af5a0c19ea\", \"result\": \"mismatch\", \"game\": \"Big Game\", "
         "\"rom\": \"big.iso\"},\n"
         "  {\"file\": \"areas.qiv\", \"size\": 24676, \"crc32\": \"98d1e5a3\", \"md5\": \"afe0ca15ced60c9c91e0544750b6728c\", "
         "\"sha1\": \"1acf6e9e96c6375e793efeb4877c8c11c4b04d77\", \"result\": \"not_listed\"}\n"
         "]\n",
         "", 1},
        // a DAT that cannot be used: nothing is verified
        {{"verify", "--dat", "good.dat", "--dat", "broken.dat", "zeros.qiv"}, "", kBrokenDat, 1},
        // a rom matches when every hash it lists agrees; malformed hashes and documents are refused
        {{"verify", "--dat", "strict.dat", "zeros.qiv", "text.qiv", "big.qiv"},
         "zeros.qiv: hash mismatch: game \"Zeros, CRC wrong\", rom \"zeros.iso\"\n"
         "text.qiv: verified (MD5 only): game \"Text, MD5 only\", rom \"text.bin\"\n"
         "big.qiv: verified (CRC32 and MD5 only): game \"Big, no SHA-1\", rom \"big.bin\"\n",
         "", 1},
        {{"verify", "--json", "--dat", "strict.dat", "text.qiv"},
         "[\n  {\"file\": \"text.qiv\", \"size\": 11, \"crc32\": \"43d92781\", \"md5\": \"44d8dc089fa8de6a1fbd31c8dbcd15dd\", "
         "\"sha1\": \"d71363c5b52b8831851504574eca837ecdfaa33c\", \"result\": \"verified\", \"game\": \"Text, MD5 only\", "
         "\"rom\": \"text.bin\", \"verified_by\": \"MD5\"}\n]\n",
         "", 0},
        {{"verify", "--dat", "short-sha1.dat", "zeros.qiv"}, "",
         "qiv: short-sha1.dat: not a DAT file: game \"Z\", rom \"z.iso\": the sha1 is not 40 hex digits\n", 1},
        {{"verify", "--dat", "zero-byte.dat", "zeros.qiv"}, "", "qiv: zero-byte.dat: not a DAT file: a NUL byte (at byte 22)\n", 1},
#ifndef _WIN32
        {{"verify", "--dat", "two-roots.dat", "zeros.qiv"}, "",
         "qiv: two-roots.dat: not a DAT file: a second document element <datafile>\n", 1},
        {{"verify", "--dat", "trailing.dat", "zeros.qiv"}, "",
         "qiv: trailing.dat: not a DAT file: text outside the document element\n", 1},
#endif
        {{"verify", "--dat", "notdat.xml", "zeros.qiv"}, "",
         "qiv: notdat.xml: not a DAT file: the document element is not <datafile>\n", 1},
        {{"verify", "--dat", "missing.dat", "zeros.qiv"}, "",
         "qiv: missing.dat: cannot open the DAT file: No such file or directory\n", 1},
#ifndef _WIN32
        {{"verify", "--dat", ".", "zeros.qiv"}, "", "qiv: .: cannot open the DAT file: Is a directory\n", 1},
#endif
        // cat: the image, a range, the end, past the end, up to a damaged frame
        {{"cat", "areas.qiv"}, as_captured(q), "", 0},
        {{"cat", "big.qiv", "--offset", "1000000", "--length", "2000000"}, as_captured(lib.big.substr(1000000, 2000000)),
         "", 0},
        {{"cat", "text.qiv", "--offset", "11"}, "", "", 0},
        {{"cat", "text.qiv", "--offset", "4", "--length", "8"}, "",
         "qiv: text.qiv: the range passes the end of the image (11 bytes)\n", 1},
        {{"cat", "text.qiv", "--offset", "12"}, "", "qiv: text.qiv: the range passes the end of the image (11 bytes)\n", 1},
        {{"cat", "damaged.qiv", "--offset", "5"}, as_captured(lib.big.substr(5, 200 * kFrame - 5)), kDamaged, 1},
        {{"cat", "junk.qiv"}, "", kJunk, 1},
        // a frame elsewhere than the lengths before it put it, a stream short of its stored length
        {{"info", "lying.qiv"}, "", "qiv: lying.qiv: frame 5: Corrupted input file.\n", 1},
        {{"verify", "lying.qiv", "padded.qiv"}, "",
         "qiv: lying.qiv: frame 5: Corrupted input file.\n"
         "qiv: padded.qiv: frame 0: Error while decompressing (corrupt input?)\n", 1},
        // a folder is taken for its containers, and one without any is said to be so
        {{"info", "nothing"}, "", "qiv: nothing: no containers in this folder\n", 1},
        {{"verify", "nothing"}, "", "qiv: nothing: no containers in this folder\n", 1},
        {{"cat", "."}, "", "qiv: .: is a folder\n", 1},
        // numbers are decimal: a leading zero is a zero; a sign, a base, nothing or too much is refused
        {{"cat", "text.qiv", "--offset", "0010", "--length", "01"}, as_captured("\n"), "", 0},
        {{"cat", "text.qiv", "--offset", "0x1"}, "", "qiv: --offset: Value '0x1' is not a decimal number\n" + kHelp, 2},
        {{"cat", "text.qiv", "--length", "-1"}, "", "qiv: --length: Value '-1' is not a decimal number\n" + kHelp, 2},
        {{"cat", "text.qiv", "--offset", ""}, "", "qiv: --offset: Value '' is not a decimal number\n" + kHelp, 2},
        {{"cat", "text.qiv", "--offset", "18446744073709551616"}, "",
         "qiv: --offset: Value 18446744073709551616 is too large\n" + kHelp, 2},
        {{"verify", "--threads", "1e3", "text.qiv"}, "", "qiv: --threads: Value '1e3' is not a decimal number\n" + kHelp, 2},
    };
    for (const Row& row : rows) {
        std::vector<std::string> argv = row.args;
        argv.insert(argv.begin(), QIV_BINARY);
        const ProcessResult run = run_process(argv, {lib.dir.path.string(), {}, 60, {}});
        std::string line;
        for (const std::string& arg : row.args) line += " " + arg;
        EXPECT_EQ(run.status, row.status) << line;
        EXPECT_EQ(run.err, row.err) << line;
        EXPECT_TRUE(run.out == row.out) << line << ": " << run.out.size() << " bytes out, " << row.out.size() << " expected";
    }
}

// Refusals that need a terminal or a failing sink: cat run in-process with the streams it is given.
TEST(QivInspect, CatRefusesATerminalAndReportsAFailedWrite) {
    const Library lib;
    struct Sink {
        const char* path;  // where standard output goes, opened for reading only when `readable`
        bool terminal, readable;
        int status;
        std::string err;
    } sinks[] = {
        {"out", true, false, 2, "qiv: standard output is a terminal: redirect it to a file or a pipe\n"},
        {"zeros", false, true, 1, "qiv: cannot write to standard output\n"},  // a stream that refuses writes
        {"/dev/full", false, false, 1, "qiv: cannot write to standard output\n"},
    };
    for (const Sink& sink : sinks) {
        const fs::path path = sink.path[0] == '/' ? fs::path(sink.path) : lib.dir / sink.path;
        if (sink.path[0] == '/' && !fs::exists(path)) continue;  // no /dev/full on this system
        std::FILE* out = std::fopen(path.string().c_str(), sink.readable ? "rb" : "wb");
        std::FILE* err = std::tmpfile();
        ASSERT_TRUE(out && err) << sink.path;
        qiv::Streams io{out, err, sink.terminal};
        qiv::CatArgs args{(lib.dir / "big.qiv").string(), 0, std::nullopt, std::nullopt};
        EXPECT_EQ(qiv::cat_command(args, io), sink.status) << sink.path;
        std::rewind(err);
        char text[200] = {};
        EXPECT_EQ(std::string(text, std::fread(text, 1, sizeof text - 1, err)), sink.err) << sink.path;
        std::fclose(out), std::fclose(err);
        if (sink.terminal) {
            EXPECT_EQ(fs::file_size(path), 0u);
        }
    }
}

// Results that standard output did not take (a full device) are a failure, not a success.
TEST(QivInspect, ResultsThatCannotBeWrittenAreAFailure) {
    if (!fs::exists("/dev/full")) GTEST_SKIP() << "skipped: no /dev/full on this system";
    const Library lib;
    const std::string container = (lib.dir / "big.qiv").string();
    const std::pair<const char*, std::function<int(qiv::Streams&)>> commands[] = {
        {"info", [&](qiv::Streams& io) { return qiv::info_command({{container}, false}, io); }},
        {"info --json", [&](qiv::Streams& io) { return qiv::info_command({{container}, true}, io); }},
        {"verify", [&](qiv::Streams& io) { return qiv::verify_command({{container}, {}, false, 1, true}, io); }},
        {"verify --json", [&](qiv::Streams& io) { return qiv::verify_command({{container}, {}, true, 1, true}, io); }},
    };
    for (const auto& [name, command] : commands) {
        std::FILE* out = std::fopen("/dev/full", "wb");
        std::FILE* err = std::tmpfile();
        ASSERT_TRUE(out && err) << name;
        qiv::Streams io{out, err, false};
        EXPECT_EQ(command(io), 1) << name;
        std::rewind(err);
        char text[200] = {};
        EXPECT_EQ(std::string(text, std::fread(text, 1, sizeof text - 1, err)), "qiv: cannot write to standard output\n")
            << name;
        std::fclose(out), std::fclose(err);
    }
}

TEST(QivInspect, JsonStringsAreEscaped) {
    const std::pair<std::string, std::string> cases[] = {
        {"", R"("")"},
        {"disc.qiv", R"("disc.qiv")"},
        {"say \"hi\" C:\\discs", R"("say \"hi\" C:\\discs")"},
        {std::string("\x01\b\f\n\r\t\x1f\x7f", 8), "\"\\u0001\\b\\f\\n\\r\\t\\u001f\x7f\""},
        {"Disque été ディスク", R"("Disque été ディスク")"},  // UTF-8 passes through
    };
    for (const auto& [text, json] : cases) EXPECT_EQ(qiv::json_string(text), json) << text;
}

}  // namespace
