// command_table_test.cpp - command lines of the built tool with their console text, files and exit status
#include "support/container.hpp"

#include <gtest/gtest.h>

#include <algorithm>

namespace {

using namespace qivtest;

const std::string kUsage =
    "Usage: qivpak [OPTIONS] inputfile outputfile [infofile]\n\n"
    "infofile: optional text file to be created with information about the compression of each frame.\n\n"
    "OPTIONS are: \n\n"
    "-d: decompress the inputfile to outputfile.\n"
    "    If not set, default operation is to compress inputfile to outputfile.\n"
    "-ln: where n is a number from [0-9]. Specifies the zlib compression level.\n"
    "    0=default compromise between speed and compression.\n"
    "    1=compress faster, but worse.\n"
    "    9=compress slower, but better.\n"
    "-an: where n is a number between 0-8192 or nothing.\n"
    "     It activate the search of not compressed (NC) areas.\n"
    "     n indicates the limit from which consider that a frame is not\n"
    "     enough compressed, and making it a candidate to form part of a NC area.\n"
    "     If n is not specified or if it's zero, then the value 8192 is used,\n"
    "     which is the same size that the frame size of the qiv format, meaning\n"
    "     that only frames that not were compressed at all, not even a single byte,\n"
    "     will be candidates to be part of a NC area.\n"
    "-v: it searchs for video files in the input file and forced them\n"
    "    to be part of NC areas without analyzing if they could be compressed.\n"
    "    After that, the search of other NC areas will be done, even if\n"
    "    \"-a\" was not specified.\n"
    "-s: it searchs for audio files in the input file and forced them\n"
    "    to be part of NC areas without analyzing if they could be compressed.\n"
    "    After that, the search of other NC areas will be done, even if\n"
    "    \"-a\" was not specified.\n"
    "-w: if this option is set, the program will wait for user input\n"
    "    before exiting.\n";
const std::string kPrompt = "Press any key to continue";
// Packs of 20000 zero bytes and of 1000 bytes of text, and the unpack of the first.
const std::string kPackZeros =
    "N of frames: 3\nCompressing...\n100%\nTotal frames written: 3\nWriting tables...\nTable size: 12+6=18\n"
    "Finished.\n\nReport: 19 KB -> 0 KB (0%)\n\n";
const std::string kPackText =
    "N of frames: 1\nCompressing...\n100%\nTotal frames written: 1\nWriting tables...\nTable size: 4+2=6\n"
    "Finished.\n\nReport: 0 KB -> 0 KB (0%)\n\n";
const std::string kUnpackZeros = "N of frames: 3\nDecompressing...\n0%100%\nFinished.\n\n";
const std::string kUntouched = "untouched\n";  // what "info" holds before every run

struct Row {
    std::vector<std::string> args;  // run in a folder holding the image "in", "info" and, when named, "in.qiv"
    std::string out;                // standard output after the banner
    int status;
    std::vector<std::string> made;  // files the run creates; the first is the container or the restored image
    std::string kinds = "z";        // the image "in": its frame kinds (see make_image) and size
    std::uint64_t size = 20000;
    std::string info = kUntouched;  // "info" afterwards; ending in "...": what it begins with
    Areas areas = {};               // the container's NC areas
    int level = -1;                 // the zlib level its streams are made at
};

std::string unknown(const std::string& arg) { return "Warning: unknown option \"" + arg + "\"\n"; }


const Row kRows[] = {
    {{}, kUsage, 255, {}},
    {{"in"}, kUsage, 255, {}},
    {{"-w"}, kUsage, 255, {}},  // with fewer than two arguments -w is never read
    {{"-w", "in"}, kUsage + kPrompt, 255, {}},
    {{"-w", "-lx", "in", "out"}, kUsage + kPrompt, 255, {}},
    {{"in", "out", "info", "extra"}, kUsage, 255, {}},
    {{"-l", "in", "out"}, kUsage, 255, {}},
    {{"-l10", "in", "out"}, kUsage, 255, {}},
    {{"-lx", "in", "out"}, kUsage, 255, {}},
    {{"-a8193", "in", "out"}, kUsage, 255, {}},
    {{"-a-1", "in", "out"}, kUsage, 255, {}},
    {{"-A4294967296", "in", "out"}, kUsage, 255, {}},
    {{"-dx", "in.qiv", "out"}, kUsage, 255, {}},
    {{"-sv", "in", "out"}, kUsage, 255, {}},
    {{"-ww", "in", "out"}, kUsage, 255, {}},
    {{"-x", "-l", "in", "out"}, unknown("-x") + kUsage, 255, {}},
    {{"in", "out"}, kPackZeros, 0, {"out"}},
    {{"-x", "in", "out"}, unknown("-x") + kPackZeros, 0, {"out"}},
    {{"-", "-Q", "-w", "in", "out"}, unknown("-") + unknown("-Q") + kPackZeros + kPrompt, 0, {"out"}},
    {{"in", "-d", "out"}, kPackZeros, 0, {"-d", "out"}},  // all from the first positional on: "out" is the info file
    {{"-l0", "in", "out"}, kPackText, 0, {"out"}, "t", 1000, kUntouched, {}, -1},
    {{"-l1", "in", "out"}, kPackText, 0, {"out"}, "t", 1000, kUntouched, {}, 1},
    {{"-L9", "in", "out"}, kPackText, 0, {"out"}, "t", 1000, kUntouched, {}, 9},
    {{"-l9", "-l1", "in", "out"}, kPackText, 0, {"out"}, "t", 1000, kUntouched, {}, 1},
    {{"in", "out", "info"}, "N of frames: 0\nCompressing...\n100%\nTotal frames written: 0\nWriting tables...\n"
     "Table size: 0+0=0\nFinished.\n\nReport: 0 KB -> 0 KB (0%)\n\n", 0, {"out"}, "z", 0,
     "Report: 0 KB -> 0 KB (0%)\n\n"},
    {{"in", "out", "info"}, "N of frames: 1\nCompressing...\n100%\nTotal frames written: 1\nWriting tables...\n"
     "Table size: 4+2=6\nFinished.\n\nReport: 0 KB -> 0 KB (0%)\n\n", 0, {"out"}, "n", 1,
     "Frame #0: 8192 -> 9(0%)\nReport: 0 KB -> 0 KB (0%)\n\n"},
    {{"in", "out", "info"}, "N of frames: 2\nCompressing...\n100%\nTotal frames written: 2\nWriting tables...\n"
     "Table size: 8+4=12\nFinished.\n\nReport: 16 KB -> 16 KB (100%)\n\n", 0, {"out"}, "n", 16384,
     "Frame #0: 8192 -> 8203(100%)\nFrame #1: 8192 -> 8203(100%)\nReport: 16 KB -> 16 KB (100%)\n\n"},
    {{"in", "out", "info"}, "N of frames: 2\nCompressing...\n100%\nTotal frames written: 2\nWriting tables...\n"
     "Table size: 8+4=12\nFinished.\n\nReport: 8 KB -> 8 KB (100%)\n\n", 0, {"out"}, "n", 8193,
     "Frame #0: 8192 -> 8203(100%)\nFrame #1: 8192 -> 9(0%)\nReport: 8 KB -> 8 KB (100%)\n\n"},
    {{"in", "out"}, "N of frames: 600\nCompressing...\n100%100%\nTotal frames written: 600\nWriting tables...\n"
     "Table size: 2400+1200=3600\nFinished.\n\nReport: 4800 KB -> 4809 KB (100%)\n\n", 0, {"out"}, "n", 600 * kFrame},
    {{"in", "out"}, "N of frames: 1200\nCompressing...\n50%100%100%\nTotal frames written: 1200\nWriting tables...\n"
     "Table size: 4800+2400=7200\nFinished.\n\nReport: 9600 KB -> 9619 KB (100%)\n\n", 0, {"out"}, "n", 1200 * kFrame},
    {{"-a", "in", "out"}, "Analyzing file...\n0%76%100%\nNumbers of NC Areas: 0\nN of frames: 1300\nCompressing...\n"
     "46%92%100%\nTotal frames written: 1300\nWriting tables...\nTable size: 5200+2600=7800\nFinished.\n\n"
     "Report: 10400 KB -> 10421 KB (100%)\n\n", 0, {"out"}, "n", 1300 * kFrame},  // noise to the end is no area
    {{"-a", "in", "out", "info"}, "Analyzing file...\n0%100%\nNumbers of NC Areas: 1\nN of frames: 5\nCompressing...\n"
     "100%\nTotal frames written: 5\nWriting tables...\nTable size: 20+10=30\nFinished.\n\n"
     "Report: 32 KB -> 25 KB (78%)\n\n", 0, {"out"}, "nnnz", 4 * kFrame + 1,
     "NCAREA #0: framestart=0,size=3 frames\n\n\n...", {{0, 3}}},
    {{"-v", "-S", "in", "out"}, "Scanning media files...\n0 media files found and forced to be NC areas.\n"
     "Analyzing file...\n0%100%\nNumbers of NC Areas: 0\n" + kPackZeros, 0, {"out"}},
    {{"-d", "in.qiv", "out"}, kUnpackZeros, 0, {"out"}},
    {{"-D", "-l9", "in.qiv", "out", "info"}, kUnpackZeros, 0, {"out"}},
    {{"-w", "-d", "in.qiv", "out"}, kUnpackZeros + kPrompt, 0, {"out"}},
    {{"-d", "in.qiv", "out"}, "N of frames: 0\nDecompressing...\n100%\nFinished.\n\n", 0, {"out"}, "z", 0},
    {{"-d", "in.qiv", "out"}, "N of frames: 1300\nDecompressing...\n0%46%92%100%\nFinished.\n\n", 0, {"out"}, "n",
     1300 * kFrame},
    {{"in", "in"}, "Error: output file in is the input file\n", 255, {}},
#ifndef _WIN32
    {{"in", "/proc/self/cwd/in"}, "Error: output file /proc/self/cwd/in is the input file\n", 255, {}},
#endif
    {{"-d", "in.qiv", "in.qiv"}, "Output file in.qiv is the input file\n", 255, {}},
    {{"in", "out", "in"}, "Warning: info file in is the input or output file; no info file is written\n" + kPackZeros,
     0, {"out"}},
    {{"in", "out", "./out"},
     "Warning: info file ./out is the input or output file; no info file is written\n" + kPackZeros, 0, {"out"}},
    {{"nothere", "out"}, "Error: cannot open input file nothere\n", 255, {}},
    {{"-a", "nothere", "out"}, "Error: cannot open input file nothere\n", 255, {}},
    {{"-v", "nothere", "out"}, "Error: cannot open input file nothere\n", 255, {}},
    {{"-d", "nothere", "out"}, "Cannot open input file nothere\n", 255, {}},
#ifdef _WIN32
    {{"-d", ".", "out"}, "Cannot open input file .\n", 255, {}},  // Windows opens no folder as a file
#else
    {{"-d", ".", "out"}, "Input is not a valid QIV file.\n", 255, {"out"}},  // a folder opens, but reads nothing
#endif
    {{"in", "nodir/out"}, "Error: cannot create output file nodir/out\n", 255, {}},
    {{"-d", "in.qiv", "nodir/out"}, "Cannot create output file nodir/out\n", 255, {}},
    {{"in", "/dev/full"}, "N of frames: 2\nCompressing...\n100%\nTotal frames written: 2\nWriting tables...\n"
     "I/O write error.\n", 255, {}, "n", 16384},
    {{"-d", "in.qiv", "/dev/full"}, "N of frames: 3\nDecompressing...\n0%100%\nI/O error writing to output file.\n",
     255, {}},
    {{"in", "out", "nodir/info"}, "Warning: cannot open/create info file nodir/info\n" + kPackZeros, 0, {"out"}},
    // An info file that cannot be written is a warning, once; the container is complete.
    {{"in", "out", "/dev/full"}, kPackZeros + "Warning: cannot write info file /dev/full\n", 0, {"out"}},
    {{"-a", "in", "out", "/dev/full"}, "Analyzing file...\n0%100%\nWarning: cannot write info file /dev/full\n"
     "Numbers of NC Areas: 0\n" + kPackZeros, 0, {"out"}},
    {{"-a", "in", "out", "nodir/info"}, "Warning: cannot create info file nodir/info\nAnalyzing file...\n0%100%\n"
     "Numbers of NC Areas: 0\nWarning: cannot open/create info file nodir/info\n" + kPackZeros, 0, {"out"}},
    {{"in", "out"}, "Error: input file in is larger than 4294967295 bytes\n", 255, {}, "z", std::uint64_t{1} << 32},
    // A kernel file whose size (a page) promises more than a read gives.
#ifndef _WIN32
    {{"/sys/devices/system/cpu/online", "out"},
     "N of frames: 1\nCompressing...\nError: cannot read input file /sys/devices/system/cpu/online\n", 255, {"out"}},
#endif
};

TEST(CommandLine, EachLinePrintsItsTextLeavesItsFilesAndEndsWithItsStatus) {
    for (const Row& row : kRows) {
        SCOPED_TRACE(testing::PrintToString(row.args) + " on " + row.kinds + " " + std::to_string(row.size));
        TempDir dir;
        write_file(dir / "in", make_image(row.kinds, row.size < (1u << 30) ? row.size : 0, 7));
        fs::resize_file(dir / "in", row.size);  // the 4 GiB image: sparse zeros
        write_file(dir / "info", kUntouched);
        std::set<std::string> files = {"in", "info"};
        const bool unpack = std::count(row.args.begin(), row.args.end(), "in.qiv") > 0;
        if (unpack) files.insert("in.qiv");
        ASSERT_TRUE(!unpack || run_tool(dir, {"in", "in.qiv"}).status == 0);
        const ProcessResult r = run_tool(dir, row.args);
        EXPECT_EQ(r.out, kBanner + row.out);
        EXPECT_EQ(r.err, "");
        EXPECT_EQ(r.status, row.status);
        files.insert(row.made.begin(), row.made.end());
        EXPECT_EQ(dir.files(), files);
        // What the test wrote is read as bytes, what the tool wrote as text.
        const std::string info = row.info == kUntouched ? read_text(dir / "info") : read_lines(dir / "info");
        const bool prefix = row.info.ends_with("...");
        EXPECT_TRUE(prefix ? info.starts_with(row.info.substr(0, row.info.size() - 3)) : info == row.info) << info;
        if (row.made.empty() || r.status != 0) continue;
        Parsed parsed;
        const Bytes made = read_file(dir / row.made[0]);
        EXPECT_EQ(unpack ? "" : parse_container(made, row.level, parsed), "");
        EXPECT_TRUE((unpack ? made : parsed.image) == read_file(dir / "in")) << "not the image";
        EXPECT_EQ(parsed.areas, row.areas);
    }
}

}  // namespace

