// image_cache.cpp - the frame cache of a mount and the small pool that inflates a read's frames in parallel
#include "mount/image_cache.hpp"

#include <algorithm>
#include <atomic>
#include <condition_variable>
#include <cstring>
#include <deque>
#include <functional>
#include <future>
#include <list>
#include <mutex>
#include <stdexcept>
#include <thread>
#include <unordered_map>

namespace qivpak {

namespace {

constexpr std::uint64_t kFrameSize = 8192;

// Runs batches of independent tasks on the calling thread and a few workers.
// The caller always takes tasks of its own batch too, so a batch finishes
// even while every worker is busy with another caller's batch.
class TaskPool {
public:
    explicit TaskPool(unsigned workers) {
        for (unsigned w = 0; w < workers; ++w) threads_.emplace_back([this] { serve(); });
    }
    ~TaskPool() {
        {
            std::lock_guard lock(mutex_);
            stopping_ = true;
        }
        work_cv_.notify_all();
        for (auto& t : threads_) t.join();
    }
    TaskPool(const TaskPool&) = delete;
    TaskPool& operator=(const TaskPool&) = delete;

    // Calls task(k) for every k below count, and returns when all are done.
    // task must not throw.
    void run(std::size_t count, const std::function<void(std::size_t)>& task) {
        if (threads_.empty() || count < 2) {
            for (std::size_t k = 0; k < count; ++k) task(k);
            return;
        }
        auto batch = std::make_shared<Batch>(task, count);
        {
            std::lock_guard lock(mutex_);
            queue_.push_back(batch);
        }
        work_cv_.notify_all();
        take_tasks(*batch);
        std::unique_lock lock(mutex_);
        done_cv_.wait(lock, [&] { return batch->done.load() == count; });
        // Workers drop finished batches too; whoever comes first removes it.
        std::erase(queue_, batch);
    }

private:
    struct Batch {
        Batch(const std::function<void(std::size_t)>& t, std::size_t c) : task(t), count(c) {}
        const std::function<void(std::size_t)>& task;  // valid while run() waits for the batch
        const std::size_t count;
        std::atomic<std::size_t> next{0};  // the next task to hand out
        std::atomic<std::size_t> done{0};  // tasks finished
    };

    void take_tasks(Batch& batch) {
        for (std::size_t k; (k = batch.next.fetch_add(1)) < batch.count;) {
            batch.task(k);
            if (batch.done.fetch_add(1) + 1 == batch.count) {
                std::lock_guard lock(mutex_);  // the waiter checks `done` under this lock
                done_cv_.notify_all();
            }
        }
    }

    void serve() {
        std::unique_lock lock(mutex_);
        for (;;) {
            work_cv_.wait(lock, [&] { return stopping_ || !queue_.empty(); });
            if (stopping_) return;
            const std::shared_ptr<Batch> batch = queue_.front();
            if (batch->next.load() >= batch->count) {
                queue_.pop_front();  // every task handed out; its caller waits for the last ones
                continue;
            }
            lock.unlock();
            take_tasks(*batch);
            lock.lock();
        }
    }

    std::vector<std::thread> threads_;
    std::mutex mutex_;
    std::condition_variable work_cv_;            // workers wait for a batch
    std::condition_variable done_cv_;            // callers wait for their batch's last task
    std::deque<std::shared_ptr<Batch>> queue_;   // batches with tasks left; guarded by mutex_
    bool stopping_ = false;                      // guarded by mutex_
};

using FrameBytes = std::vector<std::uint8_t>;
using FramePtr = std::shared_ptr<const FrameBytes>;

}  // namespace

struct ImageCache::Impl {
    Impl(std::vector<QivReader> readers, std::size_t capacity_bytes, unsigned threads)
        : images(std::move(readers)),
          capacity(capacity_bytes / kFrameSize),
          pool(threads > 1 ? threads - 1 : 0) {}

    // A frame in the cache: inflated, or being inflated by the read that claimed it.
    struct Entry {
        std::shared_future<FramePtr> frame;
        std::list<std::uint64_t>::iterator place;  // in `recent`
        std::uint64_t claim;                       // which claim made it
    };
    static std::uint64_t key(std::size_t image, std::uint64_t frame) {
        return (static_cast<std::uint64_t>(image) << 32) | frame;
    }

