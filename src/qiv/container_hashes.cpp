// container_hashes.cpp - the hash cache looked up first, then several containers hashed at once, handed on in order
//
// Every container is first looked up in the hash cache by its stamp (size,
// time, identity), taken before it is opened. The others are hashed by
// `passes` hashing passes at once: the calling thread and passes - 1 helpers
// from a WorkerGroup each claim the next container nobody has claimed, hash
// it with a pass of its own, and store the result (or the exception) in the
// container's job. The calling thread hands the jobs on in the order given:
// it waits for the next one, hashing a container itself meanwhile if one is
// left, so that no helper at all (threads refused) still gets every one
// hashed. One mutex guards the claims and the jobs' `done`; it is never held
// while a container is hashed or handed on. An interruption, seen by every
// pass through its should_stop, ends every pass with qivpak::Stopped; the
// helpers are joined, the cache is written with what was computed, and the
// call throws.
#include "qiv/container_hashes.hpp"

#include "io/cpu_count.hpp"
#include "io/file_stamp.hpp"
#include "io/interrupt.hpp"
#include "pipeline/worker_group.hpp"
#include "qiv/failure.hpp"
#include "qiv/hash_cache.hpp"

#include <qivpak/pack.hpp>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <mutex>
#include <optional>

namespace qiv {

namespace {

struct Job {
    std::optional<qivpak::FileStamp> stamp;  // before it was opened; none: never cached
    bool claimed = false;                    // being hashed or done
    bool done = false;                       // result or failure in
    bool cacheable = false;                  // the stamp was the same after the pass
    ContainerHashes result;
    std::exception_ptr failure;
};

}  // namespace

void hash_containers(const std::vector<std::string>& files, const HashingOptions& options, const HashedFn& each) {
    const unsigned cpus = options.threads != 0 ? options.threads : qivpak::available_cpus();
    std::optional<HashCache> cache;
    if (const std::string place = options.use_cache ? HashCache::default_path() : std::string(); !place.empty())
        cache.emplace(place, options.warnings);

    std::vector<Job> jobs(files.size());
    std::size_t to_hash = 0;
    for (std::size_t i = 0; i < files.size(); ++i) {
        Job& job = jobs[i];
        job.stamp = qivpak::file_stamp(files[i]);
        const HashCache::Entry* kept = cache && job.stamp ? cache->find(*job.stamp) : nullptr;
        if (kept) {
            job.claimed = job.done = true;
            job.result = {kept->image_size, kept->hashes, true};
        } else {
            ++to_hash;
        }
    }
    // Two CPUs a pass, and two passes even on two CPUs: one pass leaves gaps there while its digests
    // wait for chunks, which a second one fills (bench/verify.sh measures it).
    const unsigned wanted = cpus < 2 ? 1 : std::max(2u, cpus / 2);
    const unsigned passes = static_cast<unsigned>(std::clamp<std::size_t>(wanted, 1, std::max<std::size_t>(to_hash, 1)));
    // A lone pass leaves one CPU to MD5, the slowest digest, and reads on the others: a reader more
    // than that only takes turns with the digests (on two CPUs one reader is the faster pass).
    const unsigned readers =
        std::min(std::max(1u, (passes == 1 ? cpus : cpus / passes) - 1), qivpak::MAX_WORKERS);

    std::mutex mutex;  // guards the jobs' claimed and done, next_claim and stop
    std::condition_variable changed;
    std::size_t next_claim = 0;
    bool stop = false;
    std::atomic<bool> halt{false};  // stop, as the passes ask it without the mutex
    const auto should_stop = [&halt] { return halt.load() || qivpak::pending_interrupt() != 0; };
    // The next container nobody has claimed, claimed; nullptr when none is left. Called with the mutex held.
    const auto claim = [&]() -> std::size_t {
        while (next_claim < jobs.size() && jobs[next_claim].claimed) ++next_claim;
        if (stop || next_claim == jobs.size()) return jobs.size();
        jobs[next_claim].claimed = true;
        return next_claim++;
    };
    // Hashes the claimed container `i` with the mutex let go.
    const auto hash = [&](std::unique_lock<std::mutex>& lock, std::size_t i) {
        lock.unlock();
        Job& job = jobs[i];
        try {
            const qivpak::QivReader reader = open_container(files[i]);
            job.result.size = reader.size();
            job.result.hashes = hash_image(reader, readers, should_stop);
            job.cacheable = job.stamp && qivpak::file_stamp(files[i]) == job.stamp;
        } catch (...) {
            job.failure = std::current_exception();
        }
        lock.lock();
        job.done = true;
        changed.notify_all();
    };

    bool interrupted = false;
    {
        const qivpak::WorkerGroup helpers(
            passes - 1,
            [&](unsigned) {
                std::unique_lock lock(mutex);
                for (std::size_t i = claim(); i != jobs.size(); i = claim()) hash(lock, i);
            },
            [&] {
                std::lock_guard lock(mutex);
                stop = true;
                halt = true;
                changed.notify_all();
            });
        std::unique_lock lock(mutex);
        for (std::size_t i = 0; i < jobs.size() && !interrupted; ++i) {
            while (!jobs[i].done && !(interrupted = should_stop())) {
                const std::size_t mine = claim();
                if (mine != jobs.size()) hash(lock, mine);
                else changed.wait_for(lock, std::chrono::milliseconds(20));
            }
            if (interrupted) break;
            lock.unlock();
            Job& job = jobs[i];
            if (!job.failure) {
                if (cache && job.cacheable) cache->add(*job.stamp, {job.result.size, job.result.hashes});
                each(files[i], &job.result, nullptr);
            } else {
                try {
                    std::rethrow_exception(job.failure);
                } catch (const qivpak::Stopped&) {
                    interrupted = true;
                } catch (const std::exception& failure) {
                    each(files[i], nullptr, &failure);
                }
            }
            lock.lock();
        }
    }  // every helper joined
    if (cache) {
        for (const Job& job : jobs) {  // hashed, but not handed on before the interruption
            if (job.done && !job.failure && job.cacheable && !job.result.from_cache)
                cache->add(*job.stamp, {job.result.size, job.result.hashes});
        }
        cache->save();
    }
    if (interrupted) throw qivpak::Stopped();
}

}  // namespace qiv