namespace {

// QIVPAK_THREADS outside 1..1024, or not a number, is said once and the run goes on with every CPU.
TEST(CommandLine, AThreadCountThatIsNoNumberFrom1To1024IsWarnedOfAndTheDefaultUsed) {
    const std::pair<std::string, std::string> rows[] = {
        {"1", ""},
        {"1024", ""},
        {"abc", "Warning: QIVPAK_THREADS=\"abc\" is not a number from 1 to 1024; the default is used\n"},
        {"0", "Warning: QIVPAK_THREADS=\"0\" is not a number from 1 to 1024; the default is used\n"},
        {"1025", "Warning: QIVPAK_THREADS=\"1025\" is not a number from 1 to 1024; the default is used\n"},
        {"-2", "Warning: QIVPAK_THREADS=\"-2\" is not a number from 1 to 1024; the default is used\n"},
        {"4x", "Warning: QIVPAK_THREADS=\"4x\" is not a number from 1 to 1024; the default is used\n"},
    };
    for (const auto& [setting, warning] : rows) {
        SCOPED_TRACE(setting);
        TempDir dir;
        write_file(dir / "in", Bytes(20000, 0));
        const ProcessResult r = run_tool(dir, {"in", "out"}, setting);
        EXPECT_EQ(r.out, kBanner + warning + kPackZeros);
        EXPECT_EQ(r.status, 0);
        Parsed parsed;
        EXPECT_EQ(parse_container(read_file(dir / "out"), -1, parsed), "");
    }
}

}  // namespace
