// image_hash.cpp - the hashing pass: reader threads inflate chunks ahead, one thread per digest takes them in order
//
// The image is cut into chunks of IMAGE_HASH_CHUNK bytes; chunk c lives in
// slot c % K of a ring of K buffers. A reader thread claims the next chunk
// number once that chunk's slot is free (all three digests are done with the
// chunk K before it), reads it through QivReader::read (safe from many
// threads) and marks it ready, or stores the reader's exception in it. Each of
// the three digest threads (CRC32, MD5, SHA-1) takes the chunks in image order,
// so the digests are the image's whatever order the readers finish in; the
// last digest done with a chunk frees its slot. The three digests are
// independent, so the slowest one (MD5) sets the pace, and the others and the
// readers fill the remaining cores.
//
// One mutex guards the slots' states, never held while a chunk is read or
// hashed; one condition variable carries every change. A digest that meets a
// chunk holding an error records it and stops the pass: the digests take the
// chunks in order, so the error recorded is the first in image order. The
// calling thread only waits, asking should_stop between waits; stopping, an
// error and the end all go the same way: `stop` set, everyone wakes and
// returns, the calling thread joins them and then throws or returns.
#include "qiv/image_hash.hpp"

#include "qiv/digest.hpp"

#include <zlib.h>

#include <algorithm>
#include <chrono>
#include <condition_variable>
#include <exception>
#include <limits>
#include <mutex>
#include <stdexcept>
#include <system_error>
#include <thread>
#include <vector>

namespace qiv {

namespace {

constexpr std::size_t kMaxSlots = 32;
constexpr int kDigests = 3;
constexpr std::uint64_t kNoChunk = std::numeric_limits<std::uint64_t>::max();

struct Slot {
    std::vector<std::uint8_t> bytes;  // a chunk's room (less for an image smaller than a chunk)
    std::uint64_t chunk = kNoChunk;  // the chunk it holds or is being read into; kNoChunk: never used
    bool ready = false;              // the chunk's bytes, or its error, are in
    std::exception_ptr error;        // the read failed: what the reader threw
    int digests_left = 0;            // digests that have not yet taken the chunk
};

// One digest as the pass drives it: bytes in order, its result at the end.
class RunningDigest {
public:
    virtual ~RunningDigest() = default;
    virtual void update(const std::uint8_t* data, std::size_t length) = 0;
};

class Crc32 final : public RunningDigest {
public:
    void update(const std::uint8_t* data, std::size_t length) override {
        value = ::crc32_z(value, data, length);
    }
    unsigned long value = ::crc32_z(0, nullptr, 0);
};

class LibraryDigest final : public RunningDigest {
public:
    explicit LibraryDigest(DigestKind kind) : digest(kind) {}
    void update(const std::uint8_t* data, std::size_t length) override { digest.update(data, length); }
    Digest digest;
};

class HashPass {
public:
    HashPass(const qivpak::QivReader& reader, unsigned readers)
        : reader_(reader),
          size_(reader.size()),
          chunks_((size_ + IMAGE_HASH_CHUNK - 1) / IMAGE_HASH_CHUNK),
          readers_(static_cast<unsigned>(std::clamp<std::uint64_t>(chunks_, 1, std::max(readers, 1u)))),
          slots_(static_cast<std::size_t>(
              std::clamp<std::uint64_t>(chunks_, 1, std::min<std::size_t>(kMaxSlots, 2 * std::size_t{readers_} + 2)))) {
        for (Slot& slot : slots_) slot.bytes.resize(std::min<std::uint64_t>(IMAGE_HASH_CHUNK, size_));
    }

    ImageHashes run(const std::function<bool()>& should_stop) {
        Crc32 crc;
        LibraryDigest md5(DigestKind::md5), sha1(DigestKind::sha1);
        RunningDigest* const digests[kDigests] = {&crc, &md5, &sha1};
        bool stopped = false;
        {
            std::vector<std::jthread> threads;
            start_threads(threads, digests);
            std::unique_lock lock(mutex_);
            while (!stop_) {
                changed_.wait_for(lock, std::chrono::milliseconds(20));
                if (!stop_ && should_stop && should_stop()) {
                    stopped = true;
                    halt();
                }
            }
        }  // every thread joined
        if (stopped) throw qivpak::Stopped();
        if (failure_) std::rethrow_exception(failure_);
        return {static_cast<std::uint32_t>(crc.value), md5.digest.hex(), sha1.digest.hex()};
    }

private:
    std::size_t chunk_length(std::uint64_t chunk) const {
        return static_cast<std::size_t>(std::min<std::uint64_t>(IMAGE_HASH_CHUNK, size_ - chunk * IMAGE_HASH_CHUNK));
    }

