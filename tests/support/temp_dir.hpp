// temp_dir.hpp - a scratch directory removed with its contents, and whole-file read and write
#pragma once

#include <cstdint>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <random>
#include <set>
#include <stdexcept>
#include <string>
#include <vector>

namespace qivtest {

using Bytes = std::vector<std::uint8_t>;

inline Bytes read_file(const std::filesystem::path& p) {
    std::ifstream in(p, std::ios::binary);
    if (!in) throw std::runtime_error("cannot read " + p.string());
    return Bytes(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

inline std::string read_text(const std::filesystem::path& p) {
    const Bytes b = read_file(p);
    return std::string(b.begin(), b.end());
}

inline void write_file(const std::filesystem::path& p, const Bytes& data) {
    std::ofstream out(p, std::ios::binary | std::ios::trunc);
    out.write(reinterpret_cast<const char*>(data.data()), static_cast<std::streamsize>(data.size()));
    if (!out) throw std::runtime_error("cannot write " + p.string());
}

inline void write_text(const std::filesystem::path& p, const std::string& text) {
    write_file(p, Bytes(text.begin(), text.end()));
}

// A fresh directory under the system's temporary directory; it and everything
// in it are removed when the object goes.
class TempDir {
public:
    TempDir() {
        // A name nobody else has: create_directory fails on one that exists.
        std::random_device seed;
        std::mt19937_64 pick(static_cast<std::uint64_t>(seed()) << 32 | seed());
        const auto base = std::filesystem::temp_directory_path();
        for (int attempt = 0; attempt < 100; ++attempt) {
            path_ = base / ("qivpak-test-" + std::to_string(pick()));
            if (std::filesystem::create_directory(path_)) return;
        }
        throw std::runtime_error("cannot make a temporary directory in " + base.string());
    }
    ~TempDir() {
        std::error_code ec;
        std::filesystem::remove_all(path_, ec);
    }
    TempDir(const TempDir&) = delete;
    TempDir& operator=(const TempDir&) = delete;

    const std::filesystem::path& path() const { return path_; }
    std::filesystem::path operator/(const std::string& name) const { return path_ / name; }
    std::string file(const std::string& name) const { return (path_ / name).string(); }

    // Paths of all regular files below the directory, relative to it, with "/" between names.
    std::set<std::string> files() const {
        std::set<std::string> names;
        for (const auto& e : std::filesystem::recursive_directory_iterator(path_))
            if (e.is_regular_file()) names.insert(std::filesystem::relative(e.path(), path_).generic_string());
        return names;
    }

private:
    std::filesystem::path path_;
};

}  // namespace qivtest
