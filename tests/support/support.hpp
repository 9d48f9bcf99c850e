// support.hpp - scratch folders, whole files, seeded test images, and runs of the built tool
#pragma once

#include "support/process.hpp"

#include <filesystem>
#include <fstream>
#include <iterator>
#include <random>
#include <set>
#include <string_view>

namespace qivtest {

namespace fs = std::filesystem;
using Bytes = std::vector<std::uint8_t>;
inline constexpr std::size_t kFrame = 8192;
inline const std::string kBanner = "QIV Creator 0.3 (by Brenlo)\n\n";

inline std::string read_text(const fs::path& path) {  // empty when the file cannot be read
    std::ifstream in(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

// A text file the tool wrote (the info file) as a reader in text mode sees it: on Windows each
// "\r\n" becomes "\n" and a "\n" without its "\r" becomes BARE_NEWLINE, so line ends are checked too.
inline std::string read_lines(const fs::path& path) {
#ifdef _WIN32
    return text_mode(read_text(path));
#else
    return read_text(path);
#endif
}

inline Bytes read_file(const fs::path& path) {
    const std::string text = read_text(path);
    return Bytes(text.begin(), text.end());
}

inline void write_file(const fs::path& path, std::string_view data) { std::ofstream(path, std::ios::binary) << data; }

inline void write_file(const fs::path& path, const Bytes& data) {
    write_file(path, std::string_view(reinterpret_cast<const char*>(data.data()), data.size()));
}

// A fresh folder, removed with everything in it when the object goes.
struct TempDir {
    fs::path path = fs::temp_directory_path() / ("qivpak-test-" + std::to_string(std::random_device()()));
    TempDir() { fs::create_directory(path); }
    ~TempDir() {
        std::error_code ignored;
        fs::remove_all(path, ignored);
    }
    fs::path operator/(const std::string& name) const { return path / name; }
    std::set<std::string> files() const {  // every entry below the folder, relative to it
        std::set<std::string> names;
        for (const auto& e : fs::recursive_directory_iterator(path)) names.insert(fs::relative(e.path(), path).generic_string());
        return names;
    }
};

// An image of `size` bytes whose frame i is of the kind kinds[i % kinds.size()]: 'z' zeros, 't' text
// (compresses to about a third, differently at each level), 'n' noise (does not compress), 'm' one of
// those three picked at random. The same arguments give the same bytes.
inline Bytes make_image(std::string_view kinds, std::size_t size, std::uint32_t seed) {
    static constexpr std::string_view kWords[] = {"sector ", "frame ", "volume ", "track ", "index ", "zlib ",
                                                  "disc ",   "image ", "movie ",  "audio ", "\n",     "2048 "};
    std::mt19937 gen(seed);
    Bytes image;
    for (std::size_t i = 0; image.size() < size; ++i) {
        const char kind = kinds[i % kinds.size()] == 'm' ? "ztn"[gen() % 3] : kinds[i % kinds.size()];
        for (const std::size_t end = image.size() + kFrame; image.size() < end;) {
            const std::string_view word = kind == 't' ? kWords[gen() % std::size(kWords)] : "";
            if (kind == 't') image.insert(image.end(), word.begin(), word.end());
            else image.push_back(kind == 'n' ? static_cast<std::uint8_t>(gen() >> 24) : 0);
        }
        image.resize((i + 1) * kFrame);
    }
    image.resize(size);
    return image;
}

// Runs the built tool in `dir`, with QIVPAK_THREADS set to `threads` unless that is empty.
inline ProcessResult run_tool(const TempDir& dir, std::vector<std::string> args, const std::string& threads = "") {
    args.insert(args.begin(), QIVPAK_BINARY);
    ProcessOptions options{dir.path.string(), {}, 100, {}};
    if (!threads.empty()) options.env.emplace_back("QIVPAK_THREADS", threads);
    return run_process(args, options);
}

}  // namespace qivtest
