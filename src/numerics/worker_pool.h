#pragma once
// The one way the core runs work on several threads: plain std::threads
// started for one call and joined before it returns, the caller's thread
// among them. Nothing is kept between calls and no process-wide setting is
// touched, so any number of callers may run at once.

#include <algorithm>
#include <cstddef>
#include <exception>
#include <new>
#include <system_error>
#include <thread>
#include <vector>

namespace odefit {

// More threads than this only cost memory and system resources.
inline constexpr int kMostWorkers = 256;

// The workers a caller's thread setting means: `threads` (0: one per
// hardware thread), at least 1 and at most min(`most`, kMostWorkers).
inline int WorkerCount(int threads, int most = kMostWorkers) {
  const int hardware = static_cast<int>(std::max(1u, std::thread::hardware_concurrency()));
  return std::clamp(threads > 0 ? threads : hardware, 1, std::clamp(most, 1, kMostWorkers));
}

// Runs work(w) for w = 0 .. workers - 1, worker 0 on the caller's thread.
// Work should be handed out by the callee (say, from an atomic counter), so
// that when the system refuses a thread the ones started still do all of it.
// The first exception a worker throws is rethrown after every worker ended.
template <class Work>
void RunWorkers(int workers, Work&& work) {
  std::vector<std::exception_ptr> errors(static_cast<std::size_t>(std::max(workers, 1)));
  const auto guarded = [&](int w) {
    try {
      work(w);
    } catch (...) {
      errors[static_cast<std::size_t>(w)] = std::current_exception();
    }
  };
  std::vector<std::thread> pool;
  try {
    pool.reserve(static_cast<std::size_t>(std::max(workers - 1, 0)));
    for (int w = 1; w < workers; ++w) pool.emplace_back(guarded, w);
  } catch (const std::system_error&) {
  } catch (const std::bad_alloc&) {
  }
  guarded(0);
  for (std::thread& t : pool) t.join();
  for (const std::exception_ptr& e : errors) {
    if (e) std::rethrow_exception(e);
  }
}

}  // namespace odefit
