// api_test.cpp - pack() and unpack() as another program uses them: results, progress and error texts
#include "support/support.hpp"

#include <qivpak/pack.hpp>

#include <gtest/gtest.h>

#include <functional>
#include <type_traits>

namespace {

using namespace qivtest;
static_assert(std::is_base_of_v<qivpak::Error, qivpak::QivFormatError>);

TEST(Api, PacksUnpacksAndReportsEveryStage) {
    // Text, then two frames of noise that -a stores raw (the run is closed by the last frame), then zeros.
    TempDir dir;
    write_file(dir / "disc.iso", make_image("tttnnz", 6 * kFrame, 1));
    std::vector<std::string> seen;
    qivpak::PackOptions options;
    options.analyze = true;
    options.threads = 3;
    options.progress = [&](const qivpak::Progress& p) {
        seen.push_back(std::to_string(static_cast<int>(p.stage)) + ":" + std::to_string(p.done) + "/" +
                       std::to_string(p.total));
    };
    const qivpak::PackResult result = qivpak::pack((dir / "disc.iso").string(), (dir / "disc.qiv").string(), options);
    EXPECT_EQ(result.image_size, 6u * kFrame);
    EXPECT_EQ(result.frames, 6u);
    EXPECT_EQ(result.container_size, fs::file_size(dir / "disc.qiv"));
    ASSERT_EQ(result.nc_areas.size(), 1u);
    EXPECT_EQ(result.nc_areas[0].frame_start, 3u);
    EXPECT_EQ(result.nc_areas[0].num_frames, 2u);
    // Stage 1 (analysis) 0/6 to 6/6, then stage 2 (packing) 0/6 to 6/6.
    ASSERT_EQ(seen.size(), 14u);
    EXPECT_EQ(seen[0] + " " + seen[6] + " " + seen[7] + " " + seen[13], "1:0/6 1:6/6 2:0/6 2:6/6");

    const qivpak::QivReader reader((dir / "disc.qiv").string());
    EXPECT_EQ(reader.version(), 1u);
    EXPECT_EQ(reader.container_size(), result.container_size);

    seen.clear();
    qivpak::unpack((dir / "disc.qiv").string(), (dir / "back.iso").string(), {1, options.progress, {}});
    EXPECT_EQ(read_file(dir / "back.iso"), read_file(dir / "disc.iso"));
    EXPECT_EQ(seen.back(), "3:6/6");
}

TEST(Api, FailuresCarryTheToolsMessage) {
    TempDir dir;
    write_file(dir / "disc.iso", "some bytes");
    const std::string image = (dir / "disc.iso").string(), out = (dir / "o").string(), none = (dir / "no/x").string();
    qivpak::PackOptions level10;
    level10.level = 10;
    int asked = 0;  // the runs below stop when asked the second time
    qivpak::PackOptions stop;
    stop.should_stop = [&] { return ++asked == 2; };
    write_file(dir / "three.iso", make_image("t", 3 * kFrame, 2));
    const std::string three = (dir / "three.iso").string(), packed = (dir / "three.qiv").string();
    qivpak::pack(three, packed);
    const std::pair<std::function<void()>, std::string> rows[] = {
        {[&] { qivpak::pack(none, out); }, "Error: cannot open input file " + none},
        {[&] { qivpak::pack(image, none); }, "Error: cannot create output file " + none},
        {[&] { qivpak::pack(image, image); }, "Error: output file " + image + " is the input file"},
        {[&] { qivpak::pack(image, "/dev/full"); }, "I/O write error."},
        {[&] { qivpak::pack(image, out, level10); }, "Error: zlib level 10 is not 0 to 9"},
        {[&] { qivpak::unpack(image, out); }, "Input is not a valid QIV file."},
        {[&] { qivpak::unpack(none, out); }, "Cannot open input file " + none},
        {[&] { asked = 0, qivpak::pack(three, out, stop); }, "Stopped."},
        {[&] { asked = 0, qivpak::unpack(packed, out, {1, {}, stop.should_stop}); }, "Stopped."},
    };
    for (const auto& [call, message] : rows) {
        try {
            call();
            ADD_FAILURE() << "no error for " << message;
        } catch (const qivpak::Error& error) {
            EXPECT_EQ(error.what(), message);
            EXPECT_EQ(dynamic_cast<const qivpak::Stopped*>(&error) != nullptr, message == "Stopped.");
        }
    }
    EXPECT_EQ(asked, 2);
}

}  // namespace

namespace {

// Bytes added to the image while it is packed are not packed, and the result says so.
TEST(Api, AnImageThatGrowsWhileItIsPackedIsPackedAtItsFirstSizeAndSaysSo) {
    TempDir dir;
    const Bytes image = make_image("ttt", 3 * kFrame, 4);
    write_file(dir / "disc.iso", image);
    const std::string path = (dir / "disc.iso").string();
    for (const bool grows : {false, true}) {
        SCOPED_TRACE(grows ? "grows" : "stays");
        write_file(dir / "disc.iso", image);
        qivpak::PackOptions options;
        options.threads = 1;
        options.progress = [&](const qivpak::Progress& p) {
            if (!grows || p.stage != qivpak::Stage::packing || p.done != 1) return;
            std::FILE* file = std::fopen(path.c_str(), "ab");
            ASSERT_NE(file, nullptr);
            std::fputs("more", file);
            std::fclose(file);
        };
        const qivpak::PackResult result = qivpak::pack(path, (dir / "disc.qiv").string(), options);
        EXPECT_EQ(result.image_grew, grows);
        EXPECT_EQ(result.image_size, 3u * kFrame);
        qivpak::unpack((dir / "disc.qiv").string(), (dir / "back.iso").string());
        EXPECT_EQ(read_file(dir / "back.iso"), image);
    }
}

}  // namespace
