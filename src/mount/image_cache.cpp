// image_cache.cpp - the frame cache of a mount and the small pool that inflates a read's frames in parallel
#include "mount/image_cache.hpp"

#include "pipeline/worker_group.hpp"

#include <qivpak/pack.hpp>

#include <algorithm>
#include <array>
#include <atomic>
#include <condition_variable>
#include <cstring>
#include <deque>
#include <functional>
#include <exception>
#include <list>
#include <span>
#include <mutex>
#include <stdexcept>
#include <unordered_map>

namespace qivpak {

namespace {

// Runs batches of independent tasks on a few workers. run() has the calling
// thread take tasks of its own batch too and returns when all are done, so a
// batch finishes even while every worker is busy elsewhere; post() leaves a
// batch to the workers alone and returns at once. The workers are those the
// system grants; with none, run() does everything on the calling thread and
// post() nothing.
class TaskPool {
public:
    using Task = std::function<void(std::size_t)>;

    explicit TaskPool(unsigned workers)
        : workers_(workers, [this](unsigned) { serve(); }, [this] { stop(); }) {}
    TaskPool(const TaskPool&) = delete;
    TaskPool& operator=(const TaskPool&) = delete;

    bool has_workers() const { return workers_.started() > 0; }

    // Calls task(k) for every k below count, and returns when all are done.
    // The tasks run on the calling thread and the workers, several at once:
    // a task must not throw (a damaged frame goes into its job, for the read
    // to raise) and takes the cache's lock itself where it needs it. run()
    // waits for the last task, so a task may use what lives on the caller's stack.
    void run(std::size_t count, Task task) {
        if (!has_workers() || count < 2) {
            for (std::size_t k = 0; k < count; ++k) task(k);
            return;
        }
        const auto batch = enqueue(count, std::move(task));
        take_tasks(*batch);
        std::unique_lock lock(mutex_);
        done_cv_.wait(lock, [&] { return batch->done.load() == count; });
        std::erase(queue_, batch);  // unless a worker has dropped it already
    }

    // Has the workers call task(k) for every k below count, later. The same
    // rules as for run(), but nobody waits for these tasks: a task holds (a
    // share of) the jobs it works on, and uses nothing that goes before the
    // pool. Posted tasks not yet taken when the pool goes are dropped.
    void post(std::size_t count, Task task) {
        if (has_workers() && count > 0) enqueue(count, std::move(task));
    }

private:
    struct Batch {
        Batch(Task t, std::size_t c) : task(std::move(t)), count(c) {}
        const Task task;
        const std::size_t count;
        std::atomic<std::size_t> next{0};  // the next task to hand out
        std::atomic<std::size_t> done{0};  // tasks finished
    };

    std::shared_ptr<Batch> enqueue(std::size_t count, Task task) {
        auto batch = std::make_shared<Batch>(std::move(task), count);
        {
            std::lock_guard lock(mutex_);
            queue_.push_back(batch);
        }
        work_cv_.notify_all();
        return batch;
    }

    void take_tasks(Batch& batch) {
        for (std::size_t k; (k = batch.next.fetch_add(1)) < batch.count;) {
            batch.task(k);
            if (batch.done.fetch_add(1) + 1 == batch.count) {
                std::lock_guard lock(mutex_);  // a waiter checks `done` under this lock
                done_cv_.notify_all();
            }
        }
    }

    // Tells the workers to return; posted batches not yet taken are dropped.
    void stop() {
        {
            std::lock_guard lock(mutex_);
            stopping_ = true;
        }
        work_cv_.notify_all();
    }

    void serve() {
        std::unique_lock lock(mutex_);
        for (;;) {
            work_cv_.wait(lock, [&] { return stopping_ || !queue_.empty(); });
            if (stopping_) return;
            const std::shared_ptr<Batch> batch = queue_.front();
            if (batch->next.load() >= batch->count) {
                queue_.pop_front();  // every task handed out
                continue;
            }
            lock.unlock();
            take_tasks(*batch);
            lock.lock();
        }
    }

