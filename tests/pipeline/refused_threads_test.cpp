// refused_threads_test.cpp - a run whose worker threads the system refuses writes the same bytes, and says nothing
#include "support/support.hpp"

#include <gtest/gtest.h>

namespace {

using namespace qivtest;

TEST(RefusedThreads, RunGoesOnWithTheThreadsThatStarted) {
    TempDir dir;
    write_file(dir.path / "image", make_image("tnmz", 40 * 8192 + 100, 3));
    const ProcessResult pack = run_tool(dir, {"-a", "image", "one.qiv"}, "1");
    const ProcessResult unpack = run_tool(dir, {"-d", "one.qiv", "one.img"}, "1");
    ASSERT_EQ(pack.status, 0);
    for (const char* allowed : {"0", "2"}) {
        SCOPED_TRACE(std::string("threads allowed: ") + allowed);
        ProcessOptions options{dir.path, {{"LD_PRELOAD", QIVPAK_REFUSE_THREADS},
                                          {"QIVPAK_TEST_THREADS_ALLOWED", allowed},
                                          {"QIVPAK_THREADS", "16"},
                                          {"ASAN_OPTIONS", "verify_asan_link_order=0"}},
                                 60, {}};
        const ProcessResult refused = run_process({QIVPAK_BINARY, "-a", "image", "many.qiv"}, options);
        if (refused.err.find("thread refused") == std::string::npos)
            GTEST_SKIP() << "the preloaded library is not in effect (a sanitizer runtime intercepts threads)";
        EXPECT_EQ(refused.status, 0);
        EXPECT_EQ(refused.out, pack.out);
        EXPECT_EQ(read_file(dir.path / "many.qiv"), read_file(dir.path / "one.qiv"));
        const ProcessResult restored = run_process({QIVPAK_BINARY, "-d", "one.qiv", "many.img"}, options);
        EXPECT_EQ(restored.status, 0);
        EXPECT_EQ(restored.out, unpack.out);
        EXPECT_EQ(read_file(dir.path / "many.img"), read_file(dir.path / "image"));
    }
}

}  // namespace
