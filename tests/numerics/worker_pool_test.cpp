// The one worker pool: every share of the work done whatever the count, the
// caller's thread among the workers, a worker's exception reaching the caller
// only after all have ended.

#include "numerics/worker_pool.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <stdexcept>
#include <thread>
#include <vector>

namespace odefit {
namespace {

TEST(WorkerPool, EveryTaskIsDoneOnceWithTheCallerAsWorkerZero) {
  for (const int workers : {1, 2, 7}) {
    SCOPED_TRACE(workers);
    std::vector<std::atomic<int>> done(100);
    std::atomic<int> next{0};
    std::thread::id first;
    RunWorkers(workers, [&](int w) {
      if (w == 0) first = std::this_thread::get_id();
      for (int k = next++; k < 100; k = next++) ++done[static_cast<std::size_t>(k)];
    });
    EXPECT_EQ(first, std::this_thread::get_id());
    for (const auto& d : done) EXPECT_EQ(d.load(), 1);
  }
}

TEST(WorkerPool, AWorkersExceptionReachesTheCallerAfterTheOthersEnded) {
  std::atomic<int> ended{0};
  EXPECT_THROW(RunWorkers(4,
                          [&](int w) {
                            if (w == 2) throw std::runtime_error("worker 2");
                            std::this_thread::sleep_for(std::chrono::milliseconds(20));
                            ++ended;
                          }),
               std::runtime_error);
  EXPECT_EQ(ended.load(), 3);
}

TEST(WorkerPool, CountsComeFromTheCallerWithinTheirBounds) {
  EXPECT_EQ(WorkerCount(3), 3);
  EXPECT_EQ(WorkerCount(3, 2), 2);
  EXPECT_EQ(WorkerCount(100000), kMostWorkers);
  EXPECT_GE(WorkerCount(0), 1);  // one per hardware thread
  EXPECT_EQ(WorkerCount(-5, 0), 1);
}

}  // namespace
}  // namespace odefit
