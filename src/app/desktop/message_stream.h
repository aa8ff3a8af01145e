#pragma once
// The numerical error messages and the program's notes and warnings in the
// desktop: the output stream of the
// session's error reporter, which copies every message to standard error and
// hands it, whole, to the GUI (the Messages window). The reporter flushes the
// stream at the end of every message, so each flush delimits one message.
// Used by the dialogue thread only.

#include <functional>
#include <ostream>
#include <streambuf>
#include <string>
#include <string_view>

namespace odefit {

class MessageBuffer : public std::streambuf {
 public:
  // `copy` receives every message as written (standard error in the program);
  // `deliver` receives each whole message and must not block.
  MessageBuffer(std::ostream& copy, std::function<void(const std::string&)> deliver)
      : copy_(copy), deliver_(std::move(deliver)) {}

  // The text of the newest message with the program's notes that followed it
  // ("odefit: ..."), warnings ("odefit: warning: ...") left out: what a box
  // shows when the run stops. Empty before the first.
  const std::string& LastMessage() const { return last_; }

 protected:
  int_type overflow(int_type c) override;
  std::streamsize xsputn(const char* text, std::streamsize count) override;
  int sync() override;

 private:
  std::ostream& copy_;
  std::function<void(const std::string&)> deliver_;
  std::string pending_;
  std::string last_;
};

class MessageStream : public std::ostream {
 public:
  MessageStream(std::ostream& copy, std::function<void(const std::string&)> deliver)
      : std::ostream(nullptr), buffer_(copy, std::move(deliver)) {
    rdbuf(&buffer_);
  }
  const std::string& LastMessage() const { return buffer_.LastMessage(); }

 private:
  MessageBuffer buffer_;
};

}  // namespace odefit
