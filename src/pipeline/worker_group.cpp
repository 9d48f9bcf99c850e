// worker_group.cpp - starting worker threads, keeping those the system grants
#include "pipeline/worker_group.hpp"

#include <system_error>
#include <utility>

namespace qivpak {

WorkerGroup::WorkerGroup(unsigned count, Body body, Stop stop) : body_(std::move(body)), stop_(std::move(stop)) {
    try {
        threads_.reserve(count);
        for (unsigned w = 0; w < count; ++w) {
            try {
                threads_.emplace_back([this, w] { body_(w); });
            } catch (const std::system_error&) {
                break;  // refused: the threads already running are what there is
            }
        }
    } catch (...) {
        // No destructor runs for a constructor that throws: end the threads here.
        stop_and_join();
        throw;
    }
}

WorkerGroup::~WorkerGroup() { stop_and_join(); }

void WorkerGroup::stop_and_join() {
    stop_();
    for (std::thread& thread : threads_) thread.join();
}

}  // namespace qivpak
