// worker_group.hpp - up to n worker threads, as many as the system grants, stopped and joined on every way out
//
// Every part of the system that runs work on threads of its own (the frame
// pipeline, the mount's inflating pool, qiv's hashing pass) starts them here,
// so they all meet a thread the system refuses the same way: a process limit
// (a pids cgroup, RLIMIT_NPROC) or a lack of memory for a stack makes
// std::thread's constructor throw std::system_error, and that only means
// fewer threads. The owner asks started() and serves with what it got, on the
// calling thread alone when that is none.
//
// Lifetime: the bodies run until the owner's `stop` tells them to return. The
// group calls `stop` and joins every thread in its destructor, and also when
// its constructor fails for another reason (std::bad_alloc) before it lets
// that through, so no thread ever outlives the group or waits on an object
// already destroyed. Whatever a body waits on must therefore be constructed
// before the group and destroyed after it: declare the group last among the
// members it serves, or as a local after them.
#pragma once

#include <functional>
#include <thread>
#include <vector>

namespace qivpak {

class WorkerGroup {
public:
    // Runs on its own thread with the worker's number (0, 1, ... in the
    // order the threads started); must not throw, and returns once `stop`
    // has been called (it may return earlier).
    using Body = std::function<void(unsigned worker)>;
    // Tells every body to return (sets a flag under the bodies' mutex and
    // wakes them); must not throw. Called once, from the owning thread, even
    // when no thread started.
    using Stop = std::function<void()>;

    // Starts up to `count` threads running `body`; the first thread the
    // system refuses ends the starting, without error.
    WorkerGroup(unsigned count, Body body, Stop stop);
    ~WorkerGroup();
    WorkerGroup(const WorkerGroup&) = delete;
    WorkerGroup& operator=(const WorkerGroup&) = delete;

    // Threads running: 0 to count. Fixed once the constructor returns.
    unsigned started() const { return static_cast<unsigned>(threads_.size()); }

private:
    void stop_and_join();

    const Body body_;  // the threads run this very object, so it outlives them
    const Stop stop_;
    std::vector<std::thread> threads_;
};

}  // namespace qivpak