    std::mutex mutex_;
    std::condition_variable work_cv_;            // workers wait for a batch
    std::condition_variable done_cv_;            // run() waits for its batch's last task
    std::deque<std::shared_ptr<Batch>> queue_;   // batches with tasks left; guarded by mutex_
    bool stopping_ = false;                      // guarded by mutex_
    WorkerGroup workers_;                        // last: started after, stopped and joined before all above
};

// Inflating one frame: done once, by whichever thread takes it first (a read
// that needs it, or a worker inflating ahead of sequential reads), into the
// job's place in a buffer shared with the frames claimed together with it
// (up to RUN_FRAMES consecutive frames, back to back), which the cache keeps
// while any of them is cached. Consecutive frames taken together are read
// with one call of the reader, which reads their stored bytes at once.
struct FrameJob {
    enum class State { pending, ready, failed };

    FrameJob(std::size_t i, std::uint64_t f, std::uint64_t c, std::shared_ptr<std::uint8_t[]> run, std::size_t at)
        : image(i), frame(f), claim(c), run_buffer(std::move(run)), bytes(run_buffer.get() + at) {}
    const std::size_t image;
    const std::uint64_t frame;
    const std::uint64_t claim;  // tells this job's cache entry from a later one of the same frame
    std::atomic<bool> taken{false};
    State state = State::pending;  // guarded by the cache's mutex; final once not pending
    std::exception_ptr error;      // why it failed; set before state
    std::size_t size = 0;          // plain bytes at `bytes`; set before state
    const std::shared_ptr<std::uint8_t[]> run_buffer;
    std::uint8_t* const bytes;     // FRAME_SIZE bytes in run_buffer; not zeroed: written whole before read
};
using JobPtr = std::shared_ptr<FrameJob>;

// Splits `jobs` into runs of consecutive frames that lie back to back in one buffer.
std::vector<std::pair<std::size_t, std::size_t>> runs_of(const std::vector<JobPtr>& jobs) {
    std::vector<std::pair<std::size_t, std::size_t>> runs;  // [first, end) of jobs
    for (std::size_t k = 0; k < jobs.size(); ++k) {
        const bool goes_on = k > 0 && jobs[k]->image == jobs[k - 1]->image &&
                             jobs[k]->frame == jobs[k - 1]->frame + 1 && jobs[k]->bytes == jobs[k - 1]->bytes + FRAME_SIZE;
        if (goes_on) runs.back().second = k + 1;
        else runs.emplace_back(k, k + 1);
    }
    return runs;
}

}  // namespace

struct ImageCache::Impl {
    Impl(ReaderShelf readers, std::size_t capacity_bytes, unsigned threads)
        : images(std::move(readers)),
          capacity(capacity_bytes / FRAME_SIZE),
          ahead(std::min<std::size_t>(kMaxAhead, capacity / 2)),
          last_end(images.count()),
          pool(threads > 1 ? std::min(threads, MAX_REQUESTED_THREADS) : 0) {}

    static constexpr std::size_t kMaxAhead = 64;  // frames inflated ahead of sequential reads

    // A frame in the cache: inflated, or claimed by a job not yet finished.
    struct Entry {
        JobPtr job;
        std::list<std::uint64_t>::iterator place;  // in `recent`
    };
    static std::uint64_t key(std::size_t image, std::uint64_t frame) {
        return (static_cast<std::uint64_t>(image) << 32) | frame;
    }

