// api_test.cpp - pack() and unpack() as another program uses them: results, progress and error texts
#include <qivpak/pack.hpp>

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <random>
#include <type_traits>

namespace {

namespace fs = std::filesystem;
static_assert(std::is_base_of_v<qivpak::Error, qivpak::QivFormatError>);

class Api : public ::testing::Test {
protected:
    void SetUp() override {
        dir_ = fs::temp_directory_path() / ("qivpak-api-" + std::to_string(::testing::UnitTest::GetInstance()->random_seed()) +
                                            "-" + ::testing::UnitTest::GetInstance()->current_test_info()->name());
        fs::create_directories(dir_);
    }
    void TearDown() override { fs::remove_all(dir_); }
    std::string path(const std::string& name) const { return (dir_ / name).string(); }
    std::string write(const std::string& name, const std::string& bytes) const {
        std::ofstream(path(name), std::ios::binary) << bytes;
        return path(name);
    }
    static std::string read(const std::string& p) {
        std::ifstream in(p, std::ios::binary);
        return {std::istreambuf_iterator<char>(in), {}};
    }
    fs::path dir_;
};

// 3 frames of text, 2 of noise, 1 of text: -a finds frames 3..4 (the run is
// closed by frame 5), each stored raw.
std::string mixed_image() {
    std::string image;
    for (int i = 0; image.size() < 3 * 8192; ++i) image += "line " + std::to_string(i) + "\n";
    image.resize(3 * 8192);
    std::mt19937 random(1);
    for (int i = 0; i < 2 * 8192; ++i) image += static_cast<char>(random());
    image += std::string(8192, 'z');
    return image;
}

TEST_F(Api, PacksUnpacksAndReportsEveryStage) {
    const std::string image = write("disc.iso", mixed_image());
    std::vector<std::string> seen;
    qivpak::PackOptions options;
    options.analyze = true;
    options.threads = 3;
    options.progress = [&](const qivpak::Progress& p) {
        static const char* const names[] = {"media_scan", "analysis", "packing", "unpacking"};
        seen.push_back(std::string(names[static_cast<int>(p.stage)]) + " " + std::to_string(p.done) + "/" +
                       std::to_string(p.total));
    };
    const qivpak::PackResult result = qivpak::pack(image, path("disc.qiv"), options);
    EXPECT_EQ(result.image_size, 6u * 8192);
    EXPECT_EQ(result.frames, 6u);
    EXPECT_EQ(result.container_size, fs::file_size(path("disc.qiv")));
    ASSERT_EQ(result.nc_areas.size(), 1u);
    EXPECT_EQ(result.nc_areas[0].frame_start, 3u);
    EXPECT_EQ(result.nc_areas[0].num_frames, 2u);
    ASSERT_EQ(seen.size(), 14u);
    EXPECT_EQ(seen.front(), "analysis 0/6");
    EXPECT_EQ(seen[6], "analysis 6/6");
    EXPECT_EQ(seen[7], "packing 0/6");
    EXPECT_EQ(seen.back(), "packing 6/6");

    seen.clear();
    qivpak::unpack(path("disc.qiv"), path("back.iso"), {1, options.progress});
    EXPECT_EQ(read(path("back.iso")), read(image));
    EXPECT_EQ(seen.back(), "unpacking 6/6");
}

TEST_F(Api, FailuresCarryTheToolsMessage) {
    const std::string image = write("disc.iso", "some bytes");
    const std::string missing = path("none/x");
    struct Row {
        const char* name;
        std::function<void()> call;
        std::string message;
    };
    const Row rows[] = {
        {"image missing", [&] { qivpak::pack(missing, path("o.qiv")); }, "Error: cannot open input file " + missing},
        {"container not creatable", [&] { qivpak::pack(image, missing); }, "Error: cannot create output file " + missing},
        {"container is the image", [&] { qivpak::pack(image, image); }, "Error: output file " + image + " is the input file"},
        {"device full", [&] { qivpak::pack(image, "/dev/full"); }, "I/O write error."},
        {"level out of range",
         [&] {
             qivpak::PackOptions options;
             options.level = 10;
             qivpak::pack(image, path("o.qiv"), options);
         },
         "Error: zlib level 10 is not 0 to 9"},
        {"not a container", [&] { qivpak::unpack(image, path("o.iso")); }, "Input is not a valid QIV file."},
        {"container missing", [&] { qivpak::unpack(missing, path("o.iso")); }, "Cannot open input file " + missing},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.name);
        try {
            row.call();
            ADD_FAILURE() << "no error";
        } catch (const qivpak::Error& error) {
            EXPECT_EQ(error.what(), row.message);
        }
    }
}

}  // namespace
