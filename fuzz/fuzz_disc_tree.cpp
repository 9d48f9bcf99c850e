// fuzz_disc_tree.cpp - any bytes as a disc: its tree walks and its files read within the bounds the API promises
//
// Input: the image from logical sector 16 on (the sectors before it are
// zero), so the first volume descriptor is the input's first 2048 bytes. The
// image goes into a container in memory, every frame stored raw (one NC area
// of them all), opened by a QivReader through /proc/self/fd. A DiscTree over
// it must refuse the disc with a DiscError, or walk its whole tree (ending in
// a DiscError, or not): every file read whole, each read giving every byte
// its size promises, and each file's size the sum of its extents. The reader
// never refuses a frame (the container is sound). Files' bytes read are
// capped per input, for what a disc of many records pointing at the same
// bytes would make a walk read.
#include "format/nc_area_table.hpp"
#include "format/qiv_format.hpp"
#include "fuzz_check.hpp"

#include <qivpak/disc.hpp>

#include <sys/mman.h>
#include <unistd.h>

#include <array>
#include <span>
#include <cstdint>
#include <string>
#include <vector>

namespace {

constexpr std::size_t kLeadingZeros = 16 * 2048;
constexpr std::uint64_t kMaxFileBytes = 64u << 20;  // read per input

// The container of `image` (a whole number of frames), every frame raw, in a file in memory.
int container_of(const std::vector<std::uint8_t>& image) {
    const auto frames = static_cast<std::uint32_t>(image.size() / qivpak::FRAME_SIZE);
    qivpak::NcAreaTable areas{};
    areas[0] = {0, frames};
    std::vector<std::uint32_t> offsets(frames);
    for (std::uint32_t i = 0; i < frames; ++i)
        offsets[i] = static_cast<std::uint32_t>(qivpak::data_start(frames, true) + std::uint64_t{i} * qivpak::FRAME_SIZE);
    const auto header = qivpak::encode_header({static_cast<std::uint32_t>(image.size()), 1, 1});
    const auto index = qivpak::encode_index(offsets, std::vector<std::uint16_t>(frames, qivpak::FRAME_SIZE));
    const auto table = qivpak::encode_nc_table(areas);
    const int fd = ::memfd_create("disc", MFD_CLOEXEC);
    for (const std::span<const std::uint8_t> part : {std::span<const std::uint8_t>(header), std::span(index),
                                                     std::span<const std::uint8_t>(table), std::span(image)})
        check(fd >= 0 && ::write(fd, part.data(), part.size()) == ssize_t(part.size()), "a container not written");
    return fd;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    if (size > (1u << 20)) return 0;
    std::vector<std::uint8_t> image(kLeadingZeros, 0);
    image.insert(image.end(), data, data + size);
    image.resize((image.size() + qivpak::FRAME_SIZE - 1) / qivpak::FRAME_SIZE * qivpak::FRAME_SIZE);
    const int fd = container_of(image);
    const qivpak::QivReader reader("/proc/self/fd/" + std::to_string(fd));
    ::close(fd);  // the reader holds a file of its own
    std::uint64_t file_bytes = 0;
    std::array<std::uint8_t, 3000> buffer;
    try {
        const qivpak::DiscTree tree(reader);
        tree.walk(tree.root(), [&](const qivpak::DiscEntry& entry) {
            std::uint64_t sum = 0;
            for (const qivpak::DiscExtent& extent : entry.extents) sum += extent.length;
            check(sum == entry.size, "a size that is not the sum of its extents");
            if (entry.kind == qivpak::EntryKind::folder) return;
            if (!entry.unsafe_name) tree.find(entry.path);
            for (std::uint64_t at = 0; at < entry.size && file_bytes < kMaxFileBytes; at += buffer.size()) {
                const std::size_t want = static_cast<std::size_t>(std::min<std::uint64_t>(buffer.size(), entry.size - at));
                check(tree.read(entry, at, buffer.data(), buffer.size()) == want, "a read short of the file's size");
                file_bytes += want;
            }
            check(tree.read(entry, entry.size, buffer.data(), buffer.size()) == 0, "bytes past the end of a file");
        });
    } catch (const qivpak::DiscError&) {
        // a refusal: what a disc may end in
    } catch (const qivpak::QivFormatError& e) {
        check(false, e.what());
    }
    return 0;
}