    // Collects jobs for frames [first, first + count) of `image` into `jobs`:
    // a new one for each frame not in the cache, and, when `unstarted` is set,
    // the jobs of cached frames that nobody has taken yet. With `range`, the
    // job of every frame in the range, in order.
    void claim(std::size_t image, std::uint64_t first, std::size_t count, bool unstarted, std::vector<JobPtr>& jobs,
               std::vector<JobPtr>* range) {
        std::shared_ptr<std::uint8_t[]> run;
        std::size_t run_left = 0, run_at = 0;
        std::uint64_t run_next = 0;
        std::lock_guard lock(mutex);
        for (std::size_t k = 0; k < count; ++k) {
            const std::uint64_t k_key = key(image, first + k);
            if (const auto it = entries.find(k_key); it != entries.end()) {
                recent.splice(recent.begin(), recent, it->second.place);
                const JobPtr& job = it->second.job;
                if (unstarted && !job->taken.load()) jobs.push_back(job);
                if (range) range->push_back(job);
                continue;
            }
            // New frames that follow each other share a buffer, RUN_FRAMES at most.
            if (run_left == 0 || first + k != run_next) {
                run_left = std::min<std::size_t>(RUN_FRAMES, count - k);
                run = std::shared_ptr<std::uint8_t[]>(new std::uint8_t[run_left * FRAME_SIZE]);
                run_at = 0;
            }
            const JobPtr& job = jobs.emplace_back(std::make_shared<FrameJob>(image, first + k, ++claims, run, run_at));
            run_at += FRAME_SIZE;
            --run_left;
            run_next = first + k + 1;
            if (range) range->push_back(job);
            recent.push_front(k_key);
            entries.emplace(k_key, Entry{job, recent.begin()});
        }
        while (entries.size() > capacity) evict(recent.back());
    }

    // Drops the frame `victim` and every cached frame that shares its buffer,
    // so that no buffer outlives the frames the cache counts.
    void evict(std::uint64_t victim) {
        const JobPtr job = entries.at(victim).job;
        const std::uint64_t from = job->frame >= RUN_FRAMES ? job->frame - RUN_FRAMES : 0;
        for (std::uint64_t f = from; f <= job->frame + RUN_FRAMES; ++f) {
            const auto it = entries.find(key(job->image, f));
            if (it == entries.end() || it->second.job->run_buffer != job->run_buffer) continue;
            recent.erase(it->second.place);
            entries.erase(it);
        }
    }

    // Inflates the frames of jobs[first, end) (consecutive, back to back in
    // one buffer) that no other thread has taken: each unbroken stretch of
    // them with one read. When a stretch holds a damaged frame, its frames are
    // read one by one, so that each is refused or restored by itself.
    void run(const std::vector<JobPtr>& jobs, std::size_t first, std::size_t end) {
        for (std::size_t k = first; k < end;) {
            if (jobs[k]->taken.exchange(true)) {
                ++k;
                continue;
            }
            std::size_t stretch = k + 1;
            while (stretch < end && !jobs[stretch]->taken.exchange(true)) ++stretch;
            const std::span<const JobPtr> taken(jobs.data() + k, stretch - k);
            if (!restore(taken)) {
                for (const JobPtr& job : taken) restore(std::span(&job, 1));
            }
            k = stretch;
        }
    }

    // Reads the jobs' frames with one call; false (nothing finished) when one
    // of several is damaged, else every job is finished: ready, or failed
    // with the reader's error.
    bool restore(std::span<const JobPtr> taken) {
        const FrameJob& head = *taken.front();
        const std::uint64_t image_size = images.size(head.image);
        const std::uint64_t start = head.frame * FRAME_SIZE;
        std::exception_ptr error;
        try {
            const std::shared_ptr<const QivReader> reader = images.get(head.image);
            reader->read(start, head.bytes, std::min<std::uint64_t>(FRAME_SIZE * taken.size(), image_size - start));
        } catch (...) {
            if (taken.size() > 1) return false;
            error = std::current_exception();
        }
        inflated += taken.size();
        {
            std::lock_guard lock(mutex);
            for (const JobPtr& job : taken) {
                job->size = std::min<std::uint64_t>(FRAME_SIZE, image_size - job->frame * FRAME_SIZE);
                job->error = error;
                job->state = error ? FrameJob::State::failed : FrameJob::State::ready;
                // A damaged frame is inflated again (and refused again) at every read.
                const auto it = entries.find(key(job->image, job->frame));
                if (error && it != entries.end() && it->second.job->claim == job->claim) {
                    recent.erase(it->second.place);
                    entries.erase(it);
                }
            }
        }
        done_cv.notify_all();
        return true;
    }

