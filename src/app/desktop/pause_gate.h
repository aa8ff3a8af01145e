#pragma once
// State > Pause: the dialogue thread passes this gate before every output and
// every drawing notice, and waits in it while the user has paused the run.
// Closing the gate (the frame was closed) releases the thread for good: from
// then on Pass throws InputEnded, so the dialogue ends at its next output or
// drawing instead of computing on for a window nobody sees.

#include <condition_variable>
#include <mutex>

namespace odefit {

class PauseGate {
 public:
  // Dialogue thread: returns at once unless paused; waits while paused.
  // Throws InputEnded once the gate is closed.
  void Pass();

  // Any thread.
  void Pause();
  void Resume();
  void Close();
  bool Paused() const;
  bool Closed() const;
  // True while the dialogue thread waits in Pass.
  bool Holding() const;

 private:
  mutable std::mutex lock_;
  std::condition_variable changed_;
  bool paused_ = false;
  bool closed_ = false;
  bool holding_ = false;
};

}  // namespace odefit