    Slot& slot_of(std::uint64_t chunk) { return slots_[chunk % slots_.size()]; }

    // Ends the pass for everyone; called with the mutex held.
    void halt() {
        stop_ = true;
        changed_.notify_all();
    }

    // The digest threads first (the pass cannot go without them), then as many
    // readers as the system allows, at least one. A thread that cannot start
    // stops the others before the error goes on.
    void start_threads(std::vector<std::jthread>& threads, RunningDigest* const (&digests)[kDigests]) {
        try {
            for (RunningDigest* digest : digests) threads.emplace_back([this, digest] { digest_loop(*digest); });
        } catch (const std::system_error&) {
            std::lock_guard lock(mutex_);
            halt();
            throw std::runtime_error("cannot start the hashing threads");
        }
        for (unsigned i = 0; i < readers_; ++i) {
            try {
                threads.emplace_back([this] { read_loop(); });
            } catch (const std::system_error&) {
                if (i > 0) break;  // fewer readers: slower, not wrong
                std::lock_guard lock(mutex_);
                halt();
                throw std::runtime_error("cannot start the hashing threads");
            }
        }
    }

    void read_loop() {
        std::unique_lock lock(mutex_);
        for (;;) {
            changed_.wait(lock, [&] {
                if (stop_ || next_chunk_ == chunks_) return true;
                const Slot& slot = slot_of(next_chunk_);
                return slot.digests_left == 0 && (slot.chunk == kNoChunk || slot.ready);
            });
            if (stop_ || next_chunk_ == chunks_) return;
            const std::uint64_t chunk = next_chunk_++;
            Slot& slot = slot_of(chunk);
            slot.chunk = chunk;
            slot.ready = false;
            slot.error = nullptr;
            slot.digests_left = kDigests;
            lock.unlock();
            std::exception_ptr error;
            try {
                reader_.read(chunk * IMAGE_HASH_CHUNK, slot.bytes.data(), chunk_length(chunk));
            } catch (...) {
                error = std::current_exception();
            }
            lock.lock();
            slot.error = error;
            slot.ready = true;
            changed_.notify_all();
        }
    }

    void digest_loop(RunningDigest& digest) {
        for (std::uint64_t chunk = 0; chunk < chunks_; ++chunk) {
            Slot& slot = slot_of(chunk);
            {
                std::unique_lock lock(mutex_);
                changed_.wait(lock, [&] { return stop_ || (slot.chunk == chunk && slot.ready); });
                if (stop_) return;
                if (slot.error) return fail(slot.error);
            }
            try {
                digest.update(slot.bytes.data(), chunk_length(chunk));
            } catch (...) {
                std::lock_guard lock(mutex_);
                return fail(std::current_exception());
            }
            std::lock_guard lock(mutex_);
            if (--slot.digests_left == 0) changed_.notify_all();
        }
        std::lock_guard lock(mutex_);
        if (++digests_done_ == kDigests) halt();
    }

    // Records the pass's error (the first one) and stops it; called with the mutex held.
    void fail(std::exception_ptr error) {
        if (!failure_) failure_ = error;
        halt();
    }

    const qivpak::QivReader& reader_;
    const std::uint64_t size_;
    const std::uint64_t chunks_;
    const unsigned readers_;
    std::vector<Slot> slots_;

    std::mutex mutex_;  // guards everything below and the slots' states
    std::condition_variable changed_;
    std::uint64_t next_chunk_ = 0;  // the next chunk a reader claims
    int digests_done_ = 0;          // digests that have taken every chunk
    bool stop_ = false;             // the pass is over: done, failed or stopped
    std::exception_ptr failure_;    // why it failed, if it did
};

}  // namespace

ImageHashes hash_image(const qivpak::QivReader& reader, unsigned readers, const std::function<bool()>& should_stop) {
    return HashPass(reader, readers).run(should_stop);
}

}  // namespace qiv
