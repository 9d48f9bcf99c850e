// round_trip_property_test.cpp - random images pack and unpack to themselves, alike at one thread and at many
#include "support/container.hpp"

#include <qivpak/reader.hpp>

#include <gtest/gtest.h>

#include <thread>

namespace {

using namespace qivtest;

TEST(RoundTrip, RandomImagesComeBackAndOneThreadWritesWhatManyWrite) {
    const std::size_t sizes[] = {0, 1, 8191, 8192, 8193, 3 * kFrame, 300 * kFrame + 77};
    const std::vector<std::string> option_lines[] = {{}, {"-a"}, {"-l9"}, {"-a4000", "-l9"}};
    // Seeds 1 to 28 meet every pair of image kind and size.
    for (std::uint32_t seed = 1; seed <= 28; ++seed) {
        std::mt19937 gen(seed);
        const std::string kind(1, "ztnm"[seed % 4]);
        const std::size_t size = sizes[seed % std::size(sizes)];
        const std::vector<std::string>& options = option_lines[gen() % std::size(option_lines)];
        const std::string threads[2] = {"1", std::to_string(2 + gen() % 15)};
        SCOPED_TRACE("seed " + std::to_string(seed) + ": " + kind + " image of " + std::to_string(size) +
                     " bytes, " + testing::PrintToString(options) + ", 1 and " + threads[1] + " threads");
        TempDir dir;
        const Bytes image = make_image(kind, size, seed);
        write_file(dir / "in", image);
        std::string seen[2];  // console text and info file of each pack, then the unpack's console text
        for (int k = 0; k < 2; ++k) {
            const std::string c = "c" + threads[k], info = "info" + threads[k], back = "back" + threads[k];
            std::vector<std::string> args = options;
            args.insert(args.end(), {"in", c, info});
            const ProcessResult packed = run_tool(dir, args, threads[k]);
            const ProcessResult unpacked = run_tool(dir, {"-d", c, back}, threads[k]);
            ASSERT_EQ(packed.status, 0) << packed.out;
            ASSERT_EQ(unpacked.status, 0) << unpacked.out;
            seen[k] = packed.out + read_text(dir / info) + unpacked.out;
            EXPECT_TRUE(read_file(dir / back) == image) << "unpacked at " << threads[k] << " threads";
        }
        EXPECT_EQ(seen[0], seen[1]);
        const Bytes container = read_file(dir / ("c" + threads[0]));
        EXPECT_TRUE(container == read_file(dir / ("c" + threads[1]))) << "containers differ";
        Parsed parsed;
        EXPECT_EQ(parse_container(container, std::count(options.begin(), options.end(), "-l9") ? 9 : -1, parsed), "");
        EXPECT_TRUE(parsed.image == image);
        // The public reader gives any range of the image, from several threads at once.
        const qivpak::QivReader reader((dir / ("c" + threads[1])).string());
        std::vector<std::thread> readers;
        for (std::uint32_t t = 0; t < 3; ++t)
            readers.emplace_back([&, t] {
                std::mt19937 pick(seed * 3 + t);
                for (int k = 0; k < 40; ++k) {
                    const std::size_t at = pick() % (size + 100), length = pick() % 3 ? pick() % 20 : pick() % 30000;
                    Bytes got(length);
                    const std::size_t n = at < size ? std::min(length, size - at) : 0;
                    EXPECT_EQ(reader.read(at, got.data(), length), n) << at << "+" << length;
                    EXPECT_TRUE(std::equal(got.begin(), got.begin() + n, image.begin() + std::min(at, size)));
                }
            });
        for (auto& r : readers) r.join();
    }
}

}  // namespace
