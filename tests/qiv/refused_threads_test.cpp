// refused_threads_test.cpp - qiv verify whose threads the system mostly refuses hashes every image as before
#include "support/container.hpp"

#include <gtest/gtest.h>

namespace {

using namespace qivtest;

// make_image("ttn", 3 MiB + 5, 15), four chunks of the hashing pass; hashes from sha1sum, md5sum and
// Python's zlib.crc32.
const std::string kBigLine =
    "big.qiv: 3145733 bytes, crc32 5053a58e, md5 9776e9ee27e6ace389e8eb988c104697, "
    "sha1 a39ee09d2b91dde7fe4e420db3cb41af5a0c19ea\n";

// A process that may start only `allowed` threads in all (a preloaded library standing in for a process
// limit) verifies three containers with 8 readers asked for: the first passes get a few threads, the
// last none at all and run on the calling thread alone. Each gives the same line as with every
// thread, and damage is still named by its first frame in image order.
TEST(QivRefusedThreads, VerifyHashesEveryImageWithTheThreadsItGets) {
    TempDir dir;
    write_file(dir / "big", make_image("ttn", 3 * 1048576 + 5, 15));
    ASSERT_EQ(run_tool(dir, {"big", "big.qiv"}).status, 0);
    Bytes packed = read_file(dir / "big.qiv");
    for (const std::size_t frame : {300, 200}) packed[get_le32(packed, 32 + 4 * frame) + 40] ^= 0x5a;
    write_file(dir / "damaged.qiv", packed);
    for (const char* allowed : {"0", "2", "8"}) {  // a pass here asks for 6 threads beside its own
        SCOPED_TRACE(std::string("threads allowed: ") + allowed);
        const ProcessOptions options{dir.path.string(),
                                     {{"LD_PRELOAD", QIVPAK_REFUSE_THREADS},
                                      {"QIVPAK_TEST_THREADS_ALLOWED", allowed},
                                      {"ASAN_OPTIONS", "verify_asan_link_order=0"}},
                                     60, {}};
        const ProcessResult r =
            run_process({QIV_BINARY, "verify", "--threads", "8", "big.qiv", "damaged.qiv", "big.qiv"}, options);
        if (r.err.find("thread refused") == std::string::npos)
            GTEST_SKIP() << "the preloaded library is not in effect (a sanitizer runtime intercepts threads)";
        EXPECT_EQ(r.out, kBigLine + kBigLine);
        EXPECT_EQ(r.err,
                  "thread refused\nqiv: damaged.qiv: frame 200: Error while decompressing (corrupt input?)\n");
        EXPECT_EQ(r.status, 1);
    }
}

}  // namespace
