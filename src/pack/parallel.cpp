#include "pack/parallel.h"

#include <algorithm>
#include <atomic>
#include <exception>
#include <mutex>
#include <system_error>
#include <thread>
#include <vector>

namespace torv {

void parallel_for(std::size_t count, unsigned jobs, const std::function<void(std::size_t)>& work) {
    const auto threads_wanted = static_cast<std::size_t>(std::max(1u, jobs));
    const std::size_t helpers = std::min(threads_wanted, count) - (count > 0 ? 1 : 0);
    std::atomic<std::size_t> next{0};
    std::mutex failure_lock;
    std::exception_ptr failure;
    // A failure (no memory, say) stops the handing out of work and is thrown
    // again on the calling thread once every thread is done.
    auto take_turns = [&] {
        try {
            for (std::size_t k = next++; k < count; k = next++) {
                work(k);
            }
        } catch (...) {
            next = count;
            const std::lock_guard<std::mutex> hold(failure_lock);
            if (!failure) {
                failure = std::current_exception();
            }
        }
    };
    std::vector<std::thread> threads;
    for (std::size_t t = 0; t < helpers; ++t) {
        try {
            threads.emplace_back(take_turns);
        } catch (const std::system_error&) {
            break;  // no more threads to be had: the ones there do the work
        }
    }
    take_turns();
    for (std::thread& thread : threads) {
        thread.join();
    }
    if (failure) {
        std::rethrow_exception(failure);
    }
}

}  // namespace torv
