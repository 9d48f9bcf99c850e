// ordered_pipeline.hpp - frames handed out in order, processed in parallel, handed back in order
//
// The calling thread fills: fill(i, job) prepares frame i in a free slot of a
// fixed window of jobs (it decides what the frame is; it does not read the
// image), running ahead of the writer by at most the window. Worker threads
// process: process(job, worker) reads the frame with a positional read and
// turns it into its result (compress or inflate), with no lock held. The
// calling thread writes: drain(i, job) receives the jobs strictly in frame
// order, and it alone does anything observable (files, tables, reports,
// errors), so the result is the same at every thread count. Each job slot is
// owned by exactly one party at a time: the filler while free, a worker while
// queued, the drainer when done; ownership changes under the one mutex. No
// allocation per frame. Jobs move in batches (a burst of fills, a worker's
// share of up to PipelineShape::take jobs) so threads meet once per batch, not
// once per job. A job is usually one frame; a pipeline whose jobs carry a run
// of frames each (unpacking) has fewer, larger jobs in flight.
//
// Memory is bounded whatever the thread count: the window holds at most
// PipelineShape::max_window jobs, and callers start at most MAX_WORKERS workers.
//
// fill returns false to stop after that job (an error to be reported when its
// turn comes). When drain throws, the pipeline tells the workers to stop,
// joins them and lets the exception through. The workers come from a
// WorkerGroup: with one thread, or when the system refuses every worker
// thread (a process limit), everything runs on the calling thread; workers
// that did start are enough for the others.
#pragma once

#include "pipeline/worker_group.hpp"

#include <qivpak/pack.hpp>

#include <algorithm>
#include <condition_variable>
#include <cstdint>
#include <mutex>
#include <vector>

namespace qivpak {

// How many jobs a pipeline keeps in flight, and how many a worker takes at once.
struct PipelineShape {
    std::size_t jobs_per_worker;  // the window: this many jobs per worker ...
    std::size_t max_window;       // ... and never more than this
    std::uint32_t take;           // jobs a worker takes at once, at most
};
// One frame a job (about 17 KiB): four batches of 16 per worker, at most 512 (~9 MiB).
inline constexpr PipelineShape FRAME_JOBS{64, 512, 16};

template <class Job>
class OrderedPipeline {
public:
    // threads: workers to start (1 = none: everything on the calling thread).
    explicit OrderedPipeline(unsigned threads, PipelineShape shape = FRAME_JOBS)
        : threads_(threads < 1 ? 1 : threads), take_(std::max<std::uint32_t>(shape.take, 1)) {
        jobs_.resize(threads_ == 1 ? 1 : std::min(shape.jobs_per_worker * threads_, shape.max_window));
        state_.assign(jobs_.size(), Slot::free);
    }

    // The most workers that run() may use; process() sees worker numbers below it.
    unsigned threads() const { return threads_; }

    // Calls fill, process and drain for jobs 0 .. count - 1 (fewer when fill
    // returns false), and returns once every job filled has been drained.
    // fill and drain run on the calling thread only, and may throw: that ends
    // the run, and the exception goes on to the caller once the workers are
    // joined. process runs on the workers, several at once: it must not
    // throw (a fault goes into the job, for drain to raise), and touches only
    // its job, what belongs to its worker number, and what is safe from many
    // threads (positional reads and writes); never what fill and drain own:
    // the order of what is written, the index, the Reporter.
    template <class Fill, class Process, class Drain>
    void run(std::uint32_t count, Fill&& fill, Process&& process, Drain&& drain) {
        if (threads_ > 1) {
            filled_ = processing_ = 0;
            stopping_ = false;
            const WorkerGroup workers(threads_, [this, &process](unsigned w) { work(process, w); },
                                      [this] { stop_workers(); });
            if (workers.started() > 0) {
                {
                    std::lock_guard lock(mutex_);
                    started_ = workers.started();
                }
                return run_parallel(count, fill, drain);
            }
        }
        for (std::uint32_t i = 0; i < count; ++i) {
            const bool more = fill(i, jobs_[0]);
            process(jobs_[0], 0u);
            drain(i, jobs_[0]);
            if (!more) return;
        }
    }

private:
    enum class Slot { free, queued, done };

