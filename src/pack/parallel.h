// Independent pieces of work on several threads.
#pragma once

#include <cstddef>
#include <functional>

namespace torv {

// Calls work(k) once for every k below `count`, on up to `jobs` threads (the
// calling one among them). Each piece must touch only what is its own.
void parallel_for(std::size_t count, unsigned jobs, const std::function<void(std::size_t)>& work);

}  // namespace torv
