#include "app/desktop/message_stream.h"

namespace odefit {

MessageBuffer::int_type MessageBuffer::overflow(int_type c) {
  if (!traits_type::eq_int_type(c, traits_type::eof())) pending_.push_back(traits_type::to_char_type(c));
  return traits_type::not_eof(c);
}

std::streamsize MessageBuffer::xsputn(const char* text, std::streamsize count) {
  pending_.append(text, static_cast<std::size_t>(count));
  return count;
}

int MessageBuffer::sync() {
  if (pending_.empty()) return 0;
  copy_ << pending_;
  copy_.flush();
  // A warning is no part of a stop; a note of the program's own explains the
  // message before it (the terms of a singular fit), so it joins that one.
  const std::string_view ours = "odefit: ", warning = "odefit: warning: ";
  const std::string_view text = pending_;
  if (text.substr(0, warning.size()) != warning) {
    if (text.substr(0, ours.size()) == ours && !last_.empty()) {
      last_ += pending_;
    } else {
      last_ = pending_;
    }
  }
  const std::string message = std::move(pending_);
  pending_.clear();
  if (deliver_) deliver_(message);
  return 0;
}

}  // namespace odefit