    template <class Fill, class Drain>
    void run_parallel(std::uint32_t count, Fill& fill, Drain& drain) {
        const std::uint32_t window = static_cast<std::uint32_t>(jobs_.size());
        std::uint32_t drained = 0;
        bool reading = true;
        while (drained < count) {
            // Refill in bursts, so that workers and the writer meet once per
            // batch of frames rather than once per frame.
            const std::uint32_t in_flight = filled_ - drained;
            if (reading && filled_ < count && (in_flight == 0 || window - in_flight >= take_)) {
                std::uint32_t burst = std::min(window - in_flight, count - filled_);
                for (std::uint32_t b = 0; b < burst; ++b) {
                    if (!fill(filled_ + b, jobs_[(filled_ + b) % window])) {
                        reading = false;
                        burst = b + 1;
                    }
                }
                {
                    std::lock_guard lock(mutex_);
                    for (std::uint32_t b = 0; b < burst; ++b) state_[(filled_ + b) % window] = Slot::queued;
                    filled_ += burst;
                }
                work_cv_.notify_all();
            }
            if (drained == filled_) break;  // reading stopped and everything is drained
            const std::size_t slot = drained % window;
            {
                std::unique_lock lock(mutex_);
                done_cv_.wait(lock, [&] { return state_[slot] == Slot::done; });
            }
            drain(drained, jobs_[slot]);
            std::lock_guard lock(mutex_);
            state_[slot] = Slot::free;
            ++drained;
        }
    }

    // Tells the workers to return; the WorkerGroup calls it on every way out of run().
    void stop_workers() {
        {
            std::lock_guard lock(mutex_);
            stopping_ = true;
        }
        work_cv_.notify_all();
    }

    // A worker: takes a share of the queued jobs, processes them without the
    // lock, marks them done, until told to stop.
    template <class Process>
    void work(Process& process, unsigned w) {
        const std::size_t window = jobs_.size();
        std::unique_lock lock(mutex_);
        for (;;) {
            work_cv_.wait(lock, [&] { return stopping_ || processing_ < filled_; });
            if (stopping_) return;
            // Take a share of what is queued, so every worker gets some.
            const std::uint32_t queued = filled_ - processing_;
            const std::uint32_t share = (queued + started_ - 1) / started_;
            const std::uint32_t first = processing_;
            const std::uint32_t taken = std::min(std::min(share, take_), queued);
            processing_ += taken;
            lock.unlock();
            for (std::uint32_t k = 0; k < taken; ++k) process(jobs_[(first + k) % window], w);
            lock.lock();
            for (std::uint32_t k = 0; k < taken; ++k) state_[(first + k) % window] = Slot::done;
            done_cv_.notify_one();
        }
    }

    unsigned threads_;
    std::uint32_t take_;               // jobs a worker takes at once
    unsigned started_ = 0;             // workers running; set before any of them takes a job
    std::vector<Job> jobs_;
    std::vector<Slot> state_;          // guarded by mutex_
    std::uint32_t filled_ = 0;         // jobs handed to the workers; guarded by mutex_
    std::uint32_t processing_ = 0;     // jobs taken by a worker; guarded by mutex_
    bool stopping_ = false;            // guarded by mutex_
    std::mutex mutex_;
    std::condition_variable work_cv_;  // workers wait for queued jobs
    std::condition_variable done_cv_;  // the drainer waits for the next job in order
};

// Workers for a run of `frames` frames: `requested`, or every CPU the process
// may run on when it is 0; never more than MAX_WORKERS or `frames`, at least 1.
unsigned worker_threads(unsigned requested, std::uint32_t frames);

}  // namespace qivpak
