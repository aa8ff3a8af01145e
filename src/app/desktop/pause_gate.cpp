#include "app/desktop/pause_gate.h"

#include "dialogue/console.h"

namespace odefit {

void PauseGate::Pass() {
  std::unique_lock guard(lock_);
  if (paused_ && !closed_) {
    holding_ = true;
    changed_.wait(guard, [this] { return !paused_ || closed_; });
    holding_ = false;
  }
  if (closed_) throw InputEnded();
}

void PauseGate::Pause() {
  std::lock_guard guard(lock_);
  paused_ = true;
}

void PauseGate::Resume() {
  {
    std::lock_guard guard(lock_);
    paused_ = false;
  }
  changed_.notify_all();
}

void PauseGate::Close() {
  {
    std::lock_guard guard(lock_);
    closed_ = true;
  }
  changed_.notify_all();
}

bool PauseGate::Paused() const {
  std::lock_guard guard(lock_);
  return paused_;
}

bool PauseGate::Closed() const {
  std::lock_guard guard(lock_);
  return closed_;
}

bool PauseGate::Holding() const {
  std::lock_guard guard(lock_);
  return holding_;
}

}  // namespace odefit