    ReaderShelf images;
    const std::size_t capacity;  // frames kept
    const std::size_t ahead;     // frames inflated ahead of a sequential read
    std::vector<std::atomic<std::uint64_t>> last_end;  // per image: where its last read ended
    std::atomic<std::uint64_t> inflated{0};
    std::mutex mutex;
    std::condition_variable done_cv;                     // a job stopped being pending
    std::list<std::uint64_t> recent;                     // keys, most recently used first; guarded by mutex
    std::unordered_map<std::uint64_t, Entry> entries;    // guarded by mutex
    std::uint64_t claims = 0;                            // guarded by mutex
    TaskPool pool;  // last: its workers stop before anything above goes
};

ImageCache::ImageCache(ReaderShelf images, std::size_t capacity_bytes, unsigned threads)
    : impl_(std::make_unique<Impl>(std::move(images), capacity_bytes, threads)) {}

ImageCache::~ImageCache() = default;

std::uint64_t ImageCache::image_size(std::size_t index) const { return impl_->images.size(index); }

std::shared_ptr<const QivReader> ImageCache::reader(std::size_t index) { return impl_->images.get(index); }

std::uint64_t ImageCache::frames_inflated() const { return impl_->inflated.load(); }

std::size_t ImageCache::read(std::size_t index, std::uint64_t offset, void* buffer, std::size_t length) {
    Impl& c = *impl_;
    const std::uint64_t size = c.images.size(index);
    if (offset >= size || length == 0) return 0;
    const std::uint64_t end = offset + std::min<std::uint64_t>(length, size - offset);
    const std::uint64_t first = offset / FRAME_SIZE;
    const std::uint64_t after = (end - 1) / FRAME_SIZE + 1;  // the frame after the range
    const std::size_t count = static_cast<std::size_t>(after - first);

    // The range's frames: this read inflates the missing ones, and those a
    // worker was to inflate ahead but has not started, on its own thread and
    // the workers.
    std::vector<JobPtr> jobs;
    std::vector<JobPtr> frames;
    frames.reserve(count);
    c.claim(index, first, count, true, jobs, &frames);
    const auto runs = runs_of(jobs);
    c.pool.run(runs.size(), [&](std::size_t r) { c.run(jobs, runs[r].first, runs[r].second); });

    // A read that starts where the last one ended is likely followed by the
    // next: have the workers inflate the frames after it meanwhile.
    if (c.last_end[index].exchange(end) == offset && c.ahead > 0 && c.pool.has_workers() && after * FRAME_SIZE < size) {
        const std::uint64_t frames_left = (size - after * FRAME_SIZE + FRAME_SIZE - 1) / FRAME_SIZE;
        std::vector<JobPtr> next;
        c.claim(index, after, static_cast<std::size_t>(std::min<std::uint64_t>(c.ahead, frames_left)), false, next,
                nullptr);
        const auto runs = runs_of(next);
        c.pool.post(runs.size(), [&c, next, runs](std::size_t r) { c.run(next, runs[r].first, runs[r].second); });
    }

    // Frames other threads are inflating: wait for them. A finished job never
    // changes again, so its bytes are read without the lock.
    {
        std::unique_lock lock(c.mutex);
        c.done_cv.wait(lock, [&] {
            return std::none_of(frames.begin(), frames.end(),
                                [](const JobPtr& job) { return job->state == FrameJob::State::pending; });
        });
    }
    auto* out = static_cast<std::uint8_t*>(buffer);
    for (std::size_t k = 0; k < count; ++k) {
        const FrameJob& job = *frames[k];
        if (job.error) std::rethrow_exception(job.error);  // the frame's fault
        const std::uint64_t start = (first + k) * FRAME_SIZE;
        const std::uint64_t from = std::max(offset, start);
        const std::uint64_t to = std::min(end, start + job.size);
        std::memcpy(out + (from - offset), job.bytes + (from - start), static_cast<std::size_t>(to - from));
    }
    return static_cast<std::size_t>(end - offset);
}

}  // namespace qivpak
