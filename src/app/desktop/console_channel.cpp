#include "app/desktop/console_channel.h"

namespace odefit {

bool ConsoleChannel::NoticeDue() {
  if (noticeOutstanding_ || !notify_) return false;
  noticeOutstanding_ = true;
  return true;
}

void ConsoleChannel::Write(std::string_view text) {
  gate_.Pass();
  ++activity_;
  bool notify = false;
  {
    std::lock_guard guard(lock_);
    output_.append(text);
    notify = NoticeDue();
  }
  if (notify) notify_();
}

void ConsoleChannel::ClearScreen() {
  ++activity_;
  bool notify = false;
  {
    std::lock_guard guard(lock_);
    output_ += '\f';
    notify = NoticeDue();
  }
  if (notify) notify_();
}

std::optional<std::string> ConsoleChannel::ReadLine() {
  std::unique_lock guard(lock_);
  if (closed_) return std::nullopt;
  ++activity_;
  reading_ = true;
  asked_ = true;
  if (NoticeDue()) {
    guard.unlock();
    notify_();
    guard.lock();
  }
  lineReady_.wait(guard, [this] { return !lines_.empty() || closed_; });
  reading_ = false;
  if (closed_) return std::nullopt;
  std::string line = std::move(lines_.front());
  lines_.pop_front();
  output_ += line;
  output_ += '\n';
  const bool notify = NoticeDue();
  guard.unlock();
  if (notify) notify_();
  return line;
}

void ConsoleChannel::Submit(std::string line) {
  {
    std::lock_guard guard(lock_);
    lines_.push_back(std::move(line));
  }
  lineReady_.notify_one();
}

ConsoleChannel::News ConsoleChannel::Take() {
  std::lock_guard guard(lock_);
  News news;
  news.output = std::move(output_);
  output_.clear();
  news.unread.assign(lines_.begin(), lines_.end());
  news.reading = reading_;
  news.asked = asked_;
  asked_ = false;
  noticeOutstanding_ = false;
  return news;
}

void ConsoleChannel::Close() {
  {
    std::lock_guard guard(lock_);
    closed_ = true;
  }
  lineReady_.notify_all();
}

bool ConsoleChannel::Closed() const {
  std::lock_guard guard(lock_);
  return closed_;
}

bool ConsoleChannel::Reading() const {
  std::lock_guard guard(lock_);
  return reading_;
}

}  // namespace odefit
