#pragma once
// Limits and helpers every piece of the search shares.

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstddef>
#include <limits>

#include "odefit/errors.h"
#include "odefit/search.h"

namespace odefit::search {

using Clock = std::chrono::steady_clock;

inline constexpr double kInfinity = std::numeric_limits<double>::infinity();
// Most prediction starts per candidate.
inline constexpr int kMaxStarts = 100;
// More threads than this gain nothing; the result is the same with any count.
inline constexpr int kMostThreads = 256;
// Limits beyond this many seconds (three years) are none: the clock could not add them.
inline constexpr double kLongestLimit = 1e8;

inline std::size_t Size(int n) { return static_cast<std::size_t>(n); }

// Whether the search should stop: cancelled (throws) or out of time.
class Deadline {
 public:
  Deadline(const SearchSettings& settings, Clock::time_point start)
      : cancel_(settings.cancel),
        stop_(settings.stop),
        end_(settings.timeLimit > 0 && settings.timeLimit < kLongestLimit
                 ? start + std::chrono::duration_cast<Clock::duration>(std::chrono::duration<double>(settings.timeLimit))
                 : Clock::time_point::max()) {}
  bool Passed() const {
    ThrowIfCancelled(cancel_);
    return Stopped() || Clock::now() >= end_;
  }
  bool Stopped() const { return stop_ != nullptr && stop_->IsCancelled(); }

 private:
  const CancellationToken* cancel_;
  const CancellationToken* stop_;
  Clock::time_point end_;
};

// The first sample of the held-out part.
inline int SplitSample(int n, double fraction) { return static_cast<int>(std::floor(n * (1.0 - fraction))); }

// The longest horizon a plan gives a series split at `split` with windows up to `widest`.
inline int LongestHorizon(int n, int split, int widest) { return std::max(1, (n - split - widest) / 2); }

}  // namespace odefit::search
