#include "cli/Jobs.h"

#include <algorithm>
#include <atomic>
#include <thread>

unsigned DefaultWorkers()
{
    return std::max(1u, std::thread::hardware_concurrency());
}

std::vector<std::exception_ptr> RunJobs(size_t Count, unsigned Workers,
                                        const std::function<void(size_t)>& Work)
{
    std::vector<std::exception_ptr> Errors(Count);
    std::atomic<size_t> Next{0};
    // Each worker takes the next job that nobody has taken yet.
    auto Worker = [&] {
        for (size_t i = Next++; i < Count; i = Next++) {
            try {
                Work(i);
            } catch (...) {
                Errors[i] = std::current_exception();
            }
        }
    };

    const size_t Threads = std::min<size_t>(std::max(1u, Workers), Count);
    if (Threads <= 1) {
        Worker();
        return Errors;
    }
    std::vector<std::jthread> Pool;
    Pool.reserve(Threads);
    for (size_t t = 0; t < Threads; ++t)
        Pool.emplace_back(Worker);
    Pool.clear();  // joins
    return Errors;
}
