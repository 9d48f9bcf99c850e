// image_hash.cpp - the hashing pass: threads inflate chunks ahead and feed them, in order, to each digest
//
// The image is cut into chunks of IMAGE_HASH_CHUNK bytes; chunk c lives in
// slot c % K of a ring of K buffers. The work comes in two kinds of steps,
// which any thread of the pass takes as they come: reading a chunk (claim the
// next chunk number once its slot is free, i.e. all three digests are done
// with the chunk K before it; read it through QivReader::read, which is safe
// from many threads; mark it ready, or store the reader's exception in it),
// and advancing a digest (CRC32, MD5 or SHA-1) by its next chunk, once that
// is ready. A digest is advanced by one thread at a time and takes the chunks
// in image order, so the digests are the image's whatever order the reads
// finish in; the last digest done with a chunk frees its slot. Digest steps
// go first, since they free slots. The three digests are independent, so the
// slowest one (MD5) sets the pace, and the others and the reads fill the
// remaining threads. Whatever the number of threads, down to the calling
// thread alone, some step can always be taken until the pass is over.
//
// The threads are the calling thread and helpers from a WorkerGroup (as many
// as the system grants of those asked for). One mutex guards the slots'
// states and the digests' progress, never held while a chunk is read or
// hashed; one condition variable carries every change. A digest that meets
// a chunk holding an error records it and stops the pass: every chunk before
// it has been through that digest, so the error recorded is the first in
// image order. The calling thread asks should_stop between its steps and
// waits; stopping, an error and the end all go the same way: `stop` set,
// everyone wakes and returns, the helpers are joined, and the calling thread
// then throws or returns.
#include "qiv/image_hash.hpp"

#include "pipeline/worker_group.hpp"
#include "qiv/digest.hpp"

#include <algorithm>
#include <chrono>
#include <condition_variable>
#include <exception>
#include <limits>
#include <mutex>
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
    void update(const std::uint8_t* data, std::size_t length) override { value = crc32_update(value, data, length); }
    std::uint32_t value = 0;
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
              std::clamp<std::uint64_t>(chunks_, 1, std::min<std::size_t>(kMaxSlots, 8 * std::size_t{readers_} + 8)))) {
        for (Slot& slot : slots_) slot.bytes.resize(std::min<std::uint64_t>(IMAGE_HASH_CHUNK, size_));
    }

    // Runs the pass on the calling thread and up to readers_ + 2 helpers (a
    // thread for each reader and each digest, the calling thread being one),
    // fewer where the system refuses them. should_stop is asked on the
    // calling thread alone, with the mutex held: it must not throw and must
    // not wait for anything of the pass. The digests' update may throw; the
    // pass then fails with that error.
    ImageHashes run(const std::function<bool()>& should_stop) {
        Crc32 crc;
        LibraryDigest md5(DigestKind::md5), sha1(DigestKind::sha1);
        digests_[0].digest = &crc;
        digests_[1].digest = &md5;
        digests_[2].digest = &sha1;
        bool stopped = false;
        stop_ = chunks_ == 0;  // an empty image: the digests of nothing
        {
            const qivpak::WorkerGroup helpers(readers_ + kDigests - 1, [this](unsigned) { help(); }, [this] {
                std::lock_guard lock(mutex_);
                halt();
            });
            std::unique_lock lock(mutex_);
            while (!stop_) {
                if (!step(lock)) changed_.wait_for(lock, std::chrono::milliseconds(20));
                if (!stop_ && should_stop && should_stop()) {
                    stopped = true;
                    halt();
                }
            }
        }  // every helper joined
        if (stopped) throw qivpak::Stopped();
        if (failure_) std::rethrow_exception(failure_);
        return {crc.value, md5.digest.hex(), sha1.digest.hex()};
    }

private:
    // A digest as the pass drives it: the next chunk it takes, and whether a thread is advancing it.
    struct DigestState {
        RunningDigest* digest = nullptr;
        std::uint64_t next = 0;
        bool busy = false;
    };

    std::size_t chunk_length(std::uint64_t chunk) const {
        return static_cast<std::size_t>(std::min<std::uint64_t>(IMAGE_HASH_CHUNK, size_ - chunk * IMAGE_HASH_CHUNK));
    }

    Slot& slot_of(std::uint64_t chunk) { return slots_[chunk % slots_.size()]; }

    // Ends the pass for everyone; called with the mutex held.
    void halt() {
        stop_ = true;
        changed_.notify_all();
    }

    // A helper thread: takes steps until the pass is over.
    void help() {
        std::unique_lock lock(mutex_);
        while (!stop_) {
            if (!step(lock)) changed_.wait(lock);
        }
    }

    // Takes one step of the pass, if there is one to take now: advances a
    // digest that is free and whose next chunk is in, or else reads the next
    // chunk into its slot if that is free. Called with `lock` held, which it
    // lets go while it hashes or reads; false when there was nothing to do.
    bool step(std::unique_lock<std::mutex>& lock) {
        for (DigestState& state : digests_) {
            if (state.busy || state.next == chunks_) continue;
            const std::uint64_t chunk = state.next;
            Slot& slot = slot_of(chunk);
            if (slot.chunk != chunk || !slot.ready) continue;
            if (slot.error) {
                fail(slot.error);
                return true;
            }
            state.busy = true;
            lock.unlock();
            std::exception_ptr error;
            try {
                state.digest->update(slot.bytes.data(), chunk_length(chunk));
            } catch (...) {
                error = std::current_exception();
            }
            lock.lock();
            state.busy = false;
            if (error) {
                fail(error);
                return true;
            }
            ++state.next;
            --slot.digests_left;
            if (state.next == chunks_ && ++digests_done_ == kDigests) halt();
            changed_.notify_all();  // the digest's next chunk, or the freed slot, for anyone
            return true;
        }
        if (next_chunk_ == chunks_) return false;
        const std::uint64_t chunk = next_chunk_;
        Slot& slot = slot_of(chunk);
        if (slot.digests_left != 0 || (slot.chunk != kNoChunk && !slot.ready)) return false;
        ++next_chunk_;
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
        return true;
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
    DigestState digests_[kDigests];
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
