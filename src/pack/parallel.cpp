#include "pack/parallel.h"

#include <algorithm>
#include <atomic>
#include <thread>
#include <vector>

namespace torv {

void parallel_for(std::size_t count, unsigned jobs, const std::function<void(std::size_t)>& work) {
    const auto threads_wanted = static_cast<std::size_t>(std::max(1u, jobs));
    const std::size_t helpers = std::min(threads_wanted, count) - (count > 0 ? 1 : 0);
    std::atomic<std::size_t> next{0};
    auto take_turns = [&] {
        for (std::size_t k = next++; k < count; k = next++) {
            work(k);
        }
    };
    std::vector<std::thread> threads;
    for (std::size_t t = 0; t < helpers; ++t) {
        threads.emplace_back(take_turns);
    }
    take_turns();
    for (std::thread& thread : threads) {
        thread.join();
    }
}

}  // namespace torv
