// container.hpp - the tests' own reading of the container layout, to check what the tool writes
//
// Layout: a 32-byte header ("QIV" and a zero byte, u32 image size, u32 version, u32 area count, 16 zero
// bytes); n u32 frame offsets and n u16 stored lengths, n being the image size over 8192 rounded up;
// when the area count is not 0, 192 areas of {u32 first frame, u32 frame count}; then the frames back
// to back. A frame inside one of the counted areas is its 8192 plain bytes, any other is the zlib stream
// of its plain bytes (8192 of them, fewer for the last frame). All numbers are little-endian.
#pragma once

#include "support/support.hpp"

#include <zlib.h>

#include <algorithm>
#include <string>
#include <utility>

namespace qivtest {

// The verify lines of two images the qiv tests make, worked out once with
// sha1sum, md5sum and Python's zlib.crc32, never by the code under test.
inline const std::string kZerosLine =  // 20000 zero bytes
    "zeros.qiv: 20000 bytes, crc32 972f5302, md5 b2fe457348de243a579a1591d3815170, "
    "sha1 9bd7c3d157e82753fd2bf3a9df26bea49bc29caf\n";
inline const std::string kTextLine =  // "qiv verify\n"
    "text.qiv: 11 bytes, crc32 43d92781, md5 44d8dc089fa8de6a1fbd31c8dbcd15dd, "
    "sha1 d71363c5b52b8831851504574eca837ecdfaa33c\n";


using Areas = std::vector<std::pair<std::uint32_t, std::uint32_t>>;

// Little-endian numbers in a file's bytes.
inline std::uint32_t get_le32(const Bytes& b, std::size_t at) {
    return b[at] | b[at + 1] << 8 | b[at + 2] << 16 | std::uint32_t{b[at + 3]} << 24;
}
inline void put_le(Bytes& b, std::size_t at, std::uint64_t v, std::size_t bytes = 4) {
    for (std::size_t k = 0; k < bytes; ++k) b[at + k] = static_cast<std::uint8_t>(v >> (8 * k));
}

// A frame as the tool stores it: compress2's stream of its plain bytes.
inline Bytes deflated(const Bytes& plain, int level = Z_DEFAULT_COMPRESSION) {
    Bytes out(compressBound(static_cast<uLong>(plain.size())));
    uLongf len = static_cast<uLongf>(out.size());
    compress2(out.data(), &len, plain.data(), static_cast<uLong>(plain.size()), level);
    return out.resize(len), out;
}

struct Parsed {
    Areas areas;  // the counted areas
    Bytes image;  // the plain image the frames give
};

// Reads `file` as the tool must write it at zlib `level` (each stream is what compress2 makes of its
// frame). Returns "" and fills `out`, or names the first place where the file departs from the layout.
inline std::string parse_container(const Bytes& file, int level, Parsed& out) {
    const auto u32 = [&](std::size_t at) { return get_le32(file, at); };
    if (file.size() < 32 || !std::equal(file.begin(), file.begin() + 4, "QIV") ||
        std::any_of(file.begin() + 16, file.begin() + 32, [](std::uint8_t b) { return b != 0; }))
        return "header";
    const std::uint32_t size = u32(4), count = u32(12), n = (size + std::uint64_t{kFrame} - 1) / kFrame;
    if (u32(8) != (count != 0 ? 1u : 0u) || count > 192) return "version or area count";
    std::size_t at = 32 + 6 * std::size_t{n} + (count != 0 ? 1536 : 0);
    if (file.size() < at) return "tables";
    for (std::uint32_t a = 0; a < (count != 0 ? 192u : 0u); ++a) {
        const std::pair<std::uint32_t, std::uint32_t> area{u32(32 + 6 * n + 8 * a), u32(32 + 6 * n + 8 * a + 4)};
        if (a < count) out.areas.push_back(area);
        else if (area.first != 0 || area.second != 0) return "area table entry " + std::to_string(a);
    }
    for (std::uint32_t i = 0; i < n; ++i) {
        const std::size_t length = file[32 + 4 * n + 2 * i] | file[32 + 4 * n + 2 * i + 1] << 8;
        const std::size_t plain = std::min<std::size_t>(kFrame, size - std::size_t{i} * kFrame);
        if (u32(32 + 4 * i) != at || at + length > file.size()) return "offset of frame " + std::to_string(i);
        const Bytes stored(file.begin() + static_cast<std::ptrdiff_t>(at),
                           file.begin() + static_cast<std::ptrdiff_t>(at + length));
        bool raw = false;
        for (const auto& [first, frames] : out.areas) raw = raw || (i >= first && i - first < frames);
        if (raw) {
            if (length != kFrame) return "raw frame " + std::to_string(i);
            out.image.insert(out.image.end(), stored.begin(), stored.begin() + static_cast<std::ptrdiff_t>(plain));
        } else {
            Bytes back(plain), again(compressBound(kFrame));
            uLongf back_len = plain, again_len = again.size();
            if (length > 9216 || uncompress(back.data(), &back_len, stored.data(), length) != Z_OK ||
                back_len != plain || compress2(again.data(), &again_len, back.data(), plain, level) != Z_OK ||
                !std::equal(stored.begin(), stored.end(), again.begin(), again.begin() + again_len))
                return "stream of frame " + std::to_string(i);
            out.image.insert(out.image.end(), back.begin(), back.end());
        }
        at += length;
    }
    return at == file.size() ? "" : "bytes after the last frame";
}

}  // namespace qivtest
