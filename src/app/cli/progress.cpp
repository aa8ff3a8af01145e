#include "app/cli/progress.h"

#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <system_error>

namespace odefit::cli {

Progress::Progress(std::string what) : out_(stderr), what_(std::move(what)) {
  if (isatty(STDERR_FILENO) == 1) Start();
}

Progress::Progress(std::string what, std::FILE* out) : out_(out), what_(std::move(what)) { Start(); }

void Progress::Start() {
  // A thread the system refuses (a process or memory limit) only costs the line.
  try {
    thread_ = std::thread([this] { Run(); });
  } catch (const std::system_error&) {
  }
}

Progress::~Progress() {
  if (!thread_.joinable()) return;
  {
    std::lock_guard<std::mutex> lock(mutex_);
    done_ = true;
  }
  wake_.notify_one();
  thread_.join();
}

void Progress::Update(std::string what) {
  const std::lock_guard<std::mutex> lock(mutex_);
  what_ = std::move(what);
}

void Progress::Run() {
  const auto start = std::chrono::steady_clock::now();
  std::unique_lock<std::mutex> lock(mutex_);
  // Work done within a second shows nothing, so quick runs do not flicker.
  int seconds = 1;
  for (; !wake_.wait_until(lock, start + std::chrono::seconds(seconds), [this] { return done_; }); ++seconds) {
    // \r and "erase to the end of the line" redraw the one line in place.
    std::fprintf(out_, "\rodefit: %s (%d s)\033[K", what_.c_str(), seconds);
    std::fflush(out_);
  }
  if (seconds > 1) {
    std::fprintf(out_, "\r\033[K");
    std::fflush(out_);
  }
}

}  // namespace odefit::cli
