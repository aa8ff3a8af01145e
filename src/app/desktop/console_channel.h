#pragma once
// The input window as the dialogue sees it: a Console whose text goes to the
// window and whose lines come from the keyboard, handed between the dialogue
// thread and the GUI thread.
//
// Threads and locks (the line hand-off rule). One mutex, `lock_`, guards
// everything below. The GUI thread adds every line the user enters to the
// back of `lines_` (Submit), whether or not a question waits, so lines typed
// while the program computes are kept and read in order (type-ahead).
// ReadLine, on the dialogue thread, waits until `lines_` is not empty or the
// channel is closed; it takes the front line and appends its echo (the line
// and a line end) to the pending output in the same locked section, so the
// window shows every answer right after the prompt that read it. Write
// appends to the pending output under the lock. The GUI thread takes the
// pending output and the unread lines together (Take), so what it shows is
// one consistent state. A notice (the notifier) is sent when there is news
// and the previous notice has been answered by a Take, so the GUI's event
// queue holds at most one notice per channel; it is called without the lock.
// Close wakes a waiting ReadLine, which returns nullopt from then on.

#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <deque>
#include <functional>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

#include "app/desktop/pause_gate.h"
#include "dialogue/console.h"

namespace odefit {

class ConsoleChannel : public Console {
 public:
  // Output passes `gate` (State > Pause) before it is written.
  explicit ConsoleChannel(PauseGate& gate) : gate_(gate) {}

  // Sets the function that tells the GUI thread about news; it must not block.
  // Set it before the dialogue starts.
  void SetNotifier(std::function<void()> notify) { notify_ = std::move(notify); }

  // ---- Dialogue thread.
  void Write(std::string_view text) override;
  std::optional<std::string> ReadLine() override;
  // Clears the window's screen, in order with the text written before and after.
  void ClearScreen();

  // ---- GUI thread (or any other).
  // Adds a line the user entered (without its line end).
  void Submit(std::string line);

  struct News {
    std::string output;              // written (and echoed) since the last Take, UTF-8
    std::vector<std::string> unread; // lines entered and not read yet, oldest first
    bool reading = false;            // a question waits for a line
    bool asked = false;              // a read started since the last Take
  };
  // Takes the pending output and reports the unread lines.
  News Take();

  // Ends the input: a waiting and every later ReadLine returns nullopt.
  void Close();
  bool Closed() const;
  bool Reading() const;
  // Counts the writes, clears and reads so far: a request queued to the GUI
  // thread can tell whether the input window was used after it was made.
  std::uint64_t Activity() const { return activity_.load(); }

 private:
  // Sends a notice unless one is outstanding; called with `lock_` held, returns whether to send.
  bool NoticeDue();

  PauseGate& gate_;
  std::function<void()> notify_;
  mutable std::mutex lock_;
  std::condition_variable lineReady_;
  std::deque<std::string> lines_;
  std::string output_;
  bool noticeOutstanding_ = false;
  bool reading_ = false;
  bool asked_ = false;
  bool closed_ = false;
  std::atomic<std::uint64_t> activity_{0};
};

}  // namespace odefit