    // Drops the entry of `key` if it is still the one `claim` made.
    void forget(std::uint64_t key, std::uint64_t claim) {
        std::lock_guard lock(mutex);
        const auto it = entries.find(key);
        if (it == entries.end() || it->second.claim != claim) return;
        recent.erase(it->second.place);
        entries.erase(it);
    }

    const std::vector<QivReader> images;
    const std::size_t capacity;  // frames kept
    std::atomic<std::uint64_t> inflated{0};
    std::mutex mutex;
    std::list<std::uint64_t> recent;                     // keys, most recently used first; guarded by mutex
    std::unordered_map<std::uint64_t, Entry> entries;    // guarded by mutex
    std::uint64_t claims = 0;                            // guarded by mutex
    TaskPool pool;  // last: its workers stop before anything above goes
};

ImageCache::ImageCache(std::vector<QivReader> images, std::size_t capacity_bytes, unsigned threads)
    : impl_(std::make_unique<Impl>(std::move(images), capacity_bytes, threads)) {}

ImageCache::~ImageCache() = default;

const QivReader& ImageCache::image(std::size_t index) const { return impl_->images.at(index); }

std::size_t ImageCache::image_count() const { return impl_->images.size(); }

std::uint64_t ImageCache::frames_inflated() const { return impl_->inflated.load(); }

std::size_t ImageCache::read(std::size_t index, std::uint64_t offset, void* buffer, std::size_t length) {
    Impl& c = *impl_;
    const QivReader& reader = c.images.at(index);
    const std::uint64_t size = reader.size();
    if (offset >= size || length == 0) return 0;
    const std::uint64_t end = offset + std::min<std::uint64_t>(length, size - offset);
    const std::uint64_t first = offset / kFrameSize;
    const std::size_t count = static_cast<std::size_t>((end - 1) / kFrameSize - first + 1);

    // Look every frame up; claim the missing ones for this read to inflate.
    struct Claim {
        std::size_t at;  // position in the range
        std::uint64_t claim;
        std::promise<FramePtr> promise;
    };
    std::vector<std::shared_future<FramePtr>> frames(count);
    std::vector<Claim> claimed;
    {
        std::lock_guard lock(c.mutex);
        for (std::size_t k = 0; k < count; ++k) {
            const std::uint64_t key = Impl::key(index, first + k);
            if (const auto it = c.entries.find(key); it != c.entries.end()) {
                c.recent.splice(c.recent.begin(), c.recent, it->second.place);
                frames[k] = it->second.frame;
                continue;
            }
            Claim& claim = claimed.emplace_back(Claim{k, ++c.claims, {}});
            frames[k] = claim.promise.get_future().share();
            c.recent.push_front(key);
            c.entries.emplace(key, Impl::Entry{frames[k], c.recent.begin(), claim.claim});
        }
        while (c.entries.size() > c.capacity) {
            c.entries.erase(c.recent.back());
            c.recent.pop_back();
        }
    }

    c.pool.run(claimed.size(), [&](std::size_t n) {
        Claim& claim = claimed[n];
        const std::uint64_t frame = first + claim.at;
        const std::uint64_t start = frame * kFrameSize;
        try {
            auto bytes = std::make_shared<FrameBytes>(std::min(kFrameSize, size - start));
            ++c.inflated;
            reader.read(start, bytes->data(), bytes->size());
            claim.promise.set_value(std::move(bytes));
        } catch (...) {
            c.forget(Impl::key(index, frame), claim.claim);
            claim.promise.set_exception(std::current_exception());
        }
    });

    auto* out = static_cast<std::uint8_t*>(buffer);
    for (std::size_t k = 0; k < count; ++k) {
        const FrameBytes& bytes = *frames[k].get();  // throws the frame's fault
        const std::uint64_t start = (first + k) * kFrameSize;
        const std::uint64_t from = std::max(offset, start);
        const std::uint64_t to = std::min(end, start + bytes.size());
        std::memcpy(out + (from - offset), bytes.data() + (from - start), static_cast<std::size_t>(to - from));
    }
    return static_cast<std::size_t>(end - offset);
}

}  // namespace qivpak
