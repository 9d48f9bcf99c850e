// frame_inflater_libdeflate.cpp - the frame inflater on libdeflate, with zlib where their verdicts could differ
//
// libdeflate is more lenient than zlib in a few places, all in how a block
// describes its codes: with the fixed codes it takes the literal/length codes
// 286 and 287 (as length 258); a block with its own codes may announce up to
// 288 literal/length and 32 distance codes (zlib refuses more than 286 and
// 30), may let a run of code lengths overrun their count (libdeflate ignores
// the excess), and may have a code of a single codeword whose unused bit
// pattern libdeflate decodes as that codeword. Given a block whose codes are
// complete and described within zlib's rules, or a stored block, the two
// accept and refuse the same streams and inflate them to the same bytes.
//
// So a stream goes to libdeflate only when its first block is its last one
// and is stored, or has its own codes and passes the checks below, which
// read its description of the codes as zlib does. Every other stream (fixed
// codes, several blocks, a description zlib would refuse or that is cut
// short) goes to zlib, which then judges it itself. Streams from zlib's
// compressor are single blocks with complete codes, so nearly every frame
// takes the fast way. The fuzz target fuzz_inflaters compares the two.
#include "decompress/frame_inflater.hpp"

#include <libdeflate.h>

#include <array>

namespace qivpak {

namespace {

// Bits least significant first, as deflate stores them; zeros past the end,
// which `cut` then tells.
class BitReader {
public:
    explicit BitReader(std::span<const std::uint8_t> bytes) : bytes_(bytes) {}

    // The next n (at most 32) bits, without taking them.
    unsigned peek(unsigned n) {
        if (have_ < n) refill();
        return static_cast<unsigned>(buffer_ & ((1u << n) - 1));
    }
    void drop(unsigned n) {
        buffer_ >>= n;
        have_ -= n;
    }
    unsigned take(unsigned n) {
        const unsigned value = peek(n);
        drop(n);
        return value;
    }
    bool cut() const { return cut_; }

private:
    // Tops the buffer up to at least 56 bits. The bits above `have_` are
    // always the stream's next ones, so a whole word can be laid over them.
    void refill() {
        if (next_ + 8 <= bytes_.size()) {
            std::uint64_t word = 0;
            for (unsigned k = 0; k < 8; ++k) word |= std::uint64_t{bytes_[next_ + k]} << (8 * k);
            buffer_ |= word << have_;
            next_ += (63 - have_) / 8;
            have_ |= 56;
            return;
        }
        while (have_ <= 56) {
            cut_ = cut_ || next_ >= bytes_.size();
            buffer_ |= std::uint64_t{next_ < bytes_.size() ? bytes_[next_] : 0u} << have_;
            ++next_;
            have_ += 8;
        }
    }

