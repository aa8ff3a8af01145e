#pragma once
// A progress line on standard error for long work, shown only when standard
// error is a terminal: what is being done and the seconds it has taken,
// from the first second on, updated every second and erased when the work
// ends. When the system cannot start its thread, no line is shown.

#include <condition_variable>
#include <cstdio>
#include <mutex>
#include <string>
#include <thread>

namespace odefit::cli {

class Progress {
 public:
  // Shows "odefit: <what>" until the object is destroyed (nothing when
  // standard error is not a terminal).
  explicit Progress(std::string what);
  // Shows it on `out`, whatever that is.
  Progress(std::string what, std::FILE* out);
  ~Progress();
  // Replaces the text shown from the next update on.
  void Update(std::string what);
  Progress(const Progress&) = delete;
  Progress& operator=(const Progress&) = delete;

 private:
  void Start();
  void Run();

  std::FILE* out_;
  std::string what_;
  std::mutex mutex_;
  std::condition_variable wake_;
  bool done_ = false;
  std::thread thread_;
};

}  // namespace odefit::cli
