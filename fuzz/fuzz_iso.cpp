// fuzz_iso.cpp - libFuzzer target: the ISO 9660 directory search and the media scan over arbitrary images
//
// Input: 16 settings bytes, then image bytes.
//   byte 0   bit 7: search without a filter; bits 0-3: the filter's criteria;
//            bit 4: the media scan looks for movie files, bit 5: for audio files
//   byte 1   bits 0-1: dir_mode (0, 2, 1, -1); bits 2-3: length_mode (0, 1, 2, 7);
//            bits 4-5: how many bytes of each sector the image bytes fill (2048, 1024, 512, 256)
//   byte 2   capacity of the search
//   byte 3-6 ref_length, little-endian
//   byte 7   bits 0-2: length of name_part; bits 3-7: magic_len + 2
//   byte 8-15 the text that name_part and magic are taken from
// An ISO 9660 tree starts at sector 16, so the image is 16 zero sectors and
// then the image bytes, laid into the first bytes of each following sector
// (the rest of a sector stays zero). Small inputs can so hold whole trees.
#include "cli/console.hpp"
#include "cli/run_context.hpp"
#include "fuzz_support.hpp"
#include "iso/iso_search.hpp"
#include "iso/media_areas.hpp"

#include <algorithm>
#include <cstdint>
#include <span>
#include <string>
#include <string_view>
#include <vector>

namespace {

constexpr std::uint64_t kSector = 2048;
constexpr std::uint64_t kTreeStart = 16 * kSector;
constexpr std::size_t kSettings = 16;
constexpr std::size_t kWideCapacity = 256;  // more than any capacity a settings byte can ask for

// The image described above, read from memory.
class SectorImage : public qivpak::ByteSource {
public:
    SectorImage(std::span<const std::uint8_t> bytes, std::uint64_t fill) : bytes_(bytes), fill_(fill) {
        size_ = kTreeStart;
        if (!bytes.empty()) {
            const std::uint64_t last = bytes.size() - 1;
            size_ += last / fill * kSector + last % fill + 1;
        }
    }

    std::size_t read_at(std::uint64_t offset, void* buf, std::size_t len) override {
        if (offset >= size_) return 0;
        const std::size_t count = static_cast<std::size_t>(std::min<std::uint64_t>(len, size_ - offset));
        auto* out = static_cast<std::uint8_t*>(buf);
        for (std::size_t j = 0; j < count; ++j) out[j] = byte_at(offset + j);
        return count;
    }
    std::uint64_t size() const override { return size_; }

    // The same image as a file.
    void write_to(qivfuzz::MemFile& file) const {
        file.resize(size_);
        for (std::uint64_t k = 0; k < bytes_.size(); k += fill_) {
            const std::size_t len = static_cast<std::size_t>(std::min<std::uint64_t>(fill_, bytes_.size() - k));
            file.write_at(kTreeStart + k / fill_ * kSector, bytes_.data() + k, len);
        }
    }

private:
    std::uint8_t byte_at(std::uint64_t pos) const {
        if (pos < kTreeStart) return 0;
        const std::uint64_t sector = (pos - kTreeStart) / kSector;
        const std::uint64_t within = (pos - kTreeStart) % kSector;
        if (within >= fill_) return 0;
        const std::uint64_t k = sector * fill_ + within;
        return k < bytes_.size() ? bytes_[k] : 0;
    }

