// test_data.hpp - reproducible image contents: incompressible noise and compressible text
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <random>
#include <string_view>
#include <vector>

namespace qivtest {

// Bytes that zlib cannot shrink: every frame stores a little longer than it is.
inline std::vector<std::uint8_t> random_bytes(std::size_t size, std::uint32_t seed) {
    std::mt19937 gen(seed);
    std::vector<std::uint8_t> data(size);
    for (auto& b : data) b = static_cast<std::uint8_t>(gen() >> 24);
    return data;
}

// Text of words picked at random: compresses to roughly a third, and the
// compression levels give different streams for it.
inline std::vector<std::uint8_t> text_bytes(std::size_t size, std::uint32_t seed) {
    static constexpr std::array<std::string_view, 24> words = {
        "sector ", "frame ", "volume ", "track ", "index ", "offset ", "length ", "zlib ",
        "disc ", "image ", "header ", "table ", "movie ", "audio ", "raw ", "area ",
        "0x1F ", "2048 ", "8192 ", "QIV ", "\n", "data ", "block ", "extent "};
    std::mt19937 gen(seed);
    std::vector<std::uint8_t> data;
    data.reserve(size + 16);
    while (data.size() < size) {
        const auto w = words[gen() % words.size()];
        data.insert(data.end(), w.begin(), w.end());
        if (gen() % 7 == 0) data.push_back(static_cast<std::uint8_t>('a' + gen() % 26));
    }
    data.resize(size);
    return data;
}

}  // namespace qivtest