    std::span<const std::uint8_t> bytes_;
    std::size_t next_ = 0;
    std::uint64_t buffer_ = 0;
    unsigned have_ = 0;
    bool cut_ = false;
};

// The room a codeword of `length` bits takes in a prefix code, in units of
// 2^-15: a code is complete (neither over-subscribed nor leaving a bit
// pattern unused) when its codewords' rooms add up to 2^15.
constexpr std::uint32_t room(unsigned length) { return length == 0 ? 0 : 1u << (15 - length); }
constexpr std::uint32_t kFull = 1u << 15;

// Whether libdeflate's verdict on this zlib stream is zlib's (see above).
bool libdeflate_judges_like_zlib(std::span<const std::uint8_t> stream) {
    if (stream.size() < 3) return false;
    BitReader in(stream.subspan(2));
    if (in.take(1) != 1) return false;  // not the last block
    const unsigned type = in.take(2);
    if (type == 0) return true;  // stored
    if (type != 2) return false;
    const unsigned litlen = 257 + in.take(5);
    const unsigned distance = 1 + in.take(5);
    const unsigned length_codes = 4 + in.take(4);
    if (litlen > 286 || distance > 30) return false;

    // The code of the code lengths: up to 19 codewords of up to 7 bits,
    // looked up by the next 7 bits of input.
    static constexpr std::array<std::uint8_t, 19> kOrder = {16, 17, 18, 0, 8, 7, 9, 6, 10, 5, 11, 4, 12, 3, 13, 2, 14, 1, 15};
    std::array<std::uint8_t, 19> pre{};
    for (unsigned k = 0; k < length_codes; ++k) pre[kOrder[k]] = static_cast<std::uint8_t>(in.take(3));
    std::uint32_t pre_room = 0;
    for (const std::uint8_t len : pre) pre_room += room(len);
    if (pre_room != kFull) return false;
    struct Entry {
        std::uint8_t symbol, length;
    };
    std::array<Entry, 128> table{};
    unsigned code = 0;
    for (unsigned len = 1; len <= 7; ++len, code <<= 1) {
        for (unsigned symbol = 0; symbol < 19; ++symbol) {
            if (pre[symbol] != len) continue;
            unsigned reversed = 0;  // codewords are stored first bit first
            for (unsigned b = 0; b < len; ++b) reversed |= ((code >> b) & 1) << (len - 1 - b);
            for (unsigned fill = reversed; fill < 128; fill += 1u << len)
                table[fill] = {static_cast<std::uint8_t>(symbol), static_cast<std::uint8_t>(len)};
            ++code;
        }
    }

    // The code lengths themselves, runs included, exactly filling their count;
    // the rooms of the literal/length and of the distance codewords add up.
    const unsigned total = litlen + distance;
    std::uint32_t rooms[2] = {0, 0};
    unsigned previous = 0;
    bool has_end = false;
    for (unsigned i = 0; i < total && !in.cut();) {
        const Entry e = table[in.peek(7)];
        in.drop(e.length);
        unsigned value = e.symbol;
        unsigned run = 1;
        if (e.symbol >= 16) {
            if (e.symbol == 16 && i == 0) return false;  // nothing to repeat
            value = e.symbol == 16 ? previous : 0;
            run = e.symbol == 16 ? 3 + in.take(2) : e.symbol == 17 ? 3 + in.take(3) : 11 + in.take(7);
            if (run > total - i) return false;
        }
        for (const unsigned end = i + run; i < end; ++i) rooms[i < litlen ? 0 : 1] += room(value);
        has_end = has_end || (value != 0 && i - run <= 256 && 256 < i);
        previous = value;
    }
    return !in.cut() && has_end && rooms[0] == kFull && rooms[1] == kFull;
}

}  // namespace

struct LibdeflateFrameInflater::Decompressor {
    explicit Decompressor(libdeflate_decompressor* decompressor) : d(decompressor) {}
    ~Decompressor() { libdeflate_free_decompressor(d); }
    Decompressor(const Decompressor&) = delete;
    Decompressor& operator=(const Decompressor&) = delete;
    libdeflate_decompressor* const d;
};

LibdeflateFrameInflater::LibdeflateFrameInflater() {
    if (libdeflate_decompressor* d = libdeflate_alloc_decompressor()) decompressor_ = std::make_unique<Decompressor>(d);
}

LibdeflateFrameInflater::~LibdeflateFrameInflater() = default;

int LibdeflateFrameInflater::inflate(std::span<const std::uint8_t> stored, std::span<std::uint8_t> out,
                                     std::size_t& out_len, std::size_t* in_len) {
    if (!decompressor_ || !libdeflate_judges_like_zlib(stored)) return zlib_.inflate(stored, out, out_len, in_len);
    std::size_t consumed = 0;  // asked for, so that bytes after the stream are allowed, as zlib allows them
    std::size_t produced = 0;
    const libdeflate_result rc = libdeflate_zlib_decompress_ex(decompressor_->d, stored.data(), stored.size(),
                                                               out.data(), out.size(), &consumed, &produced);
    if (rc != LIBDEFLATE_SUCCESS) return static_cast<int>(rc);
    out_len = produced;
    if (in_len != nullptr) *in_len = consumed;
    return 0;
}

}  // namespace qivpak