    std::span<const std::uint8_t> bytes_;
    std::uint64_t fill_;
    std::uint64_t size_;
};

// A second reading of the filter rules, for the records a search stored.
bool passes(qivpak::ByteSource& image, const qivpak::IsoDirRecord& record, const qivpak::IsoFilter& f) {
    using namespace qivpak;
    if ((f.criteria & ISO_MATCH_NAME) != 0 && record.name().find(f.name_part) == std::string_view::npos) return false;
    if ((f.criteria & ISO_MATCH_DIR) != 0 && ((f.dir_mode == 0 && record.is_directory()) ||
                                             (f.dir_mode == 2 && !record.is_directory())))
        return false;
    if ((f.criteria & ISO_MATCH_SIZE) != 0) {
        const std::uint32_t len = record.data_length();
        return !((f.length_mode == 0 && len != f.ref_length) || (f.length_mode == 1 && len <= f.ref_length) ||
                 (f.length_mode == 2 && len >= f.ref_length));
    }
    if ((f.criteria & ISO_MATCH_MAGIC) != 0 && f.magic_len > 0) {
        const auto len = static_cast<std::size_t>(f.magic_len);
        if (len > f.magic.size()) return false;
        std::string head(len, '\0');
        return image.read_at(record.extent_offset(), head.data(), len) == len && head == f.magic.substr(0, len);
    }
    return true;
}

std::vector<qivpak::IsoDirRecord> search(qivpak::ByteSource& image, std::size_t capacity,
                                         const qivpak::IsoFilter* filter) {
    std::vector<qivpak::IsoDirRecord> results(capacity);
    const int found = qivpak::iso_find_files(image, results, filter);
    qivfuzz::check(found >= 0 && static_cast<std::size_t>(found) <= capacity, "count within capacity",
                   std::to_string(found) + " of " + std::to_string(capacity));
    results.resize(static_cast<std::size_t>(found));
    return results;
}

bool same(const qivpak::IsoDirRecord& a, const qivpak::IsoDirRecord& b) { return a.bytes == b.bytes; }

void check_search(SectorImage& image, std::size_t capacity, const qivpak::IsoFilter* filter) {
    const auto everything = search(image, kWideCapacity, nullptr);
    for (const auto& record : everything)
        qivfuzz::check(record.length() != 0 && record.bytes[33] > 1, "stored a self, parent or empty record");

    const auto wide = search(image, kWideCapacity, filter);
    const auto some = search(image, capacity, filter);
    // A smaller capacity only stops the same walk earlier.
    qivfuzz::check(some.size() == std::min(capacity, wide.size()), "count at a smaller capacity",
                   std::to_string(some.size()) + " against " + std::to_string(wide.size()));
    qivfuzz::check(std::equal(some.begin(), some.end(), wide.begin(), same), "results at a smaller capacity");

    if (filter == nullptr) {
        qivfuzz::check(wide.size() == everything.size() && std::equal(wide.begin(), wide.end(), everything.begin(), same),
                       "repeated search");
        return;
    }
    for (const auto& record : wide) qivfuzz::check(passes(image, record, *filter), "stored a record the filter refuses");
    // The walk does not depend on the filter: what it keeps is a part of everything, in the same order.
    if (everything.size() < kWideCapacity) {
        auto at = everything.begin();
        for (const auto& record : wide) {
            at = std::find_if(at, everything.end(), [&](const qivpak::IsoDirRecord& r) { return same(r, record); });
            qivfuzz::check(at != everything.end(), "filtered results out of the walk's order");
            ++at;
        }
    }
}

qivpak::IsoFilter media_filter(std::string_view magic) {
    qivpak::IsoFilter f;
    f.criteria = qivpak::ISO_MATCH_DIR | qivpak::ISO_MATCH_MAGIC;
    f.dir_mode = 0;
    f.magic = magic;
    f.magic_len = 4;
    return f;
}

void check_media_scan(SectorImage& image, bool want_video, bool want_audio) {
    qivfuzz::MemFile file;
    image.write_to(file);

    std::string text;
    qivpak::Console console(text, false);
    qivpak::RunContext ctx(console);
    const qivpak::NcArea untouched{0xDEADu, 0xBEEFu};
    ctx.nc_areas.fill(untouched);
    int count = -1;
    try {
        count = qivpak::find_media_areas(ctx, file.path(), want_video, want_audio);
    } catch (const qivpak::QuitRequest& request) {
        qivfuzz::fail("the media scan ended the run", std::to_string(request.code) + ": " + text);
    }
    ctx.release();

    // The same two searches over the image in memory.
    std::vector<qivpak::IsoDirRecord> expected;
    const qivpak::IsoFilter movie = media_filter("PSMF");
    const qivpak::IsoFilter audio = media_filter("RIFF");
    if (want_video) expected = search(image, static_cast<std::size_t>(qivpak::MAX_NC_AREAS), &movie);
    if (want_audio) {
        const auto more = search(image, static_cast<std::size_t>(qivpak::MAX_NC_AREAS) - expected.size(), &audio);
        expected.insert(expected.end(), more.begin(), more.end());
    }
    qivfuzz::check(count == static_cast<int>(expected.size()), "media count",
                   std::to_string(count) + " against " + std::to_string(expected.size()));

    const std::uint64_t whole_frames = image.size() / 8192;
    for (std::size_t i = 0; i < qivpak::NcAreaTable{}.size(); ++i) {
        const qivpak::NcArea area = ctx.nc_areas[i];
        if (i >= expected.size()) {
            qivfuzz::check(area == untouched, "an entry past the media areas changed");
            continue;
        }
        const auto& record = expected[i];
        qivfuzz::check(area == qivpak::media_area(record.extent(), record.data_length(), image.size()),
                       "media area of a found file");
        qivfuzz::check(area.num_frames == 0 || std::uint64_t{area.frame_start} + area.num_frames <= whole_frames,
                       "a media area reaches past the image's whole frames",
                       std::to_string(area.frame_start) + "+" + std::to_string(area.num_frames) + " of " +
                           std::to_string(whole_frames));
    }

    // The whole report, each name with every byte outside printable ASCII shown as '?'.
    std::string report = "Scanning media files...\n";
    for (const auto& record : expected) {
        std::string shown(record.name());
        for (char& c : shown)
            if (static_cast<unsigned char>(c) < 0x20 || static_cast<unsigned char>(c) > 0x7E) c = '?';
        char numbers[64];
        std::snprintf(numbers, sizeof numbers, " (offset=%08llX,size=%uKB)\n",
                      static_cast<unsigned long long>(record.extent()) * 2048, record.data_length() / 1024);
        report += "Media file found: " + shown + numbers;
    }
    report += std::to_string(count) + " media files found and forced to be NC areas.\n";
    qivfuzz::check(text == report, "media scan text", text);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    if (size < kSettings) return 0;
    static constexpr std::int32_t kDirModes[] = {0, 2, 1, -1};
    static constexpr std::int32_t kLengthModes[] = {0, 1, 2, 7};
    const std::string_view text(reinterpret_cast<const char*>(data + 8), 8);

    qivpak::IsoFilter filter;
    filter.criteria = data[0] & 15;
    filter.dir_mode = kDirModes[data[1] & 3];
    filter.length_mode = kLengthModes[(data[1] >> 2) & 3];
    filter.ref_length = std::uint32_t{data[3]} | std::uint32_t{data[4]} << 8 | std::uint32_t{data[5]} << 16 |
                        std::uint32_t{data[6]} << 24;
    filter.name_part = text.substr(0, data[7] & 7);
    filter.magic = text;
    filter.magic_len = (data[7] >> 3) - 2;
    const bool unfiltered = (data[0] & 0x80) != 0;

    SectorImage image(std::span(data + kSettings, size - kSettings), kSector >> ((data[1] >> 4) & 3));
    check_search(image, data[2], unfiltered ? nullptr : &filter);
    check_media_scan(image, (data[0] & 0x10) != 0, (data[0] & 0x20) != 0);
    return 0;
}
