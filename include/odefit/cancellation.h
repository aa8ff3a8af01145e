#pragma once
// Cooperative cancellation of long work (fits, efficiency tests, searches).
//
// The caller owns a CancellationToken and passes a pointer to it with the
// work's options; any thread may call Cancel(). Long loops poll the token at
// points where stopping leaves nothing half-written and then throw Cancelled,
// which unwinds like any other exception (the caller's outputs are then
// unspecified, its own state intact).

#include <atomic>
#include <stdexcept>

namespace odefit {

class Cancelled : public std::runtime_error {
 public:
  Cancelled() : std::runtime_error("cancelled") {}
};

class CancellationToken {
 public:
  // Asks the work that polls this token to stop; safe from any thread.
  void Cancel() noexcept { cancelled_.store(true, std::memory_order_relaxed); }
  bool IsCancelled() const noexcept { return cancelled_.load(std::memory_order_relaxed); }

 private:
  std::atomic<bool> cancelled_{false};
};

// Throws Cancelled when `token` is set and cancelled; a null token never cancels.
inline void ThrowIfCancelled(const CancellationToken* token) {
  if (token != nullptr && token->IsCancelled()) throw Cancelled();
}

}  // namespace odefit
